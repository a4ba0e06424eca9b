// The HTTP stack over libcurl, driven on the caller's thread with pull-style
// reads and back-pressured writes, so memory stays bounded whatever the size.
#pragma once

#include "http/internet.h"

namespace vfb {

struct CurlTimeouts {
    long connectMs = 60000;  // name resolution, TCP and TLS
    long stallMs = 60000;    // a transfer that moves no byte either way for this long fails
};

class CurlInternet final : public Internet {
public:
    explicit CurlInternet(CurlTimeouts timeouts = CurlTimeouts()) : timeouts_(timeouts) {}

    InternetHandle Open(WStringView agent, AccessType access) override;
    InternetHandle Connect(InternetHandle root, WStringView host, std::uint16_t port) override;
    InternetHandle OpenRequest(InternetHandle connection, WStringView verb, WStringView target,
                               WStringView version, std::uint32_t flags) override;
    bool AddHeader(InternetHandle request, WStringView line) override;
    bool Send(InternetHandle request, WStringView headers) override;
    bool SendWithBody(InternetHandle request, std::uint32_t bodyLength) override;
    bool Write(InternetHandle request, const void *data, std::uint32_t size) override;
    bool EndRequest(InternetHandle request) override;
    bool Read(InternetHandle handle, void *buffer, std::uint32_t size, std::uint32_t *read) override;
    bool QueryLocation(InternetHandle request, WChar *buffer, std::uint32_t *sizeBytes) override;
    InternetHandle OpenUrl(InternetHandle root, WStringView url, std::uint32_t flags) override;
    bool Close(InternetHandle handle) override;

private:
    CurlTimeouts timeouts_;
};

}  // namespace vfb
