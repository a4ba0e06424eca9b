/*
 * VantrelFB: a native client for the social network's Graph API.
 *
 * Each service function performs one synchronous HTTPS exchange and stores the
 * response body, byte for byte, in a file named by the caller. The library
 * interprets nothing it receives: the service's answer (a new object's id, an
 * error object) is in the file. It needs no set-up call and reads no
 * configuration; between calls it keeps only idle connections for reuse
 * (Linux build) and, per thread, the detail of the last call and the
 * settings made with the vfb_ functions below.
 *
 * C: the header needs C11 (char16_t and u"" literals); C++: C++11.
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

/*
 * Extensions (ordinals 17 and up). Everything here is per thread, like
 * GetLastError: a call uses the settings its own thread made and leaves its
 * detail on that thread. None of it changes a call's result or its output
 * file; unused, it costs nothing.
 */

/* Ordinal 18: the one table of meanings (UTF-8, static, never null). */
VANTRELFB_API const char *(vfb_result_meaning)(int code);

/* Why a call failed, beyond its result code. */
typedef enum vfb_failure {
    VFB_FAIL_NONE = 0,
    VFB_FAIL_INPUT = 1,            /* an argument too long or invalid: `argument`, `limit` */
    VFB_FAIL_MEDIA_FILE = 2,       /* the media file could not be opened or read */
    VFB_FAIL_NAME_RESOLUTION = 3,  /* the host name did not resolve */
    VFB_FAIL_CONNECTION = 4,       /* no connection (refused, unreachable) */
    VFB_FAIL_PROXY = 5,            /* the proxy refused or failed */
    VFB_FAIL_TLS_CERTIFICATE = 6,  /* the server's certificate was not accepted */
    VFB_FAIL_TLS = 7,              /* any other TLS failure */
    VFB_FAIL_SEND = 8,             /* sending the request or its body failed */
    VFB_FAIL_STALLED = 9,          /* no byte moved either way for the stall limit */
    VFB_FAIL_TIMEOUT = 10,         /* connecting took longer than the connection time-out */
    VFB_FAIL_CUT_SHORT = 11,       /* the answer ended early or its framing was broken */
    VFB_FAIL_TOO_LARGE = 12,       /* the answer was too large to keep */
    VFB_FAIL_CANCELLED = 13,       /* the progress callback asked to stop */
    VFB_FAIL_OUTPUT_FILE = 14      /* the output file could not be created or written */
} vfb_failure;

/* What the calling thread's last call did. Set `size` to sizeof before asking. */
typedef struct vfb_call_info {
    unsigned size;
    int result;             /* the code the call returned */
    int http_status;        /* the final response's status; 0 when none arrived */
    int stored;             /* 1: the output file received the whole body that arrived */
    int stored_errno;       /* the system's error number when the file failed, else 0 */
    int failure;            /* a vfb_failure */
    int argument;           /* VFB_FAIL_INPUT: the argument's position (1 = first), else 0 */
    unsigned limit;         /* VFB_FAIL_INPUT: its limit, in the units the message names */
    int reused;             /* 1: the request went out on a connection an earlier call opened */
    uint64_t bytes_sent;    /* request bytes, headers and body, over every hop */
    uint64_t bytes_received;
    uint64_t elapsed_ms;
    char message[512];      /* one line of UTF-8 a person can act on; "" after a success */
} vfb_call_info;

/* Ordinal 17: fills `info` (up to info->size bytes); 0, or -1 when the size is too small. */
VANTRELFB_API int vfb_last_call(vfb_call_info *info);

/*
 * Ordinal 19: progress for the calling thread's calls; NULL turns it off.
 * Called on the calling thread whenever bytes move (at least once per 64 KiB),
 * about every 100 ms while none do, and once at the end. Totals are 0 when
 * unknown. Returning non-zero cancels the call within a second, with the code
 * of the step it was in and failure VFB_FAIL_CANCELLED. Windows build: a
 * WinINet step that blocks (connecting, a send, a read) is only interrupted
 * by its own time-out, so a cancel there waits for that step to end: up to
 * the connection time-out while connecting, the stall limit afterwards.
 */
typedef int (*vfb_progress_fn)(void *user, uint64_t sent, uint64_t send_total, uint64_t received,
                               uint64_t receive_total);
VANTRELFB_API void vfb_set_progress(vfb_progress_fn fn, void *user);

/* Ordinal 20: the connection time-out and the stall limit, in ms; 0 restores 60000. */
VANTRELFB_API void vfb_set_timeouts(unsigned connect_ms, unsigned stall_ms);

/*
 * Ordinal 21: one UTF-8 line per event of the calling thread's calls (connecting,
 * TLS, the request and response lines and headers, redirects, bytes, the
 * result); NULL turns it off. No line carries an access token or a Cookie or
 * Authorization value.
 */
typedef void (*vfb_trace_fn)(void *user, const char *line);
VANTRELFB_API void vfb_set_trace(vfb_trace_fn fn, void *user);

#ifdef __cplusplus
}
#endif

/*
 * The header's earlier inline form took a second argument, whether the output
 * file can have been written (only for VFB_DONE); calls written that way still
 * compile and mean the same.
 */
static inline const char *vfb_result_meaning_written(int code, int *written)
{
    if (written) *written = code == VFB_DONE;
    return (vfb_result_meaning)(code);
}
#define VFB_MEANING_PICK_(a, b, name, ...) name
#define vfb_result_meaning(...) \
    VFB_MEANING_PICK_(__VA_ARGS__, vfb_result_meaning_written, (vfb_result_meaning), 0)(__VA_ARGS__)

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

/* Ordinals 1 to VFB_EXPORT_COUNT are exported; nothing else is. */
#define VFB_EXPORT_COUNT 21

static inline const char *vfb_export_name(int ordinal)
{
    static const char *const names[VFB_EXPORT_COUNT] = {
        "FaceBookToken",   "FaceBookStatus",    "FaceBookNotes",         "FaceBookCheckIn",
        "FaceBookEvents",  "FaceBookNotesEdit", "FaceBookNotesView",     "FaceBookNotesDelete",
        "FaceBookPictureUpload", "FaceBookVideoUpload", "FaceBookTokenGraph", "FaceBookDelete",
        VFB_SAMPLE_NAMES,
        "vfb_last_call",   "vfb_result_meaning", "vfb_set_progress",     "vfb_set_timeouts",
        "vfb_set_trace"};
    return (ordinal >= 1 && ordinal <= VFB_EXPORT_COUNT) ? names[ordinal - 1] : (const char *)0;
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
