// The ways a response body reaches the caller's file.
#pragma once

#include <cstdint>

#include "http/internet.h"
#include "platform/platform.h"

namespace vfb {

// Buffered capture: the whole body in memory, stored only when complete and
// small enough. Reading and storing are separate because the caller releases
// its internet handles in between.
struct ResponseBuffer {
    static constexpr std::uint32_t kCapacity = 2000;
    static constexpr std::uint32_t kTooLarge = 1999;
    unsigned char bytes[kCapacity];
    std::uint32_t total = 0;
};

enum class BufferedOutcome { kComplete, kReadFailed, kTooLarge };

BufferedOutcome ReadBuffered(Internet &internet, InternetHandle request, ResponseBuffer &buffer);
void StoreBuffered(FileSystem &files, const WChar *outputPath, const ResponseBuffer &buffer);

// Streamed capture for the URL fetch: 512-byte reads into a file opened
// shared. False when the body ended early (a failed read); the file then
// holds what arrived. A file that cannot be created reads nothing and
// counts as complete: the call's result does not depend on it.
bool CaptureSharedStream(Internet &internet, FileSystem &files, InternetHandle handle,
                         const WChar *outputPath);

// Streamed capture for uploads and sign-in: 4095-byte reads into a file
// opened exclusively (`mode`); results as above.
bool CaptureExclusiveStream(Internet &internet, FileSystem &files, InternetHandle handle,
                            const WChar *outputPath, FileMode mode = FileMode::kCreateExclusive);

}  // namespace vfb
