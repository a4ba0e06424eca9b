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
``vantrelfb`` tool's options are (``delete``'s ``object_id=``, its name before
it followed ``--object``, still works and warns with a DeprecationWarning). The export names (``FaceBookStatus``, ...)
are there too and take the C arguments in the C order. Texts are ``str``
(``None`` is an empty text); paths are ``str``, ``bytes`` or path objects. The
library takes UTF-16, so a text or path that has no exact UTF-16 form (a
``bytes`` path that is not UTF-8, a ``str`` holding a lone surrogate such as
``os.fsdecode`` makes of such a name) raises ``ValueError`` rather than reach
the library with characters replaced: two such names would name one file.

``__version__`` is the version of the library this module was written for.
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

from __future__ import annotations

import ctypes
import ctypes.util
import dataclasses
import enum
import functools
import json
import math
import os
import threading
import warnings
from typing import Any, Callable, Dict, List, Optional, Tuple, TypeVar, Union, cast

from ._version import __version__

__all__ = [
    "__version__", "Result", "result_meaning", "load", "Failure", "CallInfo", "last_call", "set_trace",
    "Error", "CallFailed", "Cancelled", "NotStored", "ServiceError", "HttpError",
    "PathArg", "ProgressFn", "TraceFn",
    "fetch", "status", "checkin", "event", "delete", "note_create", "note_edit", "note_view",
    "note_delete", "photo", "video", "signin",
    "FaceBookToken", "FaceBookStatus", "FaceBookNotes", "FaceBookCheckIn", "FaceBookEvents",
    "FaceBookNotesEdit", "FaceBookNotesView", "FaceBookNotesDelete", "FaceBookPictureUpload",
    "FaceBookVideoUpload", "FaceBookTokenGraph", "FaceBookDelete",
]

#: A file name: ``str``, UTF-8 ``bytes``, or a path object of either.
PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
#: ``progress(sent, send_total, received, receive_total)``; a true return cancels the call.
ProgressFn = Callable[[int, int, int, int], Optional[bool]]
#: ``trace(line)``: one line of the exchange, never an access token.
TraceFn = Callable[[str], object]


class Result(enum.IntEnum):
    """A call's result code; the names are the header's VFB_ constants without the prefix.

    A code this module does not know (from a newer library) is a member named
    ``UNKNOWN`` with that value, so that every call returns a Result.
    """

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

    @classmethod
    def _missing_(cls, value: object) -> Optional[Result]:
        return _unknown_member(cls, value)

    @property
    def meaning(self) -> str:
        """The one-line meaning the tool prints."""
        return result_meaning(self.value)

    @property
    def written(self) -> bool:
        """Whether the output file can have been (re)written."""
        return self is Result.DONE


class Failure(enum.IntEnum):
    """Why a call failed, beyond its result code: the header's vfb_failure without VFB_FAIL_.

    A cause this module does not know (from a newer library) is a member named
    ``UNKNOWN`` with that value.
    """

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

    @classmethod
    def _missing_(cls, value: object) -> Optional[Failure]:
        return _unknown_member(cls, value)


_Code = TypeVar("_Code", Result, Failure)


def _unknown_member(cls: type[_Code], value: object) -> Optional[_Code]:
    # Not added to the enumeration: iterating it still gives the header's codes.
    if not isinstance(value, int) or isinstance(value, bool):
        return None
    member = int.__new__(cls, value)
    member._name_ = "UNKNOWN"
    member._value_ = value
    return member


_meanings: Dict[int, str] = {}


def result_meaning(code: int) -> str:
    """The meaning of any result code, known or not: the library's vfb_result_meaning."""
    code = int(code)
    meaning = _meanings.get(code)
    if meaning is None:
        text: bytes = load().vfb_result_meaning(code)
        meaning = _meanings[code] = text.decode("utf-8", "replace")
    return meaning


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

    result: Result
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


