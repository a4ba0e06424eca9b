#include "transport/curl_internet.h"
#include "transport/posix_files.h"
#include "transport/real_platform.h"

namespace vfb {

RealPlatform::RealPlatform()
    : internet_(std::make_unique<CurlInternet>()),
      files_(std::make_unique<PosixFileSystem>()),
      clock_(std::make_unique<SystemClock>()) {}

RealPlatform::~RealPlatform() = default;

const WChar *const kSignInBodyPath = u"/temp4/Report2.txt";

}  // namespace vfb
