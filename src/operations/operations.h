// The service operations, each taking the platform it runs on.
#pragma once

#include "platform/platform.h"
#include "text/wide.h"

namespace vfb {

// The four service hosts, reached on port 443.
extern const char *const kGraphHost;
extern const char *const kRestHost;
extern const char *const kVideoHost;
extern const char *const kDialogHost;

// Limits of the per-call fields: a path or URL of at most 1999 units.
constexpr std::size_t kMaxPathUnits = 1999;
// An upload's closing part (the texts, the token and the boundaries), in bytes.
constexpr std::size_t kMaxClosingPartBytes = 999;

// The call's detail for input refused before anything is sent: the
// argument's position among the export's arguments (1 = first) and the limit
// it broke. A text is measured as UTF-8 and as encoded for a URL.
void RefuseText(int argument, const char *name, const WChar *text);
void RefuseLength(int argument, const char *what, std::size_t units, std::size_t limit);

int FetchUrl(const Platform &platform, const WChar *url, const WChar *outputPath);

enum class FormPost { kStatus, kCheckIn, kEvent, kDelete };
int PostForm(const Platform &platform, FormPost which, const WChar *text, const WChar *accessToken,
             const WChar *targetId, const WChar *outputPath);

enum class NoteOperation { kCreate, kEdit, kView, kDelete };
struct NoteArguments {
    const WChar *title = nullptr;
    const WChar *content = nullptr;
    const WChar *accessToken = nullptr;
    const WChar *uid = nullptr;
    const WChar *noteId = nullptr;
    const WChar *ownerId = nullptr;
};
int RunNoteOperation(const Platform &platform, NoteOperation which, const NoteArguments &args,
                     const WChar *outputPath);

// The multipart boundary for a moment: 21 units, "--" and 19 digits.
WString FormatBoundary(const LocalTime &time);

enum class MediaKind { kPhoto, kVideo };
int UploadMedia(const Platform &platform, MediaKind kind, const WChar *mediaPath, const WChar *targetId,
                const WChar *text, const WChar *accessToken, const WChar *outputPath);

// The Location of the sign-in dialog's answer (at most kSignInResultUnits
// units) or empty.
constexpr std::size_t kSignInResultUnits = 999;
WString RequestSignIn(const Platform &platform, const WChar *bodyPath);

}  // namespace vfb
