// The Linux platform: libcurl, POSIX files and the local clock.
#include <sys/time.h>

#include <ctime>

#include "call/call.h"
#include "http/curl/curl_internet.h"
#include "platform/posix/files.h"

namespace vfb {

// The calling thread's time-outs (vfb_set_timeouts) hold for this call.
RealPlatform::RealPlatform()
    : internet_(std::make_unique<CurlInternet>(CurlTimeouts{static_cast<long>(call::ThisThread().connectMs),
                                                            static_cast<long>(call::ThisThread().stallMs)})),
      files_(std::make_unique<PosixFileSystem>()),
      clock_(std::make_unique<SystemClock>()) {}

RealPlatform::~RealPlatform() = default;

const WChar *const kSignInBodyPath = u"/temp4/Report2.txt";

LocalTime SystemClock::Now() {
    struct timeval tv;
    ::gettimeofday(&tv, nullptr);
    struct tm local;
    time_t seconds = tv.tv_sec;
    ::localtime_r(&seconds, &local);
    return LocalTime{
        local.tm_year + 1900, local.tm_mon + 1, local.tm_wday, local.tm_mday,
        local.tm_hour,        local.tm_min,     local.tm_sec,  static_cast<int>(tv.tv_usec / 1000)};
}

}  // namespace vfb
