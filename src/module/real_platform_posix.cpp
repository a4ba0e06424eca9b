// Linux: libcurl, POSIX files and the local clock.
#include "call/call.h"
#include "http/curl/curl_internet.h"
#include "module/real_platform.h"
#include "platform/posix/files.h"

namespace vfb {

// The calling thread's time-outs (vfb_set_timeouts) hold for this call.
RealPlatform::RealPlatform()
    : internet_(std::make_unique<CurlInternet>(CurlTimeouts{static_cast<long>(call::ThisThread().connectMs),
                                                            static_cast<long>(call::ThisThread().stallMs)})),
      files_(std::make_unique<PosixFileSystem>()),
      clock_(std::make_unique<SystemClock>()) {}

RealPlatform::~RealPlatform() = default;

}  // namespace vfb
