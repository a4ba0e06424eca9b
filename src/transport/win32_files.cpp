// vfb::FileSystem and vfb::Clock over the Win32 file and time calls that
// Windows CE's coredll also provides: wide CreateFileW, ReadFile, WriteFile,
// GetFileSize, CloseHandle and GetLocalTime. No C runtime file I/O, which CE
// lacks in this form.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "transport/files.h"

namespace vfb {

std::unique_ptr<FileSystem> MakeWin32FileSystem();
std::unique_ptr<Clock> MakeWin32Clock();

namespace {

// Streamed capture hands over 512 or 4095 bytes at a time; collecting them
// saves a system call per chunk, which on a device's flash file system costs
// far more than the copy.
constexpr std::uint32_t kWriteBufferSize = 64 * 1024;

class Win32File final : public File {
public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}

    ~Win32File() override {
        Flush();
        CloseHandle(handle_);
    }

    Win32File(const Win32File &) = delete;
    Win32File &operator=(const Win32File &) = delete;

    bool Write(const void *data, std::uint32_t size) override {
        if (size == 0) return true;
        if (!data) return false;
        const unsigned char *bytes = static_cast<const unsigned char *>(data);
        if (!buffer_ && size < kWriteBufferSize) {
            // Without memory for a buffer the file is written through.
            buffer_.reset(new (std::nothrow) unsigned char[kWriteBufferSize]);
        }
        if (!buffer_) return WriteThrough(bytes, size);
        if (size > kWriteBufferSize - pending_) {
            if (!Flush()) return false;
            if (size >= kWriteBufferSize) return WriteThrough(bytes, size);
        }
        std::memcpy(buffer_.get() + pending_, bytes, size);
        pending_ += size;
        return true;
    }

    bool Read(void *buffer, std::uint32_t size, std::uint32_t *read) override {
        if (read) *read = 0;
        if (!read || (!buffer && size != 0)) return false;
        // Bytes still held here belong before whatever the read returns.
        if (!Flush()) return false;
        DWORD count = 0;
        const BOOL ok = ReadFile(handle_, buffer, size, &count, nullptr);
        *read = count;
        return ok != FALSE;
    }

    bool Size32(std::uint32_t *size) override {
        if (!size) return false;
        if (!Flush()) return false;
        DWORD high = 0;
        // INVALID_FILE_SIZE is also the low word of a valid size; only the
        // last error tells a failure apart.
        SetLastError(NO_ERROR);
        const DWORD low = GetFileSize(handle_, &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
        if (high != 0) return false;
        *size = low;
        return true;
    }

private:
    bool Flush() {
        if (pending_ == 0) return true;
        const std::uint32_t size = pending_;
        pending_ = 0;
        return WriteThrough(buffer_.get(), size);
    }

    bool WriteThrough(const unsigned char *bytes, std::uint32_t size) {
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(handle_, bytes, size, &written, nullptr) || written == 0 || written > size)
                return false;
            bytes += written;
            size -= written;
        }
        return true;
    }

    HANDLE handle_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::uint32_t pending_ = 0;
};

struct OpenParameters {
    DWORD access;
    DWORD sharing;
    DWORD creation;
};

OpenParameters ParametersOf(FileMode mode) {
    switch (mode) {
        case FileMode::kCreateExclusive:
            return {GENERIC_WRITE, 0, CREATE_ALWAYS};
        case FileMode::kCreateShared:
            return {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS};
        case FileMode::kOpenForReading:
            break;
    }
    return {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING};
}

class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<File> Open(const WChar *path, FileMode mode) override {
        if (!path || path[0] == 0) return nullptr;
        const OpenParameters p = ParametersOf(mode);
        const HANDLE handle =
            CreateFileW(path, p.access, p.sharing, nullptr, p.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        std::unique_ptr<File> file(new (std::nothrow) Win32File(handle));
        if (!file) CloseHandle(handle);
        return file;
    }
};

class Win32Clock final : public Clock {
public:
    LocalTime Now() override {
        SYSTEMTIME t;
        GetLocalTime(&t);
        return LocalTime{t.wYear, t.wMonth,  t.wDayOfWeek, t.wDay,
                         t.wHour, t.wMinute, t.wSecond,    t.wMilliseconds};
    }
};

}  // namespace

std::unique_ptr<FileSystem> MakeWin32FileSystem() { return std::make_unique<Win32FileSystem>(); }
std::unique_ptr<Clock> MakeWin32Clock() { return std::make_unique<Win32Clock>(); }

}  // namespace vfb
