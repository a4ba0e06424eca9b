#include "operations/capture.h"

#include "call/call.h"
#include "text/text.h"

namespace vfb {

namespace {

// The call's detail for an output file that could not be created or written;
// the call's result does not change.
void OutputFailed(FileSystem &files, const WChar *outputPath, const char *what) {
    const int error = files.LastError();
    call::Stored(false, error);
    call::Fail(VFB_FAIL_OUTPUT_FILE, "output file %s %s: %s", NarrowText(outputPath).c_str(), what,
               files.DescribeError(error).c_str());
}

std::unique_ptr<File> OpenOutput(FileSystem &files, const WChar *outputPath, FileMode mode) {
    std::unique_ptr<File> file = files.Open(outputPath, mode);
    if (!file) OutputFailed(files, outputPath, "could not be created");
    return file;
}

}  // namespace

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
    auto file = OpenOutput(files, outputPath, FileMode::kCreateExclusive);
    if (!file) return;
    if (file->Write(buffer.bytes, buffer.total) && file->Flush())
        call::Stored(true, 0);
    else
        OutputFailed(files, outputPath, "could not be written");
}

namespace {

// The file keeps whatever arrived before a failed read; the caller reports
// the cut, because a partial answer stored as if whole is worse than none.
bool CaptureStream(Internet &internet, FileSystem &files, File &file, const WChar *outputPath,
                   InternetHandle handle, unsigned char *chunk, std::uint32_t chunkSize) {
    bool written = true;
    bool complete = false;
    for (;;) {
        std::uint32_t read = 0;
        if (!internet.Read(handle, chunk, chunkSize, &read)) break;
        if (read == 0) {
            complete = true;
            break;
        }
        written = file.Write(chunk, read) && written;
    }
    written = file.Flush() && written;
    if (written)
        call::Stored(true, 0);
    else
        OutputFailed(files, outputPath, "could not be written");
    return complete;
}

}  // namespace

bool CaptureSharedStream(Internet &internet, FileSystem &files, InternetHandle handle,
                         const WChar *outputPath) {
    auto file = OpenOutput(files, outputPath, FileMode::kCreateShared);
    if (!file) return true;
    unsigned char chunk[512];
    return CaptureStream(internet, files, *file, outputPath, handle, chunk, sizeof chunk);
}

bool CaptureExclusiveStream(Internet &internet, FileSystem &files, InternetHandle handle,
                            const WChar *outputPath, FileMode mode) {
    auto file = OpenOutput(files, outputPath, mode);
    if (!file) return true;
    unsigned char chunk[4096];
    return CaptureStream(internet, files, *file, outputPath, handle, chunk, 4095);
}

}  // namespace vfb
