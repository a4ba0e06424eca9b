// The POSIX clock and the sign-in's body file.
#include <sys/time.h>

#include <ctime>

#include "platform/posix/files.h"

namespace vfb {

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
