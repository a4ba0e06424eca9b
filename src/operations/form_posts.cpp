#include <optional>

#include "operations/capture.h"
#include "http/internet.h"
#include "operations/operations.h"
#include "text/text.h"

namespace vfb {

namespace {

struct FormPostRow {
    const char *verb;
    const char *pathTemplate;  // target, token, then the prepared text
    const char *contentType;
    bool sendsText;
};

constexpr const char *kFormType = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr const char *kFormTypeUtf8 = "Content-Type: application/x-www-form-urlencoded;charset=utf-8\r\n";

// Indexed by FormPost.
constexpr FormPostRow kFormPosts[] = {
    {"POST", "/%s/feed?access_token=%s&message=%s", kFormTypeUtf8, true},
    {"POST",
     "/%s/checkins?access_token=%s&message=%s&place=Vantrel&coordinates="
     "{\"latitude\":\"43.24022\", \"longitude\": \"-79.8533\"}",
     kFormType, true},
    {"POST", "/%s/events?access_token=%s&name=%s&start_time=1272718027", kFormType, true},
    {"DELETE", "/%s?access_token=%s", kFormTypeUtf8, false},
};

}  // namespace

int PostForm(const Platform &platform, FormPost which, const WChar *text, const WChar *accessToken,
             const WChar *targetId, const WChar *outputPath) {
    const FormPostRow &row = kFormPosts[static_cast<int>(which)];
    WString prepared;
    if (row.sendsText) {
        std::optional<WString> encoded = PrepareQueryText(text);
        if (!encoded) {
            RefuseText(1, which == FormPost::kEvent ? "name" : "message", text);
            return VFB_ERR_OPEN;
        }
        prepared = std::move(*encoded);
    }
    const std::optional<WString> path = FormatTemplate(
        WidenAscii(row.pathTemplate), {ViewOf(targetId), ViewOf(accessToken), prepared}, kMaxPathUnits);
    if (!path) {
        // The longer of the inserted fields is the one to shorten.
        const bool token = ViewOf(accessToken).size() >= ViewOf(targetId).size();
        RefuseLength(token ? 2 : 3, "request path (target and token)",
                     ViewOf(targetId).size() + ViewOf(accessToken).size() + prepared.size(), kMaxPathUnits);
        return VFB_ERR_OPEN;
    }

    Internet &internet = platform.internet;
    // A failed root handle is not checked on its own: the connection then fails too.
    ScopedInternetHandle root(internet, internet.Open(WidenAscii("FaceBook"), AccessType::kDirect));
    ScopedInternetHandle connection(internet,
                                    internet.Connect(root.get(), WidenAscii(kGraphHost), kHttpsPort));
    if (!connection) return VFB_ERR_CONNECT;
    ScopedInternetHandle request(internet, internet.OpenRequest(connection.get(), WidenAscii(row.verb), *path,
                                                                WStringView(), kRequestFlags));
    if (!request) return VFB_ERR_OPEN;
    if (!internet.Send(request.get(), WidenAscii(row.contentType))) return VFB_ERR_SEND;

    ResponseBuffer buffer;
    switch (ReadBuffered(internet, request.get(), buffer)) {
        case BufferedOutcome::kReadFailed:
            return VFB_ERR_READ;
        case BufferedOutcome::kTooLarge:
            return VFB_ERR_TOO_LARGE;
        case BufferedOutcome::kComplete:
            break;
    }
    // Every internet handle goes before the file is created.
    request.Reset();
    connection.Reset();
    root.Reset();
    StoreBuffered(platform.files, outputPath, buffer);
    return VFB_DONE;
}

}  // namespace vfb
