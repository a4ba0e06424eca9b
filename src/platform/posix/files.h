// Files and clock over POSIX. Windows' sharing modes are emulated with
// flock(): exclusive modes take an exclusive lock, shared ones a shared lock,
// always without blocking, and a file is truncated only once its lock is held.
#pragma once

#include "platform/platform.h"

namespace vfb {

class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<File> Open(const WChar *path, FileMode mode) override;
    int LastError() const override;
    std::string DescribeError(int error) const override;
};

class SystemClock final : public Clock {
public:
    LocalTime Now() override;
};

}  // namespace vfb
