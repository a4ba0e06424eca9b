// The platform the exports run on: the system's HTTP stack, files and clock,
// composed here, where the module knows which system it is built for. Built
// afresh for every call; only the HTTP stack's pool of idle connections
// outlives it, as the platform's own does.
#pragma once

#include <memory>

#include "http/internet.h"
#include "platform/platform.h"

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

}  // namespace vfb
