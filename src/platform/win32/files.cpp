// vfb::FileSystem over the Win32 file calls that Windows CE's coredll also
// provides: wide CreateFileW, ReadFile, WriteFile, GetFileSize and
// CloseHandle. No C runtime file I/O, which CE lacks in this form.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <new>

#include "platform/platform.h"
#include "platform/write_buffer.h"

namespace vfb {

std::unique_ptr<FileSystem> MakeWin32FileSystem();

namespace {

class Win32File final : public File {
    // Every byte or failure; the write buffer's way to the file. Defined
    // first because its type is deduced.
    auto WriteAllTo() {
        return [handle = handle_](const unsigned char *bytes, std::size_t size) {
            while (size > 0) {
                DWORD written = 0;
                const DWORD ask = static_cast<DWORD>(size);
                if (!WriteFile(handle, bytes, ask, &written, nullptr) || written == 0 || written > ask)
                    return false;
                bytes += written;
                size -= written;
            }
            return true;
        };
    }

public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}

    ~Win32File() override {
        Flush();
        CloseHandle(handle_);
    }

    Win32File(const Win32File &) = delete;
    Win32File &operator=(const Win32File &) = delete;

    bool Write(const void *data, std::uint32_t size) override {
        if (size != 0 && !data) return false;
        return written_.Write(static_cast<const unsigned char *>(data), size, WriteAllTo());
    }

    bool Read(void *buffer, std::uint32_t size, std::uint32_t *read) override {
        if (read) *read = 0;
        if (!read || (!buffer && size != 0)) return false;
        // Bytes still held here belong before whatever the read returns.
        if (!Flush()) return false;
        // The buffer is filled whole unless the file ends first, as the POSIX
        // layer does: an upload takes a short read for the end of a file that
        // changed size. A failure after some bytes returns those bytes; the
        // next call meets the failure again and reports it.
        auto *out = static_cast<unsigned char *>(buffer);
        std::uint32_t done = 0;
        while (done < size) {
            DWORD count = 0;
            if (!ReadFile(handle_, out + done, size - done, &count, nullptr) || count > size - done) {
                *read = done;
                return done > 0;
            }
            if (count == 0) break;
            done += count;
        }
        *read = done;
        return true;
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
    bool Flush() { return written_.Flush(WriteAllTo()); }

    HANDLE handle_;
    WriteBuffer written_;
};

struct OpenParameters {
    DWORD access;
    DWORD sharing;
    DWORD creation;
};

OpenParameters ParametersOf(FileMode mode) {
    switch (mode) {
        case FileMode::kCreateExclusive:
        // Windows CE has no symbolic links; on desktop Windows making one
        // takes a privilege an application's neighbours do not have.
        case FileMode::kCreateExclusiveNoFollow:
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

}  // namespace

std::unique_ptr<FileSystem> MakeWin32FileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace vfb
