#include "platform/posix/files.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "platform/write_buffer.h"
#include "text/text.h"

namespace vfb {

namespace {

// Uploads read their media in 1 KiB chunks; one system call per chunk cost
// more than the encryption of the whole body.
constexpr std::size_t kReadBuffer = 64 * 1024;

class PosixFile;

// The files the library has open, so that a forked child closes its copies:
// a copy would keep the parent's lock (flock belongs to the open file, not
// the process) for as long as the child lives, and no later call could
// replace that file. Plain data: it must outlive static destruction.
struct OpenFiles {
    std::mutex mutex;
    PosixFile *first = nullptr;
    bool forkHandler = false;
};
static_assert(std::is_trivially_destructible<OpenFiles>::value, "used during static destruction");
OpenFiles openFiles;

thread_local int lastError = 0;

class PosixFile final : public File {
    // Every byte or failure; the write buffer's way to the file. Defined
    // first because its type is deduced.
    auto WriteAllTo() {
        return [fd = fd_](const unsigned char *bytes, std::size_t size) {
            while (size > 0) {
                ssize_t n = ::write(fd, bytes, size);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    lastError = errno;
                    return false;
                }
                bytes += n;
                size -= static_cast<std::size_t>(n);
            }
            return true;
        };
    }

public:
    explicit PosixFile(int fd) : fd_(fd) {
        std::lock_guard<std::mutex> lock(openFiles.mutex);
        if (!openFiles.forkHandler)
            openFiles.forkHandler = ::pthread_atfork([] { openFiles.mutex.lock(); },
                                                     [] { openFiles.mutex.unlock(); }, &CloseCopies) == 0;
        next_ = openFiles.first;
        if (next_) next_->previous_ = this;
        openFiles.first = this;
    }
    ~PosixFile() override {
        Flush();
        {
            std::lock_guard<std::mutex> lock(openFiles.mutex);
            (previous_ ? previous_->next_ : openFiles.first) = next_;
            if (next_) next_->previous_ = previous_;
        }
        ::close(fd_);
    }
    PosixFile(const PosixFile &) = delete;
    PosixFile &operator=(const PosixFile &) = delete;

    bool Write(const void *data, std::uint32_t size) override {
        // Bytes read ahead but not handed out were never consumed: the write
        // goes where the caller's reads have reached.
        if (!DropReadAhead()) return false;
        return written_.Write(static_cast<const unsigned char *>(data), size, WriteAllTo());
    }

    // Fills the caller's buffer whole unless the file ends (or fails) first,
    // as a single read of a regular file does.
    bool Read(void *buffer, std::uint32_t size, std::uint32_t *read) override {
        *read = 0;
        if (!Flush()) return false;
        auto *out = static_cast<unsigned char *>(buffer);
        std::size_t done = 0;
        while (done < size) {
            if (readStart_ == readEnd_) {
                const std::size_t want = size - done;
                // Large reads need no staging; small ones refill the buffer.
                if (want >= kReadBuffer) {
                    ssize_t n = ReadSome(out + done, want);
                    if (n < 0) return Partial(done, read);
                    if (n == 0) break;
                    done += static_cast<std::size_t>(n);
                    continue;
                }
                if (!readBuffer_) readBuffer_.reset(new unsigned char[kReadBuffer]);
                ssize_t n = ReadSome(readBuffer_.get(), kReadBuffer);
                if (n < 0) return Partial(done, read);
                if (n == 0) break;
                readStart_ = 0;
                readEnd_ = static_cast<std::size_t>(n);
            }
            const std::size_t n = std::min<std::size_t>(size - done, readEnd_ - readStart_);
            std::memcpy(out + done, readBuffer_.get() + readStart_, n);
            readStart_ += n;
            done += n;
        }
        *read = static_cast<std::uint32_t>(done);
        return true;
    }

    bool Flush() override { return written_.Flush(WriteAllTo()); }

    bool Size32(std::uint32_t *size) override {
        struct stat st;
        if (::fstat(fd_, &st) != 0 || st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > UINT32_MAX)
            return false;
        *size = static_cast<std::uint32_t>(st.st_size);
        return true;
    }

private:
    // In the child, after fork: the threads using these files are gone.
    static void CloseCopies() {
        for (PosixFile *f = openFiles.first; f; f = f->next_) ::close(f->fd_);
        openFiles.first = nullptr;
        openFiles.mutex.unlock();
    }

    // A failure after some bytes were read returns those bytes; the next
    // call meets the failure again and reports it.
    static bool Partial(std::size_t done, std::uint32_t *read) {
        *read = static_cast<std::uint32_t>(done);
        return done > 0;
    }

    ssize_t ReadSome(unsigned char *into, std::size_t size) {
        for (;;) {
            ssize_t n = ::read(fd_, into, size);
            if (n >= 0 || errno != EINTR) return n;
        }
    }

    bool DropReadAhead() {
        if (readStart_ == readEnd_) return true;
        const off_t unread = static_cast<off_t>(readEnd_ - readStart_);
        readStart_ = readEnd_ = 0;
        return ::lseek(fd_, -unread, SEEK_CUR) != -1;
    }

    int fd_;
    WriteBuffer written_;
    std::unique_ptr<unsigned char[]> readBuffer_;
    std::size_t readStart_ = 0, readEnd_ = 0;
    PosixFile *previous_ = nullptr, *next_ = nullptr;
};

}  // namespace

std::unique_ptr<File> PosixFileSystem::Open(const WChar *path, FileMode mode) {
    const std::string name = NarrowText(path);
    // An embedded NUL would silently name another file.
    if (name.empty() || name.find('\0') != std::string::npos) return nullptr;
    // Non-blocking so that a FIFO cannot stall the open; it is refused below.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int lock = LOCK_EX;
    switch (mode) {
        case FileMode::kCreateExclusiveNoFollow:
            flags |= O_NOFOLLOW;
            [[fallthrough]];
        case FileMode::kCreateExclusive:
            flags |= O_WRONLY | O_CREAT;
            break;
        case FileMode::kCreateShared:
            flags |= O_RDWR | O_CREAT;
            lock = LOCK_SH;
            break;
        case FileMode::kOpenForReading:
            flags |= O_RDONLY;
            lock = LOCK_SH;
            break;
    }
    int fd = ::open(name.c_str(), flags, 0666);
    if (fd < 0) {
        lastError = errno;
        return nullptr;
    }
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular || ::flock(fd, lock | LOCK_NB) != 0 ||
        (mode != FileMode::kOpenForReading && ::ftruncate(fd, 0) != 0)) {
        // A lock another holds reads as "would block"; say what it means.
        lastError = !regular ? EINVAL : errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
}

int PosixFileSystem::LastError() const { return lastError; }

std::string PosixFileSystem::DescribeError(int error) const {
    char text[256];
    // The GNU strerror_r returns its text, which need not be in the buffer.
    return ::strerror_r(error, text, sizeof text);
}

}  // namespace vfb
