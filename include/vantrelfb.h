/*
 * VantrelFB: a native client for the social network's Graph API.
 *
 * Each service function performs one synchronous HTTPS exchange and stores the
 * response body, byte for byte, in a file named by the caller. The library
 * interprets nothing it receives: the service's answer (a new object's id, an
 * error object) is in the file. It keeps no state between calls, needs no
 * set-up call and reads no configuration.
 */
#ifndef VANTRELFB_H
#define VANTRELFB_H

#include <stdint.h>

/*
 * The wide text type: 16-bit code units (UTF-16), null terminated. Windows
 * uses its own wchar_t; elsewhere char16_t carries the same units.
 */
#if defined(_WIN32)
#include <wchar.h>
typedef wchar_t VFB_WCHAR;
#elif defined(__cplusplus)
typedef char16_t VFB_WCHAR;
#else
#include <uchar.h>
typedef char16_t VFB_WCHAR;
#endif

#if defined(_WIN32)
#if defined(VANTRELFB_BUILDING) && defined(__GNUC__)
#define VANTRELFB_API /* VantrelFB.def lists the exports and their ordinals */
#elif defined(VANTRELFB_BUILDING)
#define VANTRELFB_API __declspec(dllexport)
#else
#define VANTRELFB_API __declspec(dllimport)
#endif
#else
#define VANTRELFB_API __attribute__((visibility("default")))
#endif

/*
 * Result codes. 999 is the only one meaning the call ran to its end; it does
 * not say whether the service accepted the request (read the output file for
 * that). Every other code means the output file was left as it was, except
 * where noted.
 */
#define VFB_DONE 999                /* ran to its end; body stored when the file could be created */
#define VFB_ERR_OPEN_ROOT_OR_MEDIA 1 /* fetch: no internet handle; uploads: media file cannot be opened */
#define VFB_ERR_OPEN 2              /* fetch: URL not opened; uploads: no internet handle;
                                       form posts: request not opened or rejected input */
#define VFB_ERR_SEND 3              /* form posts: request not sent (network, name, TLS) */
#define VFB_ERR_READ 4              /* reading the response failed (cut, reset, stalled) */
#define VFB_ERR_TOO_LARGE 5         /* form posts: response of 1999 bytes or more */
#define VFB_ERR_MEDIA_READ 7        /* uploads: reading the media file failed or it changed size */
#define VFB_ERR_SEND_CHUNK 8        /* uploads: sending a chunk of the media file failed */
#define VFB_ERR_SEND_CLOSING 9      /* uploads: sending the closing part failed */
#define VFB_ERR_START 51            /* uploads: request not opened or started (network, name, TLS),
                                       opening part not sent, or rejected input */
#define VFB_ERR_CONNECT 222         /* form posts, uploads: connection handle not created */

/*
 * One table of meanings, shared by the library's tool and documentation.
 * `written` tells whether the output file can have been (re)written.
 */
static inline const char *vfb_result_meaning(int code, int *written)
{
    int w = 0;
    const char *m;
    switch (code) {
    case VFB_DONE: w = 1; m = "done: the response body is in the output file (if it could be created)"; break;
    case VFB_ERR_OPEN_ROOT_OR_MEDIA: m = "the internet handle or the media file could not be opened"; break;
    case VFB_ERR_OPEN: m = "the URL or request could not be opened, or the input was rejected"; break;
    case VFB_ERR_SEND: m = "the request could not be sent (network, name resolution or TLS failure)"; break;
    case VFB_ERR_READ: m = "reading the response failed"; break;
    case VFB_ERR_TOO_LARGE: m = "the response was 1999 bytes or more, too large to store"; break;
    case VFB_ERR_MEDIA_READ: m = "reading the media file failed, or it changed during the upload"; break;
    case VFB_ERR_SEND_CHUNK: m = "sending a chunk of the media file failed"; break;
    case VFB_ERR_SEND_CLOSING: m = "sending the closing part of the upload failed"; break;
    case VFB_ERR_START: m = "the upload could not be started (network, name resolution, TLS) or the input was rejected"; break;
    case VFB_ERR_CONNECT: m = "the connection handle could not be created"; break;
    default: m = "unknown result code"; break;
    }
    if (written) *written = w;
    return m;
}

