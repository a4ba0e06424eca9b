#include "operations/operations.h"
#include "transport/capture.h"
#include "transport/internet.h"

namespace vfb {

int FetchUrl(const Platform &platform, const WChar *url, const WChar *outputPath) {
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
