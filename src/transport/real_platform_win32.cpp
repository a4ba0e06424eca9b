// The Windows platform: WinINet, the Win32 file calls and the local clock.
#include "transport/real_platform.h"

namespace vfb {

// Defined next to their classes, in wininet_internet.cpp and win32_files.cpp.
std::unique_ptr<Internet> MakeWinInetInternet();
std::unique_ptr<FileSystem> MakeWin32FileSystem();
std::unique_ptr<Clock> MakeWin32Clock();

// Rooted at the current drive on desktop Windows; on Windows CE, whose file
// system has a single root, it names \temp4 at the device's root.
const WChar *const kSignInBodyPath = L"\\temp4\\Report2.txt";

RealPlatform::RealPlatform()
    : internet_(MakeWinInetInternet()), files_(MakeWin32FileSystem()), clock_(MakeWin32Clock()) {}

RealPlatform::~RealPlatform() = default;

}  // namespace vfb
