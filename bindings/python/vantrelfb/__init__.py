"""VantrelFB from Python: the library's twelve calls through ctypes.

Each call performs one synchronous HTTPS exchange and stores the response body,
byte for byte, in the file named by ``out``; it returns a :class:`Result`.
``Result.DONE`` (999) only says the exchange ran to its end: whether the
service accepted the request is in that file (a new object's id, or the
service's error object).

    import vantrelfb
    rc = vantrelfb.status(message="Hello", token=TOKEN, target="me", out="answer.json")
    if rc != vantrelfb.Result.DONE:
        print(rc.meaning)
    location = vantrelfb.signin()

The functions with snake_case names take keyword arguments only, named as the
``vantrelfb`` tool's options are. The export names (``FaceBookStatus``, ...)
are there too and take the C arguments in the C order. Texts are ``str``
(``None`` is an empty text); paths are ``str``, ``bytes`` or path objects.

The library is ``libvantrelfb.so.1``, found as the dynamic loader finds it
(``LD_LIBRARY_PATH``, the system's directories); ``VANTRELFB_LIBRARY`` in the
environment, or :func:`load`, names another file. Calls from several threads
run at once: ctypes releases the interpreter lock during each.
"""

import ctypes
import ctypes.util
import enum
import os
import threading

__all__ = [
    "Result", "result_meaning", "load",
    "fetch", "status", "checkin", "event", "delete", "note_create", "note_edit", "note_view",
    "note_delete", "photo", "video", "signin",
    "FaceBookToken", "FaceBookStatus", "FaceBookNotes", "FaceBookCheckIn", "FaceBookEvents",
    "FaceBookNotesEdit", "FaceBookNotesView", "FaceBookNotesDelete", "FaceBookPictureUpload",
    "FaceBookVideoUpload", "FaceBookTokenGraph", "FaceBookDelete",
]

class Result(enum.IntEnum):
    """A call's result code; the names are the header's VFB_ constants without the prefix."""

    DONE = 999
    ERR_OPEN_ROOT_OR_MEDIA = 1
    ERR_OPEN = 2
    ERR_SEND = 3
    ERR_READ = 4
    ERR_TOO_LARGE = 5
    ERR_MEDIA_READ = 7
    ERR_SEND_CHUNK = 8
    ERR_SEND_CLOSING = 9
    ERR_START = 51
    ERR_CONNECT = 222

    @property
    def meaning(self):
        """The one-line meaning the tool prints."""
        return _MEANINGS[self.value]

    @property
    def written(self):
        """Whether the output file can have been (re)written."""
        return self is Result.DONE


# The header's table: vfb_result_meaning is an inline function, not an
# export, so there is nothing to call. The test suite holds this copy to
# include/vantrelfb.h.
_MEANINGS = {
    999: "done: the response body is in the output file (if it could be created)",
    1: "the internet handle or the media file could not be opened",
    2: "the URL or request could not be opened, or the input was rejected",
    3: "the request could not be sent (network, name resolution or TLS failure)",
    4: "reading the response failed",
    5: "the response was 1999 bytes or more, too large to store",
    7: "reading the media file failed, or it changed during the upload",
    8: "sending a chunk of the media file failed",
    9: "sending the closing part of the upload failed",
    51: "the upload could not be started (network, name resolution, TLS) or the input was rejected",
    222: "the connection handle could not be created",
}
_UNKNOWN = "unknown result code"


def result_meaning(code):
    """The meaning of any result code, as the header's vfb_result_meaning gives it."""
    return _MEANINGS.get(int(code), _UNKNOWN)


# Export name -> number of text arguments, in the header's order.
_EXPORTS = {
    "FaceBookToken": 2, "FaceBookStatus": 5, "FaceBookNotes": 5, "FaceBookCheckIn": 5,
    "FaceBookEvents": 5, "FaceBookNotesEdit": 6, "FaceBookNotesView": 4, "FaceBookNotesDelete": 4,
    "FaceBookPictureUpload": 5, "FaceBookVideoUpload": 5, "FaceBookDelete": 5,
}
# UTF-16 code units, whatever the platform's wchar_t is (c_wchar_p would pass
# UTF-32 on Linux).
_Units = ctypes.POINTER(ctypes.c_uint16)

