// The few things the end-to-end cases need of the operating system, behind one
// seam, so the same cases build with g++ against libvantrelfb.so and with mingw
// against VantrelFB.dll run under Wine.
//
// The cases speak of files by their Linux path ("/tmp/x/out.json"): the fake
// service, the sandbox and the recordings all live on the Linux side. Under
// Wine such a path reaches Windows code as Z:\tmp\x\out.json.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vantrelfb.h"

namespace e2e {

using WString = std::basic_string<VFB_WCHAR>;

// UTF-8 <-> the library's wide text (UTF-16 code units); an unpaired
// surrogate or a malformed sequence becomes U+FFFD.
WString Widen(const std::string &utf8);
std::string Narrow(const VFB_WCHAR *text);

// The twelve service exports by ordinal, named by the public header's
// vfb_export_name: how many arguments each takes (-1 for a name that is not
// one of them), and one call with `args` (null entries stand for null
// pointers). The sign-in's text, as UTF-8, goes to `location` instead of a
// result code. False for an unknown name or a wrong argument count.
int ExportArguments(const std::string &fn);
bool CallExport(const std::string &fn, const std::vector<const VFB_WCHAR *> &args, int *code,
                std::string *location);

// A Linux path as this process names it: unchanged on Linux, Z:\... on Windows.
std::string NativePath(const std::string &linuxPath);
// The same, as the library's wide text.
inline WString WidePath(const std::string &linuxPath) { return Widen(NativePath(linuxPath)); }

// The process's open descriptors (Linux: /proc/self/fd) or handles (Windows).
int CountOpenHandles();

// An environment variable, or "" when unset.
std::string GetEnv(const char *name);

// File helpers on Linux paths. They return false on failure and never throw.
bool FileExists(const std::string &linuxPath);
bool DirExists(const std::string &linuxPath);
bool ReadFile(const std::string &linuxPath, std::string *bytes);
bool WriteFile(const std::string &linuxPath, const std::string &bytes);
// Replaces `to` by `from` in one step (a new file for readers of `to`).
bool RenameReplace(const std::string &from, const std::string &to);
bool RemoveFile(const std::string &linuxPath);
bool MakeDirs(const std::string &linuxPath);
bool RemoveDir(const std::string &linuxPath);  // an empty directory
bool RemoveTree(const std::string &linuxPath);
// The names (not paths) in a directory, sorted; empty when it is missing.
std::vector<std::string> ListDir(const std::string &linuxPath);

void SleepMs(int milliseconds);
// The process id, for unique names.
unsigned long ProcessId();

// Why the test `suite.name` cannot hold where this process runs, or "" when it
// can. The Windows build's list names what Wine's WinINet cannot do; the
// Linux build knows of nothing.
std::string KnownLimitation(const std::string &testName);

// ------------------------------------------------------------------ faults

// A file held open the way the library's exclusive writers hold theirs, so
// that no call can create, truncate or write it while this object lives:
// Linux, an flock(LOCK_EX) on a descriptor of our own; Windows, a handle
// opened with no sharing at all. The file is created when missing, never
// truncated. Move-only; released on destruction.
class ExclusiveHold {
public:
    ExclusiveHold() = default;
    explicit ExclusiveHold(std::intptr_t handle) : handle_(handle) {}
    ExclusiveHold(ExclusiveHold &&other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    ExclusiveHold &operator=(ExclusiveHold &&other) noexcept;
    ExclusiveHold(const ExclusiveHold &) = delete;
    ExclusiveHold &operator=(const ExclusiveHold &) = delete;
    ~ExclusiveHold() { Release(); }

    bool held() const { return handle_ != -1; }
    void Release();

private:
    std::intptr_t handle_ = -1;  // a descriptor or a HANDLE; -1 for none
};
ExclusiveHold HoldFileExclusively(const std::string &linuxPath);

// Whether another party could open the file for reading now, asking for the
// widest sharing (Windows: GENERIC_READ with FILE_SHARE_READ |
// FILE_SHARE_WRITE; Linux: a shared flock, the way the library's POSIX layer
// emulates sharing). False while the library writes the file exclusively.
bool CanOpenForReading(const std::string &linuxPath);
// The file's size without opening it (an open could itself collide with the
// library's sharing), or -1 when it is missing.
long long FileSize(const std::string &linuxPath);

// Sets a file's size (cut or extended with zeros; extended files may be sparse).
bool ResizeFile(const std::string &linuxPath, unsigned long long size);

// Handles the platform's internet stack may keep from one call to the next
// for reuse (WinINet's connection and name caches, the libcurl build's
// connection pool), which a leak check has to allow for.
int CachedHandleAllowance(int callsAtOnce = 1);

// The process's peak resident memory in KiB (Linux: VmHWM), or -1 where the
// system does not tell (Windows, Wine).
long long PeakResidentKiB();
// Starts the peak over from the current resident size, where the system
// allows it (Linux: /proc/self/clear_refs); false when it does not.
bool ResetPeakResident();

}  // namespace e2e
