// The few things the end-to-end cases need of the operating system, behind one
// seam, so the same cases build with g++ against libvantrelfb.so and with mingw
// against VantrelFB.dll run under Wine.
//
// The cases speak of files by their Linux path ("/tmp/x/out.json"): the fake
// service, the sandbox and the recordings all live on the Linux side. Under
// Wine such a path reaches Windows code as Z:\tmp\x\out.json.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "vantrelfb.h"

namespace e2e {

using WString = std::basic_string<VFB_WCHAR>;

// UTF-8 <-> the library's wide text (UTF-16 code units).
WString Widen(const std::string &utf8);
std::string Narrow(const VFB_WCHAR *text);

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

}  // namespace e2e
