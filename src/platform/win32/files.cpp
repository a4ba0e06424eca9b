// vfb::FileSystem over the Win32 file calls that Windows CE's coredll also
// provides: wide CreateFileW, ReadFile, WriteFile, GetFileSize and
// CloseHandle. No C runtime file I/O, which CE lacks in this form.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/write_buffer.h"
#include "text/utf.h"

namespace vfb {

std::unique_ptr<FileSystem> MakeWin32FileSystem();

namespace {

class Win32File final : public File {
    // Every byte or failure; the write buffer's way to the file. Defined
    // first because its type is deduced.
    auto WriteAllTo() {
        return [handle = handle_, lastError = lastError_](const unsigned char *bytes, std::size_t size) {
            while (size > 0) {
                DWORD written = 0;
                const DWORD ask = static_cast<DWORD>(size);
                if (!WriteFile(handle, bytes, ask, &written, nullptr) || written == 0 || written > ask) {
                    const DWORD error = GetLastError();
                    *lastError = error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
                    return false;
                }
                bytes += written;
                size -= written;
            }
            return true;
        };
    }

public:
    // `lastError` is the file system's record of this call's last failure.
    Win32File(HANDLE handle, DWORD *lastError) : handle_(handle), lastError_(lastError) {}

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

    bool Flush() override { return written_.Flush(WriteAllTo()); }

private:
    HANDLE handle_;
    DWORD *lastError_;
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

// The file system lives for one call on one thread, so its own member is
// that thread's last error: no thread-local storage, which DLLs loaded at
// run time cannot rely on before Vista, nor on CE.
class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<File> Open(const WChar *path, FileMode mode) override {
        if (!path || path[0] == 0) return nullptr;
        const OpenParameters p = ParametersOf(mode);
        const HANDLE handle =
            CreateFileW(path, p.access, p.sharing, nullptr, p.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            lastError_ = GetLastError();
            return nullptr;
        }
        std::unique_ptr<File> file(new (std::nothrow) Win32File(handle, &lastError_));
        if (!file) {
            lastError_ = ERROR_NOT_ENOUGH_MEMORY;
            CloseHandle(handle);
        }
        return file;
    }

    int LastError() const override { return static_cast<int>(lastError_); }

    std::string DescribeError(int error) const override {
        WCHAR text[512];
        const DWORD units =
            FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(error), 0, text, sizeof text / sizeof text[0], nullptr);
        if (units == 0) return "error " + std::to_string(error);
        // The system's texts end in a period and CR LF, and some span lines:
        // the detail's message is one line.
        std::string line = utf::ToUtf8(std::basic_string_view<WCHAR>(text, units));
        for (char &c : line)
            if (c == '\r' || c == '\n') c = ' ';
        const std::size_t end = line.find_last_not_of(" .");
        line.resize(end == std::string::npos ? 0 : end + 1);
        return line.empty() ? "error " + std::to_string(error) : line;
    }

private:
    DWORD lastError_ = ERROR_SUCCESS;
};

}  // namespace

std::unique_ptr<FileSystem> MakeWin32FileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace vfb
