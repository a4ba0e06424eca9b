#include "progress.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace vfbtool {

namespace {

// Five columns whatever the size, as curl's meter: 99999, 97.6k, 9999k,
// 99.9M, 9999M, 99.9G, ...
std::string Bytes(std::uint64_t n) {
    static const char kUnits[] = "kMGTPE";
    char out[16];
    if (n < 100000) {
        std::snprintf(out, sizeof out, "%5" PRIu64, n);
        return out;
    }
    std::uint64_t unit = 1024;
    for (const char *u = kUnits; *u; ++u, unit *= 1024) {
        if (n / unit < 100) {
            // One decimal while it fits in five columns.
            std::snprintf(out, sizeof out, "%2" PRIu64 ".%" PRIu64 "%c", n / unit, n % unit * 10 / unit, *u);
            return out;
        }
        if (n / unit < 10000) {
            std::snprintf(out, sizeof out, "%4" PRIu64 "%c", n / unit, *u);
            return out;
        }
    }
    return "big  ";
}

std::string Duration(double seconds) {
    if (!(seconds >= 0) || seconds >= 100 * 3600) return "--:--:--";
    const auto s = static_cast<unsigned>(seconds + 0.5);
    char out[32];
    std::snprintf(out, sizeof out, "%2u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
    return out;
}

}  // namespace

bool IsReceiving(const TransferSample &sample) { return sample.received > 0 || sample.send_total == 0; }

std::string MeterLine(const TransferSample &sample, double bytes_per_second) {
    const double rate = bytes_per_second > 0 ? bytes_per_second : 0;
    const bool receiving = IsReceiving(sample);
    const std::uint64_t total = receiving ? sample.receive_total : sample.send_total;
    const char *verb = receiving ? " received" : " sent";
    std::uint64_t moved = receiving ? sample.received : sample.sent;
    std::string line;
    double left = -1;
    if (total) {
        moved = std::min(moved, total);
        char share[8];
        std::snprintf(share, sizeof share, "%3u%%", static_cast<unsigned>(moved * 100 / total));
        line = std::string(share) + "  " + Bytes(moved) + " of " + Bytes(total) + verb;
        if (rate > 0) left = static_cast<double>(total - moved) / rate;
    } else {
        line = Bytes(moved) + verb;
    }
    return line + "  " + Bytes(static_cast<std::uint64_t>(rate)) + "/s  " + Duration(left) + " left";
}

void ProgressMeter::Update(const TransferSample &sample, std::uint64_t now_ms) {
    // Four refreshes a second; a call that ends within half a second never
    // shows a meter that would only flicker.
    constexpr std::uint64_t kTickMs = 250;
    constexpr std::uint64_t kQuietMs = 500;
    // The rate is taken over the last few seconds, as curl's current speed.
    constexpr std::uint64_t kWindowMs = 3000;

    if (!started_) {
        started_ = true;
        start_ms_ = now_ms;
    }
    const bool receiving = IsReceiving(sample);
    const std::uint64_t bytes = receiving ? sample.received : sample.sent;
    // The answer's bytes are not the request's: the rate starts over.
    if (receiving != receiving_ || (!history_.empty() && bytes < history_.back().second)) history_.clear();
    receiving_ = receiving;
    history_.emplace_back(now_ms, bytes);
    // Time in which nothing moved before the window's last movement, such as
    // the wait for the first byte, would only dilute the rate; a transfer
    // that stalls still comes down to 0.
    while (history_.size() > 2 && history_[0].second == history_[1].second) history_.pop_front();
    while (history_.size() > 2 && now_ms - history_[1].first >= kWindowMs) history_.pop_front();
    if (now_ms - start_ms_ < kQuietMs || (shown_ && now_ms - drawn_ms_ < kTickMs)) return;

    double rate = 0;
    const std::uint64_t span = now_ms - history_.front().first;
    if (span > 0) rate = static_cast<double>(history_.back().second - history_.front().second) * 1000 / span;
    std::string line = MeterLine(sample, rate);
    const std::size_t width = line.size();
    if (width < shown_) line.append(shown_ - width, ' ');  // over what the last line left
    shown_ = width;
    drawn_ms_ = now_ms;
    err_ << '\r' << line << std::flush;
}

void ProgressMeter::Clear() {
    if (shown_) err_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
    shown_ = 0;
}

}  // namespace vfbtool
