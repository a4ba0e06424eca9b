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

Every call also takes these keyword arguments:

``progress``
    a callable ``progress(sent, send_total, received, receive_total)``, called on
    the calling thread while bytes move and about every 100 ms while none do
    (totals are 0 when unknown). Returning ``True`` cancels the call, which
    then ends within a second with the code of the step it was in.
``connect_timeout``, ``stall_timeout``
    seconds allowed to connect, and with no byte moving either way (60 each by
    default).
``check``
    ``True`` raises an :class:`Error` instead of returning: :class:`CallFailed`
    for any code but ``DONE`` (:class:`Cancelled` when the call was cancelled),
    :class:`NotStored` when the answer could not be written to ``out``,
    :class:`ServiceError` when ``out`` holds the service's error object, and
    :class:`HttpError` for another answer of status 400 or more.

A callback that raises (the progress callable, or the trace callable of
:func:`set_trace`) cancels the call, and its exception is raised when the call
has returned; with ``progress`` set, Ctrl-C cancels the call the same way.
:func:`last_call` tells what the calling thread's last call did.

    try:
        vantrelfb.video(media="talk.mp4", target="me", token=TOKEN, out="video.json",
                        progress=lambda sent, total, *_: print(sent, "of", total), check=True)
    except vantrelfb.ServiceError as error:
        print(error.service_error["message"])
    except vantrelfb.Error as error:
        print(error.detail.message)
"""

import ctypes
import ctypes.util
import dataclasses
import enum
import functools
import json
import math
import os
import threading

__all__ = [
    "Result", "result_meaning", "load", "Failure", "CallInfo", "last_call", "set_trace",
    "Error", "CallFailed", "Cancelled", "NotStored", "ServiceError", "HttpError",
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
        return result_meaning(self.value)

    @property
    def written(self):
        """Whether the output file can have been (re)written."""
        return self is Result.DONE


class Failure(enum.IntEnum):
    """Why a call failed, beyond its result code: the header's vfb_failure without VFB_FAIL_."""

    NONE = 0
    INPUT = 1
    MEDIA_FILE = 2
    NAME_RESOLUTION = 3
    CONNECTION = 4
    PROXY = 5
    TLS_CERTIFICATE = 6
    TLS = 7
    SEND = 8
    STALLED = 9
    TIMEOUT = 10
    CUT_SHORT = 11
    TOO_LARGE = 12
    CANCELLED = 13
    OUTPUT_FILE = 14


@functools.lru_cache(maxsize=None)
def result_meaning(code):
    """The meaning of any result code: the library's vfb_result_meaning."""
    return load().vfb_result_meaning(int(code)).decode("utf-8", "replace")


class _CallInfo(ctypes.Structure):
    # The header's vfb_call_info, field for field; ctypes pads as the C compiler does.
    _fields_ = [
        ("size", ctypes.c_uint),
        ("result", ctypes.c_int),
        ("http_status", ctypes.c_int),
        ("stored", ctypes.c_int),
        ("stored_errno", ctypes.c_int),
        ("failure", ctypes.c_int),
        ("argument", ctypes.c_int),
        ("limit", ctypes.c_uint),
        ("reused", ctypes.c_int),
        ("bytes_sent", ctypes.c_uint64),
        ("bytes_received", ctypes.c_uint64),
        ("elapsed_ms", ctypes.c_uint64),
        ("message", ctypes.c_char * 512),
    ]


@dataclasses.dataclass(frozen=True)
class CallInfo:
    """What a call did (vfb_last_call)."""

    result: int             # a Result, or the int of an unknown code
    http_status: int        # the final response's status; 0 when none arrived
    stored: bool            # the output file received the whole body that arrived
    stored_errno: int       # the system's error number when it did not, else 0
    failure: Failure
    argument: int           # Failure.INPUT: the refused argument's position (1 = first)
    limit: int              # Failure.INPUT: its limit
    reused: bool            # the request went out on a connection an earlier call opened
    bytes_sent: int
    bytes_received: int
    elapsed_ms: int
    message: str            # one line a person can act on; "" after a success


def last_call():
    """The detail of the calling thread's last call, as a :class:`CallInfo`."""
    info = _CallInfo()
    info.size = ctypes.sizeof(info)
    if load().vfb_last_call(ctypes.byref(info)) != 0:
        raise RuntimeError("vfb_last_call refused a record of %d bytes" % info.size)
    try:
        failure = Failure(info.failure)
    except ValueError:
        failure = info.failure  # a cause newer than this module
    return CallInfo(result=_result(info.result), http_status=info.http_status, stored=bool(info.stored),
                    stored_errno=info.stored_errno, failure=failure, argument=info.argument,
                    limit=info.limit, reused=bool(info.reused), bytes_sent=info.bytes_sent,
                    bytes_received=info.bytes_received, elapsed_ms=info.elapsed_ms,
                    message=info.message.decode("utf-8", "replace"))