_lock = threading.Lock()
_library = None


def load(path=None):
    """Loads the library (once) and returns the ctypes handle.

    ``path`` names the file; without it, ``VANTRELFB_LIBRARY``, else
    ``libvantrelfb.so.1`` as the loader finds it, else what
    ``ctypes.util.find_library("vantrelfb")`` finds. A later call with a path
    replaces the library the functions use.
    """
    global _library
    with _lock:
        if _library is not None and path is None:
            return _library
        candidates = [path] if path is not None else [os.environ.get("VANTRELFB_LIBRARY")]
        if path is None and not candidates[0]:
            candidates = ["VantrelFB.dll" if os.name == "nt" else "libvantrelfb.so.1",
                          ctypes.util.find_library("vantrelfb")]
        errors = []
        for candidate in filter(None, candidates):
            try:
                library = ctypes.CDLL(os.fspath(candidate))
                break
            except OSError as error:
                errors.append(str(error))
        else:
            raise OSError("libvantrelfb not found (set VANTRELFB_LIBRARY to its path): " + "; ".join(errors))
        for name, count in _EXPORTS.items():
            function = getattr(library, name)
            function.argtypes = [_Units] * count
            function.restype = ctypes.c_int
        # A pointer, not a string type: ctypes must neither convert nor free
        # the library's buffer.
        library.FaceBookTokenGraph.argtypes = []
        library.FaceBookTokenGraph.restype = ctypes.c_void_p
        _library = library
        return library


