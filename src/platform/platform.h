// What the library needs of the system it runs on, besides HTTP: the few ways
// it opens files, with the platform's sharing rules (emulated with advisory
// locks where the platform has none), and the local clock. Each system's
// folder beside this header implements it; the module entry composes the
// real platform from it and from an HTTP backend.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "text/wide.h"

namespace vfb {

enum class FileMode {
    // Write only, not shared, always created anew. A file held by another
    // call is neither opened nor truncated.
    kCreateExclusive,
    // As kCreateExclusive, but a symbolic link in the path's last component
    // is never followed: the open fails instead.
    kCreateExclusiveNoFollow,
    // Read and write, shared for reading and writing, always created anew.
    kCreateShared,
    // Read only, shared for reading, existing files only.
    kOpenForReading,
};

class File {
public:
    virtual ~File() = default;  // flushes and closes
    virtual bool Write(const void *data, std::uint32_t size) = 0;
    virtual bool Read(void *buffer, std::uint32_t size, std::uint32_t *read) = 0;
    // False when the size cannot be read or does not fit 32 bits.
    virtual bool Size32(std::uint32_t *size) = 0;
    // Writes out what is buffered; false when that fails.
    virtual bool Flush() { return true; }
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Null when the file cannot be opened in that mode; a null or empty path never opens.
    virtual std::unique_ptr<File> Open(const WChar *path, FileMode mode) = 0;
    // The system's error number of this thread's last failed open or write,
    // and its text in UTF-8, for the call's detail.
    virtual int LastError() const { return 0; }
    virtual std::string DescribeError(int error) const { return "error " + std::to_string(error); }
};

struct LocalTime {
    int year, month, dayOfWeek, day, hour, minute, second, millisecond;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalTime Now() = 0;
};

class Internet;

// What an operation needs of the platform; the exports pass the real one.
struct Platform {
    Internet &internet;
    FileSystem &files;
    Clock &clock;
};

// The sign-in's fixed body file, in the platform's own spelling.
extern const WChar *const kSignInBodyPath;

}  // namespace vfb