def last_call() -> CallInfo:
    """The detail of the calling thread's last call, as a :class:`CallInfo`."""
    info = _CallInfo()
    info.size = ctypes.sizeof(info)
    if load().vfb_last_call(ctypes.byref(info)) != 0:
        raise RuntimeError("vfb_last_call refused a record of %d bytes" % info.size)
    message: bytes = info.message
    return CallInfo(result=Result(info.result), http_status=info.http_status, stored=bool(info.stored),
                    stored_errno=info.stored_errno, failure=Failure(info.failure), argument=info.argument,
                    limit=info.limit, reused=bool(info.reused), bytes_sent=info.bytes_sent,
                    bytes_received=info.bytes_received, elapsed_ms=info.elapsed_ms,
                    message=message.decode("utf-8", "replace"))


class Error(Exception):
    """A call made with ``check=True`` did not give a usable answer.

    ``detail`` is the call's :class:`CallInfo`, ``result`` its code, ``out`` the
    output file's path and ``service_error`` the service's error object (a dict)
    when the answer is one, else None.
    """

    def __init__(self, message: str, detail: CallInfo, out: Optional[PathArg] = None,
                 service_error: Optional[Dict[str, Any]] = None) -> None:
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

    service_error: Dict[str, Any]

    @property
    def code(self) -> Any:
        """The error object's ``code`` member (an int from the service), or None without one."""
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
_library: Optional[ctypes.CDLL] = None


def load(path: Optional[PathArg] = None) -> ctypes.CDLL:
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
        candidates: List[Optional[PathArg]] = [path] if path is not None else [os.environ.get("VANTRELFB_LIBRARY")]
        if path is None and not candidates[0]:
            candidates = ["VantrelFB.dll" if os.name == "nt" else "libvantrelfb.so.1",
                          ctypes.util.find_library("vantrelfb")]
        errors = []
        for candidate in candidates:
            if not candidate:
                continue
            try:
                library = ctypes.CDLL(os.fsdecode(candidate))
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
        _meanings.clear()
        return library


_trace: Optional[TraceFn] = None


def set_trace(function: Optional[TraceFn]) -> None:
    """Traces every later call, from any thread: ``function(line)`` receives one
    ``str`` per event (connecting, the request and response lines and headers,
    redirects, the result), on the calling thread. No line carries an access
    token or a cookie. ``None`` turns it off."""
    global _trace
    if function is not None and not callable(function):
        raise TypeError("the trace must be callable or None")
    _trace = function


