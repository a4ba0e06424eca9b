// The exported service functions: each builds the real platform for the
// length of the call and hands it to its operation.
#include <algorithm>

#include "call/call.h"
#include "operations/operations.h"
#include "module/real_platform.h"

using vfb::WChar;

namespace {

// Each export is one call: its detail (vfb_last_call) starts afresh here.
template <typename Operation>
int WithPlatform(Operation &&operation) {
    vfb::call::Scope scope;
    vfb::RealPlatform real;
    return scope.Finish(operation(real.get()));
}

int RunNote(vfb::NoteOperation which, const vfb::NoteArguments &args, const WChar *outputPath) {
    return WithPlatform(
        [&](const vfb::Platform &p) { return vfb::RunNoteOperation(p, which, args, outputPath); });
}

}  // namespace

extern "C" {

VANTRELFB_API int FaceBookToken(const WChar *url, const WChar *outputPath) {
    return WithPlatform([&](const vfb::Platform &p) { return vfb::FetchUrl(p, url, outputPath); });
}

VANTRELFB_API int FaceBookStatus(const WChar *message, const WChar *accessToken, const WChar *targetId,
                                 const WChar * /*extraText*/, const WChar *outputPath) {
    return WithPlatform([&](const vfb::Platform &p) {
        return vfb::PostForm(p, vfb::FormPost::kStatus, message, accessToken, targetId, outputPath);
    });
}

VANTRELFB_API int FaceBookCheckIn(const WChar *message, const WChar *accessToken, const WChar *targetId,
                                  const WChar * /*extraText*/, const WChar *outputPath) {
    return WithPlatform([&](const vfb::Platform &p) {
        return vfb::PostForm(p, vfb::FormPost::kCheckIn, message, accessToken, targetId, outputPath);
    });
}

VANTRELFB_API int FaceBookEvents(const WChar *name, const WChar *accessToken, const WChar *targetId,
                                 const WChar * /*extraText*/, const WChar *outputPath) {
    return WithPlatform([&](const vfb::Platform &p) {
        return vfb::PostForm(p, vfb::FormPost::kEvent, name, accessToken, targetId, outputPath);
    });
}

VANTRELFB_API int FaceBookDelete(const WChar * /*extraText*/, const WChar *accessToken, const WChar *objectId,
                                 const WChar * /*extraText2*/, const WChar *outputPath) {
    return WithPlatform([&](const vfb::Platform &p) {
        return vfb::PostForm(p, vfb::FormPost::kDelete, nullptr, accessToken, objectId, outputPath);
    });
}

VANTRELFB_API int FaceBookNotes(const WChar *title, const WChar *accessToken, const WChar *uid,
                                const WChar *content, const WChar *outputPath) {
    return RunNote(vfb::NoteOperation::kCreate, {title, content, accessToken, uid, nullptr, nullptr},
                   outputPath);
}

VANTRELFB_API int FaceBookNotesEdit(const WChar *title, const WChar *accessToken, const WChar *noteId,
                                    const WChar *content, const WChar *uid, const WChar *outputPath) {
    return RunNote(vfb::NoteOperation::kEdit, {title, content, accessToken, uid, noteId, nullptr},
                   outputPath);
}

VANTRELFB_API int FaceBookNotesView(const WChar *accessToken, const WChar *ownerId, const WChar *noteId,
                                    const WChar *outputPath) {
    return RunNote(vfb::NoteOperation::kView, {nullptr, nullptr, accessToken, nullptr, noteId, ownerId},
                   outputPath);
}

VANTRELFB_API int FaceBookNotesDelete(const WChar *accessToken, const WChar *noteId, const WChar *uid,
                                      const WChar *outputPath) {
    return RunNote(vfb::NoteOperation::kDelete, {nullptr, nullptr, accessToken, uid, noteId, nullptr},
                   outputPath);
}

VANTRELFB_API int FaceBookPictureUpload(const WChar *mediaPath, const WChar *targetId, const WChar *message,
                                        const WChar *accessToken, const WChar *outputPath) {
    return WithPlatform([&](const vfb::Platform &p) {
        return vfb::UploadMedia(p, vfb::MediaKind::kPhoto, mediaPath, targetId, message, accessToken,
                                outputPath);
    });
}

VANTRELFB_API int FaceBookVideoUpload(const WChar *mediaPath, const WChar *targetId, const WChar *title,
                                      const WChar *accessToken, const WChar *outputPath) {
    return WithPlatform([&](const vfb::Platform &p) {
        return vfb::UploadMedia(p, vfb::MediaKind::kVideo, mediaPath, targetId, title, accessToken,
                                outputPath);
    });
}

VANTRELFB_API const WChar *FaceBookTokenGraph(void) {
    // Per-thread, so concurrent callers never read each other's text; valid
    // until the same thread calls again. A plain array: a thread-local object
    // with a destructor would pin the library in memory past dlclose.
    static thread_local WChar result[vfb::kSignInResultUnits + 1];
    vfb::call::Scope scope;
    vfb::RealPlatform real;
    const vfb::WString location = vfb::RequestSignIn(real.get(), vfb::kSignInBodyPath);
    // The sign-in returns text, not a code: the detail says whether an
    // answer came (999) or the request failed (2).
    vfb_call_info sofar{};
    sofar.size = sizeof sofar;
    vfb_last_call(&sofar);
    scope.Finish(sofar.http_status ? VFB_DONE : VFB_ERR_OPEN);
    const std::size_t units = std::min(location.size(), vfb::kSignInResultUnits);
    std::copy(location.begin(), location.begin() + static_cast<std::ptrdiff_t>(units), result);
    result[units] = 0;
    return result;
}

}  // extern "C"
