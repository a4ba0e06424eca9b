// The platform the exports run on: the real HTTP stack, files and clock.
// Built afresh for every call, so nothing survives between calls.
#pragma once

#include <memory>

#include "transport/files.h"
#include "transport/internet.h"

namespace vfb {

class RealPlatform {
public:
    RealPlatform();
    ~RealPlatform();
    RealPlatform(const RealPlatform &) = delete;
    RealPlatform &operator=(const RealPlatform &) = delete;

    Platform get() { return Platform{*internet_, *files_, *clock_}; }

private:
    std::unique_ptr<Internet> internet_;
    std::unique_ptr<FileSystem> files_;
    std::unique_ptr<Clock> clock_;
};

// The sign-in's fixed body file, in the platform's own spelling.
extern const WChar *const kSignInBodyPath;

}  // namespace vfb
