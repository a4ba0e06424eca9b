#include "portable.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace e2e {

WString Widen(const std::string &utf8) {
    WString out;
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp;
        std::size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c >> 5) == 6) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c >> 4) == 14) {
            cp = c & 0x0F;
            n = 3;
        } else {
            cp = c & 0x07;
            n = 4;
        }
        for (std::size_t k = 1; k < n && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<VFB_WCHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<VFB_WCHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<VFB_WCHAR>(cp));
        }
    }
    return out;
}

void AppendUtf8(std::string &out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Narrow(const VFB_WCHAR *text) {
    std::string out;
    if (!text) return out;
    for (std::size_t i = 0; text[i]; ++i) {
        std::uint32_t cp = static_cast<std::uint16_t>(text[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint16_t>(text[i + 1]) - 0xDC00);
            ++i;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string NativePath(const std::string &linuxPath) {
#if defined(_WIN32)
    std::string p = linuxPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return (!p.empty() && p[0] == '\\') ? "Z:" + p : p;
#else
    return linuxPath;
#endif
}

static fs::path PathOf(const std::string &linuxPath) {
#if defined(_WIN32)
    return fs::path(Widen(NativePath(linuxPath)).c_str());
#else
    return fs::path(linuxPath);
#endif
}

#if defined(_WIN32)
// Wine's GetProcessHandleCount is a stub that reports no handles at all; the
// system's handle table, which Wine does keep, still tells this process's
// handles apart by owner.
static int CountHandlesInSystemTable() {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);
    const ULONG kSystemHandleInformation = 16;
    const LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll ? reinterpret_cast<Query>(
                             reinterpret_cast<void *>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                       : nullptr;
    if (!query) return -1;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        LONG status =
            query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kLengthMismatch && buffer.size() < (64u << 20)) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status < 0) return -1;
        const auto *table = reinterpret_cast<const Table *>(buffer.data());
        const ULONG self = GetCurrentProcessId();
        int n = 0;
        for (ULONG i = 0; i < table->count; ++i)
            if (table->entries[i].ownerPid == self) ++n;
        return n;
    }
}
#endif

int CountOpenHandles() {
#if defined(_WIN32)
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return -1;
    return count > 0 ? static_cast<int>(count) : CountHandlesInSystemTable();
#else
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++n;
    return ec ? -1 : n;
#endif
}

std::string GetEnv(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

bool FileExists(const std::string &p) {
    std::error_code ec;
    return fs::is_regular_file(PathOf(p), ec);
}

bool DirExists(const std::string &p) {
    std::error_code ec;
    return fs::is_directory(PathOf(p), ec);
}

bool ReadFile(const std::string &p, std::string *bytes) {
    std::ifstream in(PathOf(p), std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const std::string &p, const std::string &bytes) {
    std::ofstream out(PathOf(p), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

bool RenameReplace(const std::string &from, const std::string &to) {
#if defined(_WIN32)
    return MoveFileExW(PathOf(from).c_str(), PathOf(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    std::error_code ec;
    fs::rename(PathOf(from), PathOf(to), ec);
    return !ec;
#endif
}

bool RemoveFile(const std::string &p) {
    std::error_code ec;
    return fs::remove(PathOf(p), ec);
}

bool MakeDirs(const std::string &p) {
    std::error_code ec;
    fs::create_directories(PathOf(p), ec);
    return DirExists(p);
}

bool RemoveDir(const std::string &p) {
    std::error_code ec;
    return fs::remove(PathOf(p), ec) && !ec;
}

bool RemoveTree(const std::string &p) {
    std::error_code ec;
    fs::remove_all(PathOf(p), ec);
    return !ec;
}

std::vector<std::string> ListDir(const std::string &p) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(PathOf(p), ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

unsigned long ProcessId() {
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

#if !defined(_WIN32)
std::string KnownLimitation(const std::string &) { return ""; }
#endif

// ------------------------------------------------------------------ faults

ExclusiveHold &ExclusiveHold::operator=(ExclusiveHold &&other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

void ExclusiveHold::Release() {
    if (handle_ == -1) return;
#if defined(_WIN32)
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
    ::close(static_cast<int>(handle_));  // drops the lock with the descriptor
#endif
    handle_ = -1;
}

ExclusiveHold HoldFileExclusively(const std::string &linuxPath) {
#if defined(_WIN32)
    HANDLE h = CreateFileW(PathOf(linuxPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ExclusiveHold();
    return ExclusiveHold(reinterpret_cast<std::intptr_t>(h));
#else
    int fd = ::open(linuxPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return ExclusiveHold();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return ExclusiveHold();
    }
    return ExclusiveHold(fd);
#endif
}

bool ResizeFile(const std::string &linuxPath, unsigned long long size) {
    std::error_code ec;
    fs::resize_file(PathOf(linuxPath), static_cast<std::uintmax_t>(size), ec);
    return !ec;
}

int CachedHandleAllowance() {
#if defined(_WIN32)
    return 2;
#else
    return 0;
#endif
}

long long PeakResidentKiB() {
#if defined(_WIN32)
    return -1;
#else
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmHWM:") == 0) return std::atoll(line.c_str() + 6);
    return -1;
#endif
}

bool ResetPeakResident() {
#if defined(_WIN32)
    return false;
#else
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
#endif
}

}  // namespace e2e