def _units(value: Union[None, str, PathArg], what: str) -> Optional[ctypes.Array[ctypes.c_uint16]]:
    """A NUL-terminated UTF-16 copy of a text or path, or None for an empty text."""
    if value is None:
        return None
    if isinstance(value, os.PathLike):
        value = os.fspath(value)
    if isinstance(value, bytes):
        try:
            value = value.decode("utf-8")
        except UnicodeDecodeError as error:
            # os.fsdecode would turn the byte into a lone surrogate, which the
            # library replaces: two different names would write one file.
            raise ValueError("%s is not UTF-8 (at byte %d), so the library's UTF-16 cannot name it exactly"
                             % (what, error.start)) from None
    if not isinstance(value, str):
        raise TypeError("%s must be a str, not %s" % (what, type(value).__name__))
    if "\0" in value:
        raise ValueError("%s holds a NUL character, where the library's text would end" % what)
    try:
        data = (value + "\0").encode("utf-16-le")
    except UnicodeEncodeError as error:
        # A lone surrogate: text cut inside a pair, or a name os.fsdecode made
        # of bytes that are not UTF-8.
        raise ValueError("%s holds a lone surrogate (U+%04X at index %d), which UTF-16 cannot carry; "
                         "os.fsdecode makes them of bytes that are not UTF-8"
                         % (what, ord(value[error.start]), error.start)) from None
    return (ctypes.c_uint16 * (len(data) // 2)).from_buffer_copy(data)


def _milliseconds(seconds: Optional[float], what: str) -> int:
    if seconds is None:
        return 0  # the library's default
    ms = math.ceil(float(seconds) * 1000)
    if not 0 < ms < 2 ** 32:
        raise ValueError("%s must be more than 0 and less than %d seconds" % (what, 2 ** 32 // 1000))
    return ms


@dataclasses.dataclass(frozen=True)
class _Options:
    """The keyword arguments every call takes besides its own."""

    progress: Optional[ProgressFn] = None
    connect_timeout: Optional[float] = None
    stall_timeout: Optional[float] = None
    check: bool = False


class _Settings:
    """The library's settings for one call on this thread, set before it and
    turned off after it: they are per thread, and the callbacks must not
    outlive the call."""

    def __init__(self, options: _Options) -> None:
        if options.progress is not None and not callable(options.progress):
            raise TypeError("progress must be callable or None")
        self.progress = options.progress
        self.timeouts = (_milliseconds(options.connect_timeout, "connect_timeout"),
                         _milliseconds(options.stall_timeout, "stall_timeout"))
        self.trace = _trace
        self.raised: Optional[BaseException] = None
        self.library = load()
        # The ctypes callbacks, held for as long as the library may call them.
        self.progress_fn: Any = None
        self.trace_fn: Any = None

    def _on_progress(self, user: Optional[int], sent: int, send_total: int, received: int,
                     receive_total: int) -> int:
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

    def _on_trace(self, user: Optional[int], line: bytes) -> None:
        if self.raised is not None or self.trace is None:
            return
        try:
            self.trace(line.decode("utf-8", "replace"))
        except BaseException as error:
            self.raised = error

    def __enter__(self) -> _Settings:
        library = self.library
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

    def __exit__(self, *exc: object) -> None:
        library = self.library
        if self.progress_fn is not None:
            library.vfb_set_progress(_ProgressFn(0), None)  # NULL: off
        if self.trace_fn is not None:
            library.vfb_set_trace(_TraceFn(0), None)
        if self.timeouts != (0, 0):
            library.vfb_set_timeouts(0, 0)


_T = TypeVar("_T")


def _run(options: _Options, call: Callable[[], _T]) -> _T:
    """Runs ``call()`` (one export) with the call options and returns its value."""
    settings = _Settings(options)
    with settings:
        value = call()
    if settings.raised is not None:
        raise settings.raised
    return value


# An error object is small; a larger answer is not read to look for one.
_SERVICE_ERROR_MAX = 64 * 1024


def _service_error(out: PathArg) -> Optional[Dict[str, Any]]:
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


def _check(detail: CallInfo, out: Optional[PathArg]) -> None:
    """Raises the Error that fits a finished call's detail, if any."""
    if detail.result != Result.DONE:
        kind = Cancelled if detail.failure == Failure.CANCELLED else CallFailed
        raise kind(detail.message or result_meaning(detail.result), detail, out)
    if not detail.stored:
        raise NotStored(detail.message or "the answer could not be stored", detail, out)
    service_error = _service_error(out) if out is not None else None
    if service_error is not None:
        raise ServiceError("the service refused: %s (code %s)" % (service_error.get("message"),
                                                                  service_error.get("code")),
                           detail, out, service_error)
    if detail.http_status >= 400:
        raise HttpError("the service answered with status %d" % detail.http_status, detail, out)


def _call(export: str, options: _Options, *args: Tuple[str, Union[None, str, PathArg]]) -> Result:
    """Calls an export with (name, value) pairs, the output path last."""
    buffers = [_units(value, name) for name, value in args]
    function = getattr(load(), export)
    code = _run(options, lambda: int(function(*buffers)))
    if options.check:
        _check(last_call(), args[-1][1])
    return Result(code)


def _location(options: _Options) -> str:
    library = load()
    pointer: Optional[int] = _run(options, library.FaceBookTokenGraph)
    if not pointer:
        location = ""
    else:
        # The text is the library's, valid until this thread's next call: copy it
        # now, never free it.
        count = 0
        while ctypes.c_uint16.from_address(pointer + 2 * count).value:
            count += 1
        location = ctypes.string_at(pointer, 2 * count).decode("utf-16-le", "surrogatepass")
    if options.check and not location:
        detail = last_call()
        raise CallFailed(detail.message or "the sign-in's answer carried no Location", detail)
    return location


_F = TypeVar("_F", bound=Callable[..., Any])


def _renamed(**former: str) -> Callable[[_F], _F]:
    """Keeps keyword arguments working under their former names (former=new), with a DeprecationWarning."""
    def decorate(function: _F) -> _F:
        @functools.wraps(function)
        def wrapper(*args: Any, **kwargs: Any) -> Any:
            for old, new in former.items():
                if old in kwargs:
                    if new in kwargs:
                        raise TypeError("%s() got %s= and its former name %s=" % (function.__name__, new, old))
                    warnings.warn("%s(%s=...) is now %s(%s=...), as the tool's --%s"
                                  % (function.__name__, old, function.__name__, new, new),
                                  DeprecationWarning, stacklevel=2)
                    kwargs[new] = kwargs.pop(old)
            return function(*args, **kwargs)
        return cast(_F, wrapper)
    return decorate


# The calls, named as the tool's subcommands, keyword arguments only: each
# keyword is the tool's option of that name (--connect-timeout is
# connect_timeout).

def fetch(*, url: str, out: PathArg, progress: Optional[ProgressFn] = None,
          connect_timeout: Optional[float] = None, stall_timeout: Optional[float] = None,
          check: bool = False) -> Result:
    """GET any URL and stream the body into ``out`` (FaceBookToken)."""
    return _call("FaceBookToken", _Options(progress, connect_timeout, stall_timeout, check),
                 ("url", url), ("out", out))


def status(*, message: str, token: str, target: str, out: PathArg, extra: Optional[str] = None,
           progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
           stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Post ``message`` to the feed of ``target`` (FaceBookStatus)."""
    return _call("FaceBookStatus", _Options(progress, connect_timeout, stall_timeout, check),
                 ("message", message), ("token", token), ("target", target), ("extra", extra), ("out", out))


def checkin(*, message: str, token: str, target: str, out: PathArg, extra: Optional[str] = None,
            progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
            stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Post a check-in at the library's built-in place (FaceBookCheckIn)."""
    return _call("FaceBookCheckIn", _Options(progress, connect_timeout, stall_timeout, check),
                 ("message", message), ("token", token), ("target", target), ("extra", extra), ("out", out))


def event(*, name: str, token: str, target: str, out: PathArg, extra: Optional[str] = None,
          progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
          stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Create an event named ``name`` (FaceBookEvents)."""
    return _call("FaceBookEvents", _Options(progress, connect_timeout, stall_timeout, check),
                 ("name", name), ("token", token), ("target", target), ("extra", extra), ("out", out))


@_renamed(object_id="object")
def delete(*, token: str, object: str, out: PathArg, extra: Optional[str] = None, extra2: Optional[str] = None,
           progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
           stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Delete any object (FaceBookDelete). ``object_id=``, its former name, still works."""
    return _call("FaceBookDelete", _Options(progress, connect_timeout, stall_timeout, check),
                 ("extra", extra), ("token", token), ("object", object), ("extra2", extra2), ("out", out))


def note_create(*, title: str, token: str, uid: str, content: str, out: PathArg,
                progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Create a note (FaceBookNotes)."""
    return _call("FaceBookNotes", _Options(progress, connect_timeout, stall_timeout, check),
                 ("title", title), ("token", token), ("uid", uid), ("content", content), ("out", out))


def note_edit(*, title: str, token: str, note: str, content: str, uid: str, out: PathArg,
              progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
              stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Replace a note's title and body (FaceBookNotesEdit)."""
    return _call("FaceBookNotesEdit", _Options(progress, connect_timeout, stall_timeout, check),
                 ("title", title), ("token", token), ("note", note), ("content", content), ("uid", uid),
                 ("out", out))


def note_view(*, token: str, owner: str, note: str, out: PathArg,
              progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
              stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Read the note ``owner``_``note`` (FaceBookNotesView)."""
    return _call("FaceBookNotesView", _Options(progress, connect_timeout, stall_timeout, check),
                 ("token", token), ("owner", owner), ("note", note), ("out", out))


def note_delete(*, token: str, note: str, uid: str, out: PathArg,
                progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Delete a note (FaceBookNotesDelete)."""
    return _call("FaceBookNotesDelete", _Options(progress, connect_timeout, stall_timeout, check),
                 ("token", token), ("note", note), ("uid", uid), ("out", out))


def photo(*, media: PathArg, target: str, token: str, out: PathArg, message: Optional[str] = None,
          progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
          stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Upload the JPEG file ``media`` (FaceBookPictureUpload)."""
    return _call("FaceBookPictureUpload", _Options(progress, connect_timeout, stall_timeout, check),
                 ("media", media), ("target", target), ("message", message), ("token", token), ("out", out))


def video(*, media: PathArg, target: str, token: str, out: PathArg, title: Optional[str] = None,
          progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
          stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """Upload the MP4 file ``media`` (FaceBookVideoUpload)."""
    return _call("FaceBookVideoUpload", _Options(progress, connect_timeout, stall_timeout, check),
                 ("media", media), ("target", target), ("title", title), ("token", token), ("out", out))


def signin(*, progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
           stall_timeout: Optional[float] = None, check: bool = False) -> str:
    """Request the sign-in dialog; returns its Location, or "" (FaceBookTokenGraph)."""
    return _location(_Options(progress, connect_timeout, stall_timeout, check))


# The exports under their own names, with the header's arguments in its order
# (None is the C NULL, an empty text).

def FaceBookToken(url: Optional[str], outputPath: Optional[PathArg], *, progress: Optional[ProgressFn] = None,
                  connect_timeout: Optional[float] = None, stall_timeout: Optional[float] = None,
                  check: bool = False) -> Result:
    """The export FaceBookToken: :func:`fetch` with the C arguments."""
    return _call("FaceBookToken", _Options(progress, connect_timeout, stall_timeout, check),
                 ("url", url), ("outputPath", outputPath))


def FaceBookStatus(message: Optional[str], accessToken: Optional[str], targetId: Optional[str],
                   extraText: Optional[str], outputPath: Optional[PathArg], *,
                   progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                   stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """The export FaceBookStatus: :func:`status` with the C arguments."""
    return _call("FaceBookStatus", _Options(progress, connect_timeout, stall_timeout, check),
                 ("message", message), ("accessToken", accessToken), ("targetId", targetId),
                 ("extraText", extraText), ("outputPath", outputPath))


def FaceBookNotes(title: Optional[str], accessToken: Optional[str], uid: Optional[str], content: Optional[str],
                  outputPath: Optional[PathArg], *, progress: Optional[ProgressFn] = None,
                  connect_timeout: Optional[float] = None, stall_timeout: Optional[float] = None,
                  check: bool = False) -> Result:
    """The export FaceBookNotes: :func:`note_create` with the C arguments."""
    return _call("FaceBookNotes", _Options(progress, connect_timeout, stall_timeout, check),
                 ("title", title), ("accessToken", accessToken), ("uid", uid), ("content", content),
                 ("outputPath", outputPath))


def FaceBookCheckIn(message: Optional[str], accessToken: Optional[str], targetId: Optional[str],
                    extraText: Optional[str], outputPath: Optional[PathArg], *,
                    progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                    stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """The export FaceBookCheckIn: :func:`checkin` with the C arguments."""
    return _call("FaceBookCheckIn", _Options(progress, connect_timeout, stall_timeout, check),
                 ("message", message), ("accessToken", accessToken), ("targetId", targetId),
                 ("extraText", extraText), ("outputPath", outputPath))


def FaceBookEvents(name: Optional[str], accessToken: Optional[str], targetId: Optional[str],
                   extraText: Optional[str], outputPath: Optional[PathArg], *,
                   progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                   stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """The export FaceBookEvents: :func:`event` with the C arguments."""
    return _call("FaceBookEvents", _Options(progress, connect_timeout, stall_timeout, check),
                 ("name", name), ("accessToken", accessToken), ("targetId", targetId),
                 ("extraText", extraText), ("outputPath", outputPath))


def FaceBookNotesEdit(title: Optional[str], accessToken: Optional[str], noteId: Optional[str],
                      content: Optional[str], uid: Optional[str], outputPath: Optional[PathArg], *,
                      progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                      stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """The export FaceBookNotesEdit: :func:`note_edit` with the C arguments."""
    return _call("FaceBookNotesEdit", _Options(progress, connect_timeout, stall_timeout, check),
                 ("title", title), ("accessToken", accessToken), ("noteId", noteId), ("content", content),
                 ("uid", uid), ("outputPath", outputPath))


def FaceBookNotesView(accessToken: Optional[str], ownerId: Optional[str], noteId: Optional[str],
                      outputPath: Optional[PathArg], *, progress: Optional[ProgressFn] = None,
                      connect_timeout: Optional[float] = None, stall_timeout: Optional[float] = None,
                      check: bool = False) -> Result:
    """The export FaceBookNotesView: :func:`note_view` with the C arguments."""
    return _call("FaceBookNotesView", _Options(progress, connect_timeout, stall_timeout, check),
                 ("accessToken", accessToken), ("ownerId", ownerId), ("noteId", noteId),
                 ("outputPath", outputPath))


def FaceBookNotesDelete(accessToken: Optional[str], noteId: Optional[str], uid: Optional[str],
                        outputPath: Optional[PathArg], *, progress: Optional[ProgressFn] = None,
                        connect_timeout: Optional[float] = None, stall_timeout: Optional[float] = None,
                        check: bool = False) -> Result:
    """The export FaceBookNotesDelete: :func:`note_delete` with the C arguments."""
    return _call("FaceBookNotesDelete", _Options(progress, connect_timeout, stall_timeout, check),
                 ("accessToken", accessToken), ("noteId", noteId), ("uid", uid), ("outputPath", outputPath))


def FaceBookPictureUpload(mediaPath: Optional[PathArg], targetId: Optional[str], message: Optional[str],
                          accessToken: Optional[str], outputPath: Optional[PathArg], *,
                          progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                          stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """The export FaceBookPictureUpload: :func:`photo` with the C arguments."""
    return _call("FaceBookPictureUpload", _Options(progress, connect_timeout, stall_timeout, check),
                 ("mediaPath", mediaPath), ("targetId", targetId), ("message", message),
                 ("accessToken", accessToken), ("outputPath", outputPath))


def FaceBookVideoUpload(mediaPath: Optional[PathArg], targetId: Optional[str], title: Optional[str],
                        accessToken: Optional[str], outputPath: Optional[PathArg], *,
                        progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                        stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """The export FaceBookVideoUpload: :func:`video` with the C arguments."""
    return _call("FaceBookVideoUpload", _Options(progress, connect_timeout, stall_timeout, check),
                 ("mediaPath", mediaPath), ("targetId", targetId), ("title", title),
                 ("accessToken", accessToken), ("outputPath", outputPath))


def FaceBookTokenGraph(*, progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                       stall_timeout: Optional[float] = None, check: bool = False) -> str:
    """The export FaceBookTokenGraph: :func:`signin`."""
    return _location(_Options(progress, connect_timeout, stall_timeout, check))


def FaceBookDelete(extraText: Optional[str], accessToken: Optional[str], objectId: Optional[str],
                   extraText2: Optional[str], outputPath: Optional[PathArg], *,
                   progress: Optional[ProgressFn] = None, connect_timeout: Optional[float] = None,
                   stall_timeout: Optional[float] = None, check: bool = False) -> Result:
    """The export FaceBookDelete: :func:`delete` with the C arguments."""
    return _call("FaceBookDelete", _Options(progress, connect_timeout, stall_timeout, check),
                 ("extraText", extraText), ("accessToken", accessToken), ("objectId", objectId),
                 ("extraText2", extraText2), ("outputPath", outputPath))