#ifdef __cplusplus
extern "C" {
#endif

/* Ordinal 1: GET `url`, stream the body into `outputPath`. Results 1, 2, 4, 999. */
VANTRELFB_API int FaceBookToken(const VFB_WCHAR *url, const VFB_WCHAR *outputPath);
/* Ordinal 2: post `message` to the feed of `targetId`. Results 2, 3, 4, 5, 222, 999. */
VANTRELFB_API int FaceBookStatus(const VFB_WCHAR *message, const VFB_WCHAR *accessToken,
                                 const VFB_WCHAR *targetId, const VFB_WCHAR *extraText,
                                 const VFB_WCHAR *outputPath);
/* Ordinal 3: create a note. Results 1, 2, 4, 999 (what the fetch returned). */
VANTRELFB_API int FaceBookNotes(const VFB_WCHAR *title, const VFB_WCHAR *accessToken,
                                const VFB_WCHAR *uid, const VFB_WCHAR *content,
                                const VFB_WCHAR *outputPath);
/* Ordinal 4: post a check-in at the built-in place. Results as FaceBookStatus. */
VANTRELFB_API int FaceBookCheckIn(const VFB_WCHAR *message, const VFB_WCHAR *accessToken,
                                  const VFB_WCHAR *targetId, const VFB_WCHAR *extraText,
                                  const VFB_WCHAR *outputPath);
/* Ordinal 5: create an event named `name`. Results as FaceBookStatus. */
VANTRELFB_API int FaceBookEvents(const VFB_WCHAR *name, const VFB_WCHAR *accessToken,
                                 const VFB_WCHAR *targetId, const VFB_WCHAR *extraText,
                                 const VFB_WCHAR *outputPath);
/* Ordinal 6: edit a note; note the argument order (`uid` fifth). Results as FaceBookNotes. */
VANTRELFB_API int FaceBookNotesEdit(const VFB_WCHAR *title, const VFB_WCHAR *accessToken,
                                    const VFB_WCHAR *noteId, const VFB_WCHAR *content,
                                    const VFB_WCHAR *uid, const VFB_WCHAR *outputPath);
/* Ordinal 7: read the note `ownerId`_`noteId`. Results as FaceBookNotes. */
VANTRELFB_API int FaceBookNotesView(const VFB_WCHAR *accessToken, const VFB_WCHAR *ownerId,
                                    const VFB_WCHAR *noteId, const VFB_WCHAR *outputPath);
/* Ordinal 8: delete a note. Results as FaceBookNotes. */
VANTRELFB_API int FaceBookNotesDelete(const VFB_WCHAR *accessToken, const VFB_WCHAR *noteId,
                                      const VFB_WCHAR *uid, const VFB_WCHAR *outputPath);
/* Ordinal 9: upload a JPEG photo. Results 1, 2, 4, 7, 8, 9, 51, 222, 999. */
VANTRELFB_API int FaceBookPictureUpload(const VFB_WCHAR *mediaPath, const VFB_WCHAR *targetId,
                                        const VFB_WCHAR *message, const VFB_WCHAR *accessToken,
                                        const VFB_WCHAR *outputPath);
/* Ordinal 10: upload an MP4 video. Results as FaceBookPictureUpload. */
VANTRELFB_API int FaceBookVideoUpload(const VFB_WCHAR *mediaPath, const VFB_WCHAR *targetId,
                                      const VFB_WCHAR *title, const VFB_WCHAR *accessToken,
                                      const VFB_WCHAR *outputPath);
/*
 * Ordinal 11: request the sign-in dialog. Returns the response's Location
 * (at most 999 units) or an empty string. The text belongs to the calling
 * thread and stays valid until that thread's next call; never free it.
 */
VANTRELFB_API const VFB_WCHAR *FaceBookTokenGraph(void);
/* Ordinal 12: delete any object. Results as FaceBookStatus. */
VANTRELFB_API int FaceBookDelete(const VFB_WCHAR *extraText, const VFB_WCHAR *accessToken,
                                 const VFB_WCHAR *objectId, const VFB_WCHAR *extraText2,
                                 const VFB_WCHAR *outputPath);

#ifdef __cplusplus
}
#endif

/*
 * Export names by ordinal, for loaders that resolve by name only (dlsym).
 * Ordinals 13 to 16 are the sample class's constructor and assignment
 * operator, the sample function and the sample variable, under the names the
 * compiler gives them. MSVC decorates the members by target: __thiscall on
 * x86 (QAE), 64-bit pointers on x64 and ARM64 (QEAA), and neither on 32-bit
 * ARM, the Windows CE form (QAA).
 */
#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_ARM64))
#define VFB_SAMPLE_NAMES "??0CVantrelFB@@QEAA@XZ", "??4CVantrelFB@@QEAAAEAV0@AEBV0@@Z", \
                         "?fnVantrelFB@@YAHXZ", "?nVantrelFB@@3HA"
#elif defined(_MSC_VER) && defined(_M_IX86)
#define VFB_SAMPLE_NAMES "??0CVantrelFB@@QAE@XZ", "??4CVantrelFB@@QAEAAV0@ABV0@@Z", \
                         "?fnVantrelFB@@YAHXZ", "?nVantrelFB@@3HA"
#elif defined(_MSC_VER)
#define VFB_SAMPLE_NAMES "??0CVantrelFB@@QAA@XZ", "??4CVantrelFB@@QAAAAV0@ABV0@@Z", \
                         "?fnVantrelFB@@YAHXZ", "?nVantrelFB@@3HA"
#else
#define VFB_SAMPLE_NAMES "_ZN10CVantrelFBC1Ev", "_ZN10CVantrelFBaSERKS_", \
                         "_Z11fnVantrelFBv", "nVantrelFB"
#endif

static inline const char *vfb_export_name(int ordinal)
{
    static const char *const names[16] = {
        "FaceBookToken",   "FaceBookStatus",    "FaceBookNotes",         "FaceBookCheckIn",
        "FaceBookEvents",  "FaceBookNotesEdit", "FaceBookNotesView",     "FaceBookNotesDelete",
        "FaceBookPictureUpload", "FaceBookVideoUpload", "FaceBookTokenGraph", "FaceBookDelete",
        VFB_SAMPLE_NAMES};
    return (ordinal >= 1 && ordinal <= 16) ? names[ordinal - 1] : (const char *)0;
}

#ifdef __cplusplus
/* The samples every module of this family carries. */
class VANTRELFB_API CVantrelFB {
public:
    CVantrelFB();
    CVantrelFB &operator=(const CVantrelFB &other);
};

extern VANTRELFB_API int nVantrelFB;
VANTRELFB_API int fnVantrelFB(void);
#endif

#endif /* VANTRELFB_H */
