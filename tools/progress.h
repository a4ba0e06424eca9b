// A progress meter for long transfers, fed by the library's progress
// callback on the calling thread: whatever the platform, it sees what the
// library moved and the totals when they are known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <utility>

namespace vfbtool {

// What the library reported last; totals are 0 when unknown.
struct TransferSample {
    std::uint64_t sent = 0;
    std::uint64_t send_total = 0;
    std::uint64_t received = 0;
    std::uint64_t receive_total = 0;
};

// The direction a meter follows: the request's body until the answer's
// first byte, unless the request had no body of a known size.
bool IsReceiving(const TransferSample &sample);

// One state of the meter, at most 79 columns: the share and bytes of the
// total when it is known, else the bytes moved; the rate over the last
// seconds and the time left when it can be told.
std::string MeterLine(const TransferSample &sample, double bytes_per_second);

// Draws the meter on `err` (a terminal), at most a few times a second, from
// the samples it is given and the times they came at. Quick calls show
// nothing; Clear (and the destructor) removes what it drew.
class ProgressMeter {
public:
    explicit ProgressMeter(std::ostream &err) : err_(err) {}
    ~ProgressMeter() { Clear(); }
    ProgressMeter(const ProgressMeter &) = delete;
    ProgressMeter &operator=(const ProgressMeter &) = delete;

    void Update(const TransferSample &sample, std::uint64_t now_ms);
    void Clear();

private:
    std::ostream &err_;
    bool started_ = false;
    bool receiving_ = false;
    std::uint64_t start_ms_ = 0;
    std::uint64_t drawn_ms_ = 0;
    std::deque<std::pair<std::uint64_t, std::uint64_t>> history_;  // (ms, bytes)
    std::size_t shown_ = 0;                                        // columns on the terminal
};

}  // namespace vfbtool
