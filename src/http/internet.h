// The seam between the operations and the platform's HTTP stack. Its shape is
// the handful of WinINet calls the operations need, so the WinINet build is a
// thin mapping and the libcurl build reproduces the same exchange on the wire.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "text/wide.h"

namespace vfb {

struct InternetObject;  // opaque to the operations
using InternetHandle = InternetObject *;

enum class AccessType : std::uint32_t {
    kDirect = 1,         // never a proxy
    kPreconfigured = 4,  // the platform's proxy settings, no auto-discovery
};

// Request flags, with the platform's values.
constexpr std::uint32_t kFlagReload = 0x80000000u;  // always from the server
constexpr std::uint32_t kFlagSecure = 0x00800000u;  // TLS
constexpr std::uint32_t kRequestFlags = kFlagReload | kFlagSecure;
constexpr std::uint32_t kUrlFlags = kFlagReload;
constexpr std::uint16_t kHttpsPort = 443;

class Internet {
public:
    virtual ~Internet() = default;

    // Every call returns null or false on failure; a null handle argument
    // makes the call fail, so an unchecked failure propagates to later steps.
    virtual InternetHandle Open(WStringView agent, AccessType access) = 0;
    virtual InternetHandle Connect(InternetHandle root, WStringView host, std::uint16_t port) = 0;
    // `version` empty means the stack's default; the target is escaped by the
    // implementation with EscapeRequestTarget before it reaches the wire.
    virtual InternetHandle OpenRequest(InternetHandle connection, WStringView verb, WStringView target,
                                       WStringView version, std::uint32_t flags) = 0;
    // One header line ending in CR LF, added to the request.
    virtual bool AddHeader(InternetHandle request, WStringView line) = 0;
    // Sends the request with `headers` (CR LF terminated lines, may be empty)
    // and no body; returns once the response's headers have arrived.
    virtual bool Send(InternetHandle request, WStringView headers) = 0;
    // Starts a request whose body of exactly `bodyLength` bytes follows in Write calls.
    virtual bool SendWithBody(InternetHandle request, std::uint32_t bodyLength) = 0;
    // Returns once the bytes are handed to the connection (bounded buffering).
    virtual bool Write(InternetHandle request, const void *data, std::uint32_t size) = 0;
    // Finishes the body; returns once the response's headers have arrived.
    virtual bool EndRequest(InternetHandle request) = 0;
    // Reads up to `size` body bytes; `*read` is 0 at the end of the body.
    virtual bool Read(InternetHandle handle, void *buffer, std::uint32_t size, std::uint32_t *read) = 0;
    // The response's Location value into `buffer` of `*sizeBytes` bytes;
    // false, with the buffer untouched, when absent or too large.
    virtual bool QueryLocation(InternetHandle request, WChar *buffer, std::uint32_t *sizeBytes) = 0;
    // GET of a complete URL, following redirects; failures of the exchange surface here.
    virtual InternetHandle OpenUrl(InternetHandle root, WStringView url, std::uint32_t flags) = 0;
    virtual bool Close(InternetHandle handle) = 0;
};

// Owns one internet handle for a scope.
class ScopedInternetHandle {
public:
    ScopedInternetHandle(Internet &internet, InternetHandle handle) : internet_(&internet), handle_(handle) {}
    ~ScopedInternetHandle() { Reset(); }
    ScopedInternetHandle(const ScopedInternetHandle &) = delete;
    ScopedInternetHandle &operator=(const ScopedInternetHandle &) = delete;

    InternetHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset() {
        if (handle_) internet_->Close(handle_);
        handle_ = nullptr;
    }

private:
    Internet *internet_;
    InternetHandle handle_;
};

// Percent-encodes every byte <= 0x20 and >= 0x7F (a wide unit outside ASCII as
// its UTF-8 bytes), a backslash, and the dots of a "." or ".." path segment,
// so that no stack has anything left to rewrite and no input can split the
// request line. Everything else goes out as given.
std::string EscapeRequestTarget(WStringView target);

}  // namespace vfb
