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

void CaptureSharedStream(Internet &internet, FileSystem &files, InternetHandle handle,
                         const WChar *outputPath) {
    auto file = files.Open(outputPath, FileMode::kCreateShared);
    if (!file) return;
    unsigned char chunk[512];
    std::uint32_t read = 0;
    while (internet.Read(handle, chunk, sizeof chunk, &read) && read != 0) file->Write(chunk, read);
}

void CaptureExclusiveStream(Internet &internet, FileSystem &files, InternetHandle handle,
                            const WChar *outputPath) {
    auto file = files.Open(outputPath, FileMode::kCreateExclusive);
    if (!file) return;
    unsigned char chunk[4096];
    for (;;) {
        std::uint32_t read = 0;
        // A failed read reports no bytes, which ends the capture like the end of the body.
        internet.Read(handle, chunk, 4095, &read);
        if (read == 0) break;
        file->Write(chunk, read);
    }
}

}  // namespace vfb
