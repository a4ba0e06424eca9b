// Windows: WinINet, the Win32 file calls and the local clock.
#include "module/real_platform.h"

namespace vfb {

// Defined next to their classes, in http/wininet and platform/win32.
std::unique_ptr<Internet> MakeWinInetInternet();
std::unique_ptr<FileSystem> MakeWin32FileSystem();
std::unique_ptr<Clock> MakeWin32Clock();

RealPlatform::RealPlatform()
    : internet_(MakeWinInetInternet()), files_(MakeWin32FileSystem()), clock_(MakeWin32Clock()) {}

RealPlatform::~RealPlatform() = default;

}  // namespace vfb
