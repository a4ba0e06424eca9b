// Write buffering shared by the file layers. Streamed capture hands over 512
// or 4095 bytes at a time; collecting them saves a system call per chunk,
// which costs more than the copy (far more on a device's flash file system).
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace vfb {

class WriteBuffer {
public:
    static constexpr std::size_t kSize = 64 * 1024;

    // `writeAll(bytes, size)` writes every byte or fails; it receives the
    // collected bytes, or large writes directly.
    template <typename WriteAll>
    bool Write(const unsigned char *bytes, std::size_t size, WriteAll &&writeAll) {
        if (size == 0) return true;
        if (pending_ + size > kSize && !Flush(writeAll)) return false;
        if (size >= kSize) return writeAll(bytes, size);
        // Without memory for a buffer the file is written through.
        if (!buffer_) buffer_.reset(new (std::nothrow) unsigned char[kSize]);
        if (!buffer_) return writeAll(bytes, size);
        std::memcpy(buffer_.get() + pending_, bytes, size);
        pending_ += size;
        return true;
    }

    template <typename WriteAll>
    bool Flush(WriteAll &&writeAll) {
        if (pending_ == 0) return true;
        const std::size_t size = pending_;
        pending_ = 0;
        return writeAll(buffer_.get(), size);
    }

    bool empty() const { return pending_ == 0; }

private:
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t pending_ = 0;
};

}  // namespace vfb
