// A progress meter for long transfers. The library reports nothing while a
// call runs and is not going to, so the meter watches from outside: how far
// the library has read its media file (the position of the descriptor it has
// open on it) and how large the output file has grown. Both are Linux's
// /proc/self; elsewhere the meter is compiled out and never shows.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#if defined(__linux__)
#define VFB_TOOL_PROGRESS 1
#include <condition_variable>
#include <mutex>
#include <thread>
#else
#define VFB_TOOL_PROGRESS 0
#endif

namespace vfbtool {

struct TransferSample {
    bool media_open = false;  // the library holds the media file open
    std::uint64_t sent = 0;   // media bytes the library has read
    std::uint64_t total = 0;  // the media file's size
    std::uint64_t received = 0;
};

// Looks at one call's files. `media` is empty for calls without one.
class TransferProbe {
public:
    TransferProbe(std::string media, std::string out);
    TransferSample Sample();

    bool has_media() const { return has_media_; }

private:
    bool has_media_ = false;
#if VFB_TOOL_PROGRESS
    std::string media_, out_;
    std::uint64_t device_ = 0, inode_ = 0, total_ = 0;
    int fd_ = -1;             // the library's descriptor on the media, once found
    std::string out_before_;  // how the output file looked before the call
    bool out_changed_ = false;
#endif
};

// One state of the meter, at most 79 columns: for an upload the share and
// bytes read of the media, else the bytes received; the rate over the last
// seconds and the time left when it can be told.
std::string MeterLine(const TransferSample &sample, bool upload, double bytes_per_second);

// Shows the meter on `err` (a terminal) from a thread of its own, a few times
// a second, until Stop, which clears its line. Quick calls show nothing.
#if VFB_TOOL_PROGRESS
class ProgressMeter {
public:
    ProgressMeter(TransferProbe probe, std::ostream &err);
    ~ProgressMeter();
    void Stop();

    ProgressMeter(const ProgressMeter &) = delete;
    ProgressMeter &operator=(const ProgressMeter &) = delete;

private:
    void Loop();

    TransferProbe probe_;
    std::ostream &err_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};
#else
class ProgressMeter {
public:
    ProgressMeter(TransferProbe, std::ostream &) {}
    void Stop() {}
};
#endif

}  // namespace vfbtool
