#include "progress.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <utility>

#if VFB_TOOL_PROGRESS
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#endif

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

std::string MeterLine(const TransferSample &sample, bool upload, double bytes_per_second) {
    const double rate = bytes_per_second > 0 ? bytes_per_second : 0;
    std::string line;
    double left = -1;
    if (upload) {
        const std::uint64_t sent = std::min(sample.sent, sample.total);
        const unsigned percent = sample.total ? static_cast<unsigned>(sent * 100 / sample.total) : 0;
        char share[8];
        std::snprintf(share, sizeof share, "%3u%%", percent);
        line = std::string(share) + "  " + Bytes(sent) + " of " + Bytes(sample.total) + " sent";
        if (rate > 0) left = static_cast<double>(sample.total - sent) / rate;
    } else {
        line = Bytes(sample.received) + " received";
    }
    return line + "  " + Bytes(static_cast<std::uint64_t>(rate)) + "/s  " + Duration(left) + " left";
}

#if VFB_TOOL_PROGRESS

namespace {

bool SameFile(int fd, std::uint64_t device, std::uint64_t inode) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == device &&
           static_cast<std::uint64_t>(st.st_ino) == inode;
}

// The file position of one of this process's descriptors, as the kernel
// reports it in "pos:\t<n>".
bool Position(int fd, std::uint64_t *position) {
    const std::string path = "/proc/self/fdinfo/" + std::to_string(fd);
    const int info = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (info < 0) return false;
    char text[256];
    const ssize_t n = ::read(info, text, sizeof text - 1);
    ::close(info);
    if (n <= 0) return false;
    text[n] = '\0';
    if (std::strncmp(text, "pos:", 4) != 0) return false;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text + 4, &end, 10);
    if (end == text + 4) return false;
    *position = value;
    return true;
}

// What a file looks like: the same identity, size and time mean the same
// content.
std::string Look(const struct stat &st) {
    return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) +
           ':' + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

TransferProbe::TransferProbe(std::string media, std::string out)
    : media_(std::move(media)), out_(std::move(out)) {
    struct stat st;
    if (!media_.empty() && ::stat(media_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        has_media_ = true;
        device_ = static_cast<std::uint64_t>(st.st_dev);
        inode_ = static_cast<std::uint64_t>(st.st_ino);
        total_ = static_cast<std::uint64_t>(st.st_size);
    }
    if (::stat(out_.c_str(), &st) == 0) out_before_ = Look(st);
}

TransferSample TransferProbe::Sample() {
    TransferSample s;
    s.total = total_;
    if (has_media_) {
        // The descriptor found last time may have been closed and its number
        // reused since; the file's identity says whether it is still ours.
        if (fd_ >= 0 && !SameFile(fd_, device_, inode_)) fd_ = -1;
        if (fd_ < 0) {
            if (DIR *dir = ::opendir("/proc/self/fd")) {
                while (const dirent *entry = ::readdir(dir)) {
                    char *end = nullptr;
                    const long fd = std::strtol(entry->d_name, &end, 10);
                    if (end == entry->d_name || *end || fd == ::dirfd(dir)) continue;
                    if (SameFile(static_cast<int>(fd), device_, inode_)) {
                        fd_ = static_cast<int>(fd);
                        break;
                    }
                }
                ::closedir(dir);
            }
        }
        std::uint64_t position = 0;
        if (fd_ >= 0 && Position(fd_, &position) && SameFile(fd_, device_, inode_)) {
            s.media_open = true;
            s.sent = position;
        } else {
            fd_ = -1;
        }
    }
    // The library truncates the output file only once the answer arrives;
    // until then what is there is an earlier answer, not this one's.
    struct stat st;
    if (::stat(out_.c_str(), &st) == 0 && (out_changed_ || Look(st) != out_before_)) {
        out_changed_ = true;
        s.received = static_cast<std::uint64_t>(st.st_size);
    }
    return s;
}

ProgressMeter::ProgressMeter(TransferProbe probe, std::ostream &err)
    : probe_(std::move(probe)), err_(err), thread_([this] { Loop(); }) {}

ProgressMeter::~ProgressMeter() { Stop(); }

void ProgressMeter::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ProgressMeter::Loop() {
    using Clock = std::chrono::steady_clock;
    // Four refreshes a second; a call that ends within half a second never
    // shows a meter that would only flicker.
    constexpr auto kTick = std::chrono::milliseconds(250);
    constexpr auto kQuiet = std::chrono::milliseconds(500);
    // The rate is taken over the last few seconds, as curl's current speed.
    constexpr auto kWindow = std::chrono::seconds(3);

    const bool upload = probe_.has_media();
    const Clock::time_point start = Clock::now();
    std::deque<std::pair<Clock::time_point, std::uint64_t>> history;
    std::uint64_t sent = 0;
    std::size_t shown = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kTick, [this] { return stop_; })) {
        TransferSample sample = probe_.Sample();
        // Before the library opens the media and after it closes it, what it
        // had read last time still stands.
        if (upload && !sample.media_open) sample.sent = sent;
        sent = sample.sent;
        const Clock::time_point now = Clock::now();
        const std::uint64_t bytes = upload ? sample.sent : sample.received;
        if (!history.empty() && bytes < history.back().second) history.clear();  // started over
        history.emplace_back(now, bytes);
        // Time in which nothing moved before the window's last movement, such
        // as the wait for the first byte, would only dilute the rate; a
        // transfer that stalls still comes down to 0.
        while (history.size() > 2 && history[0].second == history[1].second) history.pop_front();
        while (history.size() > 2 && now - history[1].first >= kWindow) history.pop_front();
        if (now - start < kQuiet) continue;

        double rate = 0;
        const double seconds = std::chrono::duration<double>(now - history.front().first).count();
        if (seconds > 0) rate = static_cast<double>(history.back().second - history.front().second) / seconds;
        std::string line = MeterLine(sample, upload, rate);
        const std::size_t width = line.size();
        if (width < shown) line.append(shown - width, ' ');  // over what the last line left
        shown = width;
        err_ << '\r' << line << std::flush;
    }
    if (shown) err_ << '\r' << std::string(shown, ' ') << '\r' << std::flush;
}

#else

TransferProbe::TransferProbe(std::string, std::string) {}

TransferSample TransferProbe::Sample() { return {}; }

#endif

}  // namespace vfbtool
