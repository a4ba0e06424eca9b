#include "call/call.h"
#include "operations/capture.h"
#include "http/internet.h"
#include "operations/operations.h"

namespace vfb {

namespace {

// Credentials in a URL would be kept by WinINet for the rest of the process
// and sent unasked with later calls' requests, and libcurl would send them in
// the clear of a Basic header; neither belongs in a library that keeps no
// state between calls, so such URLs are refused before anything is sent.
// The authority is looked for where a lenient parser finds it: libcurl takes
// "https:/u@h", "https:///u@h" and "1https://u@h" for "https://u@h", and a
// "://" later in the query is no scheme at all.
bool HasUserInfo(WStringView url) {
    const auto authorityHasAt = [url](std::size_t start) {
        while (start < url.size() && (url[start] == '/' || url[start] == '\\')) ++start;
        const std::size_t end = url.find_first_of(WidenAscii("/\\?#"), start);
        return url.substr(start, end == WStringView::npos ? WStringView::npos : end - start).find('@') !=
               WStringView::npos;
    };
    // Without a scheme the URL begins with its authority; with one, the
    // authority follows the scheme's colon and however many slashes.
    const std::size_t colon = url.find(':');
    const bool schemeColon = colon != WStringView::npos && colon < url.find_first_of(WidenAscii("/\\?#"));
    return authorityHasAt(0) || (schemeColon && authorityHasAt(colon + 1));
}

}  // namespace

int FetchUrl(const Platform &platform, const WChar *url, const WChar *outputPath) {
    if (ViewOf(url).size() > kMaxPathUnits) {
        RefuseLength(1, "url", ViewOf(url).size(), kMaxPathUnits);
        return VFB_ERR_OPEN;
    }
    if (HasUserInfo(ViewOf(url))) {
        call::RefuseInput(1, 0, "url carries a user name or password, which is never sent");
        return VFB_ERR_OPEN;
    }
    Internet &internet = platform.internet;
    ScopedInternetHandle root(internet, internet.Open(WidenAscii("FTP_to_AIX"), AccessType::kPreconfigured));
    if (!root) return VFB_ERR_OPEN_ROOT_OR_MEDIA;
    ScopedInternetHandle response(internet, internet.OpenUrl(root.get(), ViewOf(url), kUrlFlags));
    if (!response) return VFB_ERR_OPEN;
    const bool complete = CaptureSharedStream(internet, platform.files, response.get(), outputPath);
    // The file is closed inside the capture; the root goes before the URL handle.
    root.Reset();
    return complete ? VFB_DONE : VFB_ERR_READ;
}

}  // namespace vfb