class Error(Exception):
    """A call made with ``check=True`` did not give a usable answer.

    ``detail`` is the call's :class:`CallInfo`, ``result`` its code, ``out`` the
    output file's path and ``service_error`` the service's error object (a dict)
    when the answer is one, else None.
    """

    def __init__(self, message, detail, out=None, service_error=None):
        super().__init__(message)
        self.detail = detail
        self.result = detail.result
        self.out = out
        self.service_error = service_error


class CallFailed(Error):
    """The call returned a code other than DONE."""


class Cancelled(CallFailed):
    """The progress callback cancelled the call (or the call was interrupted)."""


class NotStored(Error):
    """The exchange ran to its end, but its answer could not be written to the output file."""


class ServiceError(Error):
    """The service answered with its error object; ``service_error`` holds it, ``code`` its code."""

    @property
    def code(self):
        return self.service_error.get("code")


class HttpError(Error):
    """The service answered with a status of 400 or more and no error object of its own."""


# Export name -> number of text arguments, in the header's order.
_EXPORTS = {
    "FaceBookToken": 2, "FaceBookStatus": 5, "FaceBookNotes": 5, "FaceBookCheckIn": 5,
    "FaceBookEvents": 5, "FaceBookNotesEdit": 6, "FaceBookNotesView": 4, "FaceBookNotesDelete": 4,
    "FaceBookPictureUpload": 5, "FaceBookVideoUpload": 5, "FaceBookDelete": 5,
}
# UTF-16 code units, whatever the platform's wchar_t is (c_wchar_p would pass
# UTF-32 on Linux).
_Units = ctypes.POINTER(ctypes.c_uint16)
_ProgressFn = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_uint64,
                               ctypes.c_uint64, ctypes.c_uint64)
_TraceFn = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)

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
        library.vfb_result_meaning.argtypes = [ctypes.c_int]
        library.vfb_result_meaning.restype = ctypes.c_char_p
        library.vfb_last_call.argtypes = [ctypes.POINTER(_CallInfo)]
        library.vfb_last_call.restype = ctypes.c_int
        library.vfb_set_progress.argtypes = [_ProgressFn, ctypes.c_void_p]
        library.vfb_set_progress.restype = None
        library.vfb_set_timeouts.argtypes = [ctypes.c_uint, ctypes.c_uint]
        library.vfb_set_timeouts.restype = None
        library.vfb_set_trace.argtypes = [_TraceFn, ctypes.c_void_p]
        library.vfb_set_trace.restype = None
        _library = library
        result_meaning.cache_clear()
        return library


_trace = None


def set_trace(function):
    """Traces every later call, from any thread: ``function(line)`` receives one
    ``str`` per event (connecting, the request and response lines and headers,
    redirects, the result), on the calling thread. No line carries an access
    token or a cookie. ``None`` turns it off."""
    global _trace
    if function is not None and not callable(function):
        raise TypeError("the trace must be callable or None")
    _trace = function


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
    try:
        return Result(code)
    except ValueError:
        return code


