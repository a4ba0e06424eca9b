#include <cstring>

#include "operations/capture.h"
#include "http/internet.h"
#include "operations/operations.h"

namespace vfb {

namespace {

// The Location field holds 2084 units; a longer value is not returned at all.
constexpr std::uint32_t kLocationUnits = 2084;

WString SignInPath() {
    return WidenAscii("/dialog/oauth?client_id=") + WidenAscii(VFB_OAUTH_CLIENT_ID) +
           WidenAscii("&response_type=token&redirect_uri=https://") + WidenAscii(kDialogHost) +
           WidenAscii("/connect/login_success.html");
}

}  // namespace

WString RequestSignIn(const Platform &platform, const WChar *bodyPath) {
    Internet &internet = platform.internet;
    // No step is checked: a failure makes every later step fail in turn, and
    // the body file is still created (empty) so the caller sees this attempt.
    ScopedInternetHandle root(internet, internet.Open(WidenAscii("FaceBook"), AccessType::kDirect));
    ScopedInternetHandle connection(internet,
                                    internet.Connect(root.get(), WidenAscii(kDialogHost), kHttpsPort));
    ScopedInternetHandle request(internet,
                                 internet.OpenRequest(connection.get(), WidenAscii("POST"), SignInPath(),
                                                      WidenAscii("HTTP/1.1"), kRequestFlags));
    internet.Send(request.get(), WStringView());
    // A well-known path in a folder others may write: a link planted there
    // must not make the library overwrite the file it points to.
    CaptureExclusiveStream(internet, platform.files, request.get(), bodyPath,
                           FileMode::kCreateExclusiveNoFollow);

    WChar location[kLocationUnits];
    std::memset(location, 0, sizeof location);
    std::uint32_t size = sizeof location;
    internet.QueryLocation(request.get(), location, &size);
    location[kLocationUnits - 1] = 0;
    WString result(location);
    if (result.size() > kSignInResultUnits) result.resize(kSignInResultUnits);
    return result;
}

}  // namespace vfb
