// The Win32 clock and the sign-in's body file.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "platform/platform.h"

#include <windows.h>

namespace vfb {

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

std::unique_ptr<Clock> MakeWin32Clock() { return std::make_unique<Win32Clock>(); }

}  // namespace vfb
