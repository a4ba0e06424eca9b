#include "http/capture.h"

namespace vfb {

BufferedOutcome ReadBuffered(Internet &internet, InternetHandle request, ResponseBuffer &buffer) {
    buffer.total = 0;
    for (;;) {
        std::uint32_t read = 0;
        if (!internet.Read(request, buffer.bytes + buffer.total, ResponseBuffer::kCapacity - buffer.total,
                           &read))
            return BufferedOutcome::kReadFailed;
        if (read == 0) return BufferedOutcome::kComplete;
        buffer.total += read;
        // Refused at 1999 even when the body would end there: a full buffer
        // cannot tell a complete body from one cut off, and a silently cut
        // answer is worse than none.
        if (buffer.total >= ResponseBuffer::kTooLarge) return BufferedOutcome::kTooLarge;
    }
}

void StoreBuffered(FileSystem &files, const WChar *outputPath, const ResponseBuffer &buffer) {
    if (auto file = files.Open(outputPath, FileMode::kCreateExclusive))
        file->Write(buffer.bytes, buffer.total);
}

namespace {

// The file keeps whatever arrived before a failed read; the caller reports
// the cut, because a partial answer stored as if whole is worse than none.
bool CaptureStream(Internet &internet, File &file, InternetHandle handle, unsigned char *chunk,
                   std::uint32_t chunkSize) {
    for (;;) {
        std::uint32_t read = 0;
        if (!internet.Read(handle, chunk, chunkSize, &read)) return false;
        if (read == 0) return true;
        file.Write(chunk, read);
    }
}

}  // namespace

bool CaptureSharedStream(Internet &internet, FileSystem &files, InternetHandle handle,
                         const WChar *outputPath) {
    auto file = files.Open(outputPath, FileMode::kCreateShared);
    if (!file) return true;
    unsigned char chunk[512];
    return CaptureStream(internet, *file, handle, chunk, sizeof chunk);
}

bool CaptureExclusiveStream(Internet &internet, FileSystem &files, InternetHandle handle,
                            const WChar *outputPath, FileMode mode) {
    auto file = files.Open(outputPath, mode);
    if (!file) return true;
    unsigned char chunk[4096];
    return CaptureStream(internet, *file, handle, chunk, 4095);
}

}  // namespace vfb