def _milliseconds(seconds, what):
    if seconds is None:
        return 0  # the library's default
    ms = math.ceil(float(seconds) * 1000)
    if not 0 < ms < 2 ** 32:
        raise ValueError("%s must be more than 0 and less than %d seconds" % (what, 2 ** 32 // 1000))
    return ms


_OPTIONS = ("progress", "connect_timeout", "stall_timeout", "check")


class _Settings:
    """The library's settings for one call on this thread, set before it and
    turned off after it: they are per thread, and the callbacks must not
    outlive the call."""

    def __init__(self, progress, connect_timeout, stall_timeout):
        if progress is not None and not callable(progress):
            raise TypeError("progress must be callable or None")
        self.progress = progress
        self.timeouts = (_milliseconds(connect_timeout, "connect_timeout"),
                         _milliseconds(stall_timeout, "stall_timeout"))
        self.trace = _trace
        self.raised = None
        self.library = load()

    def _on_progress(self, user, sent, send_total, received, receive_total):
        # An exception must not cross the library's frames: ctypes would only
        # print it and go on. It cancels the call and is raised once it returned.
        if self.raised is not None:
            return 1
        try:
            if self.progress is not None and self.progress(sent, send_total, received, receive_total):
                return 1
        except BaseException as error:  # Ctrl-C as well: the call must end before it propagates
            self.raised = error
            return 1
        return 0

    def _on_trace(self, user, line):
        if self.raised is not None:
            return
        try:
            self.trace(line.decode("utf-8", "replace"))
        except BaseException as error:
            self.raised = error

    def __enter__(self):
        library = self.library
        # Held in self for as long as the library may call them.
        self.progress_fn = self.trace_fn = None
        # A raising trace can only cancel through the progress callback.
        if self.progress is not None or self.trace is not None:
            self.progress_fn = _ProgressFn(self._on_progress)
            library.vfb_set_progress(self.progress_fn, None)
        if self.trace is not None:
            self.trace_fn = _TraceFn(self._on_trace)
            library.vfb_set_trace(self.trace_fn, None)
        if self.timeouts != (0, 0):
            library.vfb_set_timeouts(*self.timeouts)
        return self

    def __exit__(self, *exc):
        library = self.library
        if self.progress_fn is not None:
            library.vfb_set_progress(_ProgressFn(), None)
        if self.trace_fn is not None:
            library.vfb_set_trace(_TraceFn(), None)
        if self.timeouts != (0, 0):
            library.vfb_set_timeouts(0, 0)
        return False


def _run(options, call):
    """Runs ``call()`` (one export) with the call options; returns its value and
    whether check=True was asked."""
    unknown = set(options) - set(_OPTIONS)
    if unknown:
        raise TypeError("unexpected keyword argument %s" % ", ".join(sorted(unknown)))
    settings = _Settings(options.get("progress"), options.get("connect_timeout"), options.get("stall_timeout"))
    with settings:
        value = call()
    if settings.raised is not None:
        raise settings.raised
    return value, bool(options.get("check"))


# An error object is small; a larger answer is not read to look for one.
_SERVICE_ERROR_MAX = 64 * 1024


def _service_error(out):
    """The service's error object, {"error": {...}}, when the file holds one."""
    try:
        with open(out, "rb") as file:
            data = file.read(_SERVICE_ERROR_MAX + 1)
        if len(data) > _SERVICE_ERROR_MAX:
            return None
        answer = json.loads(data.decode("utf-8"))
    except (OSError, ValueError):
        return None
    error = answer.get("error") if isinstance(answer, dict) else None
    return error if isinstance(error, dict) else None


def _check(detail, out):
    """Raises the Error that fits a finished call's detail, if any."""
    if detail.result != Result.DONE:
        kind = Cancelled if detail.failure == Failure.CANCELLED else CallFailed
        raise kind(detail.message or result_meaning(detail.result), detail, out)
    if not detail.stored:
        raise NotStored(detail.message or "the answer could not be stored", detail, out)
    service_error = _service_error(out)
    if service_error is not None:
        raise ServiceError("the service refused: %s (code %s)" % (service_error.get("message"),
                                                                  service_error.get("code")),
                           detail, out, service_error)
    if detail.http_status >= 400:
        raise HttpError("the service answered with status %d" % detail.http_status, detail, out)


def _call(export, options, *args):
    """Calls an export with (name, value) pairs; returns a Result (or the int of an unknown code)."""
    buffers = [_units(value, name) for name, value in args]
    function = getattr(load(), export)
    code, check = _run(options, lambda: function(*buffers))
    if check:
        # The output path is an export's last argument.
        _check(last_call(), args[-1][1])
    return _result(code)


def _location(options):
    library = load()
    pointer, check = _run(options, library.FaceBookTokenGraph)
    if not pointer:
        location = ""
    else:
        # The text is the library's, valid until this thread's next call: copy it
        # now, never free it.
        count = 0
        while ctypes.c_uint16.from_address(pointer + 2 * count).value:
            count += 1
        location = ctypes.string_at(pointer, 2 * count).decode("utf-16-le", "surrogatepass")
    if check and not location:
        detail = last_call()
        raise CallFailed(detail.message or "the sign-in's answer carried no Location", detail)
    return location


# The calls, named as the tool's subcommands, keyword arguments only.

def fetch(*, url, out, **options):
    """GET any URL and stream the body into ``out`` (FaceBookToken)."""
    return _call("FaceBookToken", options, ("url", url), ("out", out))


def status(*, message, token, target, out, extra=None, **options):
    """Post ``message`` to the feed of ``target`` (FaceBookStatus)."""
    return _call("FaceBookStatus", options, ("message", message), ("token", token), ("target", target),
                 ("extra", extra), ("out", out))


def checkin(*, message, token, target, out, extra=None, **options):
    """Post a check-in at the library's built-in place (FaceBookCheckIn)."""
    return _call("FaceBookCheckIn", options, ("message", message), ("token", token), ("target", target),
                 ("extra", extra), ("out", out))


def event(*, name, token, target, out, extra=None, **options):
    """Create an event named ``name`` (FaceBookEvents)."""
    return _call("FaceBookEvents", options, ("name", name), ("token", token), ("target", target),
                 ("extra", extra), ("out", out))


def delete(*, token, object_id, out, extra=None, extra2=None, **options):
    """Delete any object (FaceBookDelete)."""
    return _call("FaceBookDelete", options, ("extra", extra), ("token", token), ("object_id", object_id),
                 ("extra2", extra2), ("out", out))


def note_create(*, title, token, uid, content, out, **options):
    """Create a note (FaceBookNotes)."""
    return _call("FaceBookNotes", options, ("title", title), ("token", token), ("uid", uid),
                 ("content", content), ("out", out))


def note_edit(*, title, token, note, content, uid, out, **options):
    """Replace a note's title and body (FaceBookNotesEdit)."""
    return _call("FaceBookNotesEdit", options, ("title", title), ("token", token), ("note", note),
                 ("content", content), ("uid", uid), ("out", out))


def note_view(*, token, owner, note, out, **options):
    """Read the note ``owner``_``note`` (FaceBookNotesView)."""
    return _call("FaceBookNotesView", options, ("token", token), ("owner", owner), ("note", note), ("out", out))


def note_delete(*, token, note, uid, out, **options):
    """Delete a note (FaceBookNotesDelete)."""
    return _call("FaceBookNotesDelete", options, ("token", token), ("note", note), ("uid", uid), ("out", out))


def photo(*, media, target, token, out, message=None, **options):
    """Upload the JPEG file ``media`` (FaceBookPictureUpload)."""
    return _call("FaceBookPictureUpload", options, ("media", media), ("target", target), ("message", message),
                 ("token", token), ("out", out))


def video(*, media, target, token, out, title=None, **options):
    """Upload the MP4 file ``media`` (FaceBookVideoUpload)."""
    return _call("FaceBookVideoUpload", options, ("media", media), ("target", target), ("title", title),
                 ("token", token), ("out", out))


def signin(**options):
    """Request the sign-in dialog; returns its Location, or "" (FaceBookTokenGraph)."""
    return _location(options)


# The exports under their own names, with the header's arguments in its order.

def FaceBookToken(url, outputPath, **options):
    return _call("FaceBookToken", options, ("url", url), ("outputPath", outputPath))


def FaceBookStatus(message, accessToken, targetId, extraText, outputPath, **options):
    return _call("FaceBookStatus", options, ("message", message), ("accessToken", accessToken),
                 ("targetId", targetId), ("extraText", extraText), ("outputPath", outputPath))


def FaceBookNotes(title, accessToken, uid, content, outputPath, **options):
    return _call("FaceBookNotes", options, ("title", title), ("accessToken", accessToken), ("uid", uid),
                 ("content", content), ("outputPath", outputPath))


def FaceBookCheckIn(message, accessToken, targetId, extraText, outputPath, **options):
    return _call("FaceBookCheckIn", options, ("message", message), ("accessToken", accessToken),
                 ("targetId", targetId), ("extraText", extraText), ("outputPath", outputPath))


def FaceBookEvents(name, accessToken, targetId, extraText, outputPath, **options):
    return _call("FaceBookEvents", options, ("name", name), ("accessToken", accessToken),
                 ("targetId", targetId), ("extraText", extraText), ("outputPath", outputPath))


def FaceBookNotesEdit(title, accessToken, noteId, content, uid, outputPath, **options):
    return _call("FaceBookNotesEdit", options, ("title", title), ("accessToken", accessToken), ("noteId", noteId),
                 ("content", content), ("uid", uid), ("outputPath", outputPath))


def FaceBookNotesView(accessToken, ownerId, noteId, outputPath, **options):
    return _call("FaceBookNotesView", options, ("accessToken", accessToken), ("ownerId", ownerId),
                 ("noteId", noteId), ("outputPath", outputPath))


def FaceBookNotesDelete(accessToken, noteId, uid, outputPath, **options):
    return _call("FaceBookNotesDelete", options, ("accessToken", accessToken), ("noteId", noteId), ("uid", uid),
                 ("outputPath", outputPath))


def FaceBookPictureUpload(mediaPath, targetId, message, accessToken, outputPath, **options):
    return _call("FaceBookPictureUpload", options, ("mediaPath", mediaPath), ("targetId", targetId),
                 ("message", message), ("accessToken", accessToken), ("outputPath", outputPath))


def FaceBookVideoUpload(mediaPath, targetId, title, accessToken, outputPath, **options):
    return _call("FaceBookVideoUpload", options, ("mediaPath", mediaPath), ("targetId", targetId),
                 ("title", title), ("accessToken", accessToken), ("outputPath", outputPath))


def FaceBookTokenGraph(**options):
    return _location(options)


def FaceBookDelete(extraText, accessToken, objectId, extraText2, outputPath, **options):
    return _call("FaceBookDelete", options, ("extraText", extraText), ("accessToken", accessToken),
                 ("objectId", objectId), ("extraText2", extraText2), ("outputPath", outputPath))
