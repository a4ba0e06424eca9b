#include "operations/operations.h"
#include "transport/capture.h"
#include "transport/internet.h"

namespace vfb {

namespace {

// Credentials in a URL would be kept by WinINet for the rest of the process
// and sent unasked with later calls' requests, and libcurl would send them in
// the clear of a Basic header; neither belongs in a library that keeps no
// state between calls, so such URLs are refused before anything is sent.
bool HasUserInfo(WStringView url) {
    const std::size_t scheme = url.find(WidenAscii("://"));
    const std::size_t start = scheme == WStringView::npos ? 0 : scheme + 3;
    std::size_t end = url.find_first_of(WidenAscii("/?#"), start);
    if (end == WStringView::npos) end = url.size();
    return url.substr(start, end - start).find('@') != WStringView::npos;
}

}  // namespace

int FetchUrl(const Platform &platform, const WChar *url, const WChar *outputPath) {
    if (HasUserInfo(ViewOf(url))) return VFB_ERR_OPEN;
    Internet &internet = platform.internet;
    ScopedInternetHandle root(internet, internet.Open(WidenAscii("FTP_to_AIX"), AccessType::kPreconfigured));
    if (!root) return VFB_ERR_OPEN_ROOT_OR_MEDIA;
    ScopedInternetHandle response(internet, internet.OpenUrl(root.get(), ViewOf(url), kUrlFlags));
    if (!response) return VFB_ERR_OPEN;
    CaptureSharedStream(internet, platform.files, response.get(), outputPath);
    // The file is closed inside the capture; the root goes before the URL handle.
    root.Reset();
    return VFB_DONE;
}

}  // namespace vfb
