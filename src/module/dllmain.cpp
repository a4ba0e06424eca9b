// The module entry. Loading and unloading sets up and tears down nothing:
// the library keeps no state, so every notification simply reports success.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// C linkage, so the C runtime's DLL start-up finds this entry instead of its
// own default; HANDLE as the first parameter is the spelling Windows CE uses.
extern "C" BOOL WINAPI DllMain(HANDLE module, DWORD reason, LPVOID reserved) {
    (void)module;
    (void)reason;
    (void)reserved;
    return TRUE;
}
