// The Windows platform: WinINet, the Win32 file calls and the local clock.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "platform/platform.h"

#include <windows.h>

#include "http/internet.h"

namespace vfb {

// Defined next to their classes, in http/wininet and files.cpp.
std::unique_ptr<Internet> MakeWinInetInternet();
std::unique_ptr<FileSystem> MakeWin32FileSystem();

namespace {

class Win32Clock final : public Clock {
public:
    LocalTime Now() override {
        SYSTEMTIME t;
        GetLocalTime(&t);
        return LocalTime{t.wYear, t.wMonth,  t.wDayOfWeek, t.wDay,
                         t.wHour, t.wMinute, t.wSecond,    t.wMilliseconds};
    }
};

}  // namespace

// Rooted at the current drive on desktop Windows; on Windows CE, whose file
// system has a single root, it names \temp4 at the device's root.
const WChar *const kSignInBodyPath = L"\\temp4\\Report2.txt";

RealPlatform::RealPlatform()
    : internet_(MakeWinInetInternet()),
      files_(MakeWin32FileSystem()),
      clock_(std::make_unique<Win32Clock>()) {}

RealPlatform::~RealPlatform() = default;

}  // namespace vfb
