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
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "text/utf.h"

namespace fs = std::filesystem;

namespace e2e {

WString Widen(const std::string &utf8) { return vfb::utf::FromUtf8<VFB_WCHAR>(utf8); }

std::string Narrow(const VFB_WCHAR *text) {
    return text ? vfb::utf::ToUtf8(std::basic_string_view<VFB_WCHAR>(text)) : std::string();
}

namespace {

using Args = const VFB_WCHAR *const *;
struct Glue {
    int arguments;
    int (*call)(Args a);
};
// In ordinal order; the names come from the header.
const Glue kGlue[] = {
    {2, [](Args a) { return FaceBookToken(a[0], a[1]); }},
    {5, [](Args a) { return FaceBookStatus(a[0], a[1], a[2], a[3], a[4]); }},
    {5, [](Args a) { return FaceBookNotes(a[0], a[1], a[2], a[3], a[4]); }},
    {5, [](Args a) { return FaceBookCheckIn(a[0], a[1], a[2], a[3], a[4]); }},
    {5, [](Args a) { return FaceBookEvents(a[0], a[1], a[2], a[3], a[4]); }},
    {6, [](Args a) { return FaceBookNotesEdit(a[0], a[1], a[2], a[3], a[4], a[5]); }},
    {4, [](Args a) { return FaceBookNotesView(a[0], a[1], a[2], a[3]); }},
    {4, [](Args a) { return FaceBookNotesDelete(a[0], a[1], a[2], a[3]); }},
    {5, [](Args a) { return FaceBookPictureUpload(a[0], a[1], a[2], a[3], a[4]); }},
    {5, [](Args a) { return FaceBookVideoUpload(a[0], a[1], a[2], a[3], a[4]); }},
    {0, nullptr},  // FaceBookTokenGraph returns text
    {5, [](Args a) { return FaceBookDelete(a[0], a[1], a[2], a[3], a[4]); }},
};
constexpr int kTokenGraph = 11;

int OrdinalOf(const std::string &fn) {
    for (int ordinal = 1; ordinal <= 12; ++ordinal)
        if (fn == vfb_export_name(ordinal)) return ordinal;
    return 0;
}

}  // namespace

int ExportArguments(const std::string &fn) {
    const int ordinal = OrdinalOf(fn);
    return ordinal ? kGlue[ordinal - 1].arguments : -1;
}

bool CallExport(const std::string &fn, const std::vector<const VFB_WCHAR *> &args, int *code,
                std::string *location) {
    const int ordinal = OrdinalOf(fn);
    if (!ordinal || static_cast<int>(args.size()) != kGlue[ordinal - 1].arguments) return false;
    if (ordinal == kTokenGraph)
        *location = Narrow(FaceBookTokenGraph());
    else
        *code = kGlue[ordinal - 1].call(args.data());
    return true;
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

bool CanOpenForReading(const std::string &linuxPath) {
#if defined(_WIN32)
    HANDLE h = CreateFileW(PathOf(linuxPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
#else
    int fd = ::open(linuxPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool shared = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return shared;
#endif
}

long long FileSize(const std::string &linuxPath) {
#if defined(_WIN32)
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(PathOf(linuxPath).c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
                                  data.nFileSizeLow);
#else
    struct stat st;
    return ::stat(linuxPath.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
#endif
}

bool ResizeFile(const std::string &linuxPath, unsigned long long size) {
    std::error_code ec;
    fs::resize_file(PathOf(linuxPath), static_cast<std::uintmax_t>(size), ec);
    return !ec;
}

int CachedHandleAllowance(int callsAtOnce) {
#if defined(_WIN32)
    (void)callsAtOnce;
    return 2;
#else
    // The connection pool keeps as many idle multi handles as calls ran at
    // once (4 to 32), each with its wake-up socket pair and at most 2 idle
    // connections.
    return std::clamp(callsAtOnce, 4, 32) * (2 + 2);
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