def _units(value, what):
    """A NUL-terminated UTF-16 copy of a text or path, or None for an empty text."""
    if value is None:
        return None
    if isinstance(value, (bytes, os.PathLike)):
        value = os.fsdecode(value)
    if not isinstance(value, str):
        raise TypeError("%s must be a str, not %s" % (what, type(value).__name__))
    if "\0" in value:
        raise ValueError("%s holds a NUL character, where the library's text would end" % what)
    # surrogatepass: a lone surrogate (a file name in surrogateescape, say)
    # reaches the library, which sends U+FFFD in its place.
    data = (value + "\0").encode("utf-16-le", "surrogatepass")
    return (ctypes.c_uint16 * (len(data) // 2)).from_buffer_copy(data)


def _result(code):
    return Result(code) if code in _MEANINGS else code


def _call(export, *args):
    """Calls an export with (name, value) pairs; returns a Result (or the int of an unknown code)."""
    buffers = [_units(value, name) for name, value in args]
    return _result(getattr(load(), export)(*buffers))


def _location():
    pointer = load().FaceBookTokenGraph()
    if not pointer:
        return ""
    # The text is the library's, valid until this thread's next call: copy it
    # now, never free it.
    count = 0
    while ctypes.c_uint16.from_address(pointer + 2 * count).value:
        count += 1
    return ctypes.string_at(pointer, 2 * count).decode("utf-16-le", "surrogatepass")


# The calls, named as the tool's subcommands, keyword arguments only.

def fetch(*, url, out):
    """GET any URL and stream the body into ``out`` (FaceBookToken)."""
    return _call("FaceBookToken", ("url", url), ("out", out))


def status(*, message, token, target, out, extra=None):
    """Post ``message`` to the feed of ``target`` (FaceBookStatus)."""
    return _call("FaceBookStatus", ("message", message), ("token", token), ("target", target),
                 ("extra", extra), ("out", out))


def checkin(*, message, token, target, out, extra=None):
    """Post a check-in at the library's built-in place (FaceBookCheckIn)."""
    return _call("FaceBookCheckIn", ("message", message), ("token", token), ("target", target),
                 ("extra", extra), ("out", out))


def event(*, name, token, target, out, extra=None):
    """Create an event named ``name`` (FaceBookEvents)."""
    return _call("FaceBookEvents", ("name", name), ("token", token), ("target", target),
                 ("extra", extra), ("out", out))


def delete(*, token, object_id, out, extra=None, extra2=None):
    """Delete any object (FaceBookDelete)."""
    return _call("FaceBookDelete", ("extra", extra), ("token", token), ("object_id", object_id),
                 ("extra2", extra2), ("out", out))


def note_create(*, title, token, uid, content, out):
    """Create a note (FaceBookNotes)."""
    return _call("FaceBookNotes", ("title", title), ("token", token), ("uid", uid),
                 ("content", content), ("out", out))


def note_edit(*, title, token, note, content, uid, out):
    """Replace a note's title and body (FaceBookNotesEdit)."""
    return _call("FaceBookNotesEdit", ("title", title), ("token", token), ("note", note),
                 ("content", content), ("uid", uid), ("out", out))


def note_view(*, token, owner, note, out):
    """Read the note ``owner``_``note`` (FaceBookNotesView)."""
    return _call("FaceBookNotesView", ("token", token), ("owner", owner), ("note", note), ("out", out))


def note_delete(*, token, note, uid, out):
    """Delete a note (FaceBookNotesDelete)."""
    return _call("FaceBookNotesDelete", ("token", token), ("note", note), ("uid", uid), ("out", out))


def photo(*, media, target, token, out, message=None):
    """Upload the JPEG file ``media`` (FaceBookPictureUpload)."""
    return _call("FaceBookPictureUpload", ("media", media), ("target", target), ("message", message),
                 ("token", token), ("out", out))


def video(*, media, target, token, out, title=None):
    """Upload the MP4 file ``media`` (FaceBookVideoUpload)."""
    return _call("FaceBookVideoUpload", ("media", media), ("target", target), ("title", title),
                 ("token", token), ("out", out))


def signin():
    """Request the sign-in dialog; returns its Location, or "" (FaceBookTokenGraph)."""
    return _location()


# The exports under their own names, with the header's arguments in its order.

def FaceBookToken(url, outputPath):
    return _call("FaceBookToken", ("url", url), ("outputPath", outputPath))


def FaceBookStatus(message, accessToken, targetId, extraText, outputPath):
    return _call("FaceBookStatus", ("message", message), ("accessToken", accessToken),
                 ("targetId", targetId), ("extraText", extraText), ("outputPath", outputPath))


def FaceBookNotes(title, accessToken, uid, content, outputPath):
    return _call("FaceBookNotes", ("title", title), ("accessToken", accessToken), ("uid", uid),
                 ("content", content), ("outputPath", outputPath))


def FaceBookCheckIn(message, accessToken, targetId, extraText, outputPath):
    return _call("FaceBookCheckIn", ("message", message), ("accessToken", accessToken),
                 ("targetId", targetId), ("extraText", extraText), ("outputPath", outputPath))


def FaceBookEvents(name, accessToken, targetId, extraText, outputPath):
    return _call("FaceBookEvents", ("name", name), ("accessToken", accessToken),
                 ("targetId", targetId), ("extraText", extraText), ("outputPath", outputPath))


def FaceBookNotesEdit(title, accessToken, noteId, content, uid, outputPath):
    return _call("FaceBookNotesEdit", ("title", title), ("accessToken", accessToken), ("noteId", noteId),
                 ("content", content), ("uid", uid), ("outputPath", outputPath))


def FaceBookNotesView(accessToken, ownerId, noteId, outputPath):
    return _call("FaceBookNotesView", ("accessToken", accessToken), ("ownerId", ownerId),
                 ("noteId", noteId), ("outputPath", outputPath))


def FaceBookNotesDelete(accessToken, noteId, uid, outputPath):
    return _call("FaceBookNotesDelete", ("accessToken", accessToken), ("noteId", noteId), ("uid", uid),
                 ("outputPath", outputPath))


def FaceBookPictureUpload(mediaPath, targetId, message, accessToken, outputPath):
    return _call("FaceBookPictureUpload", ("mediaPath", mediaPath), ("targetId", targetId),
                 ("message", message), ("accessToken", accessToken), ("outputPath", outputPath))


def FaceBookVideoUpload(mediaPath, targetId, title, accessToken, outputPath):
    return _call("FaceBookVideoUpload", ("mediaPath", mediaPath), ("targetId", targetId),
                 ("title", title), ("accessToken", accessToken), ("outputPath", outputPath))


def FaceBookTokenGraph():
    return _location()


def FaceBookDelete(extraText, accessToken, objectId, extraText2, outputPath):
    return _call("FaceBookDelete", ("extraText", extraText), ("accessToken", accessToken),
                 ("objectId", objectId), ("extraText2", extraText2), ("outputPath", outputPath))
