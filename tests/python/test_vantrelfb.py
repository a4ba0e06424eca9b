"""The Python module: its result table against the header, and its calls
against the local service.

    tests/e2e/sandbox.sh -- env PYTHONPATH=bindings/python \
        VANTRELFB_LIBRARY=build/libvantrelfb.so.1 python3 tests/python/test_vantrelfb.py include/vantrelfb.h

Outside the sandbox only the table is checked; the calls are skipped.
"""

import ctypes
import dataclasses
import errno
import json
import os
import re
import sys
import tempfile
import unittest
import urllib.parse
from pathlib import Path

import vantrelfb

HEADER = Path(sys.argv.pop(1) if len(sys.argv) > 1 else Path(__file__).parents[2] / "include" / "vantrelfb.h")
IN_SANDBOX = os.environ.get("VFB_SANDBOX") == "1"

TOKEN = "EAAB.token-1_x"
# Two-byte, three-byte and four-byte (a surrogate pair in UTF-16) characters,
# and characters the query encoding escapes.
MESSAGE = "Grüße aus Köln, 東京 😀 a+b=c?"
LOCATION = "https://www.facebook.com/connect/login_success.html#access_token=EAA%C3%A9x&expires_in=60"


def query_encoded(text):
    """The query encoding the README describes: these characters and every byte from 0x80 up become %XX."""
    escaped = set("\n\r !$%&'()*+,/:;=?@")
    return "".join(
        "".join("%%%02X" % b for b in c.encode("utf-8")) if ord(c) >= 0x80 or c in escaped else c
        for c in text)


class ResultTable(unittest.TestCase):
    def test_names_codes_and_meanings_are_the_headers(self):
        header = HEADER.read_text(encoding="utf-8")
        codes = {name: int(code)
                 for name, code in re.findall(r"^#define VFB_(DONE|ERR_\w+) (\d+)", header, re.M)}
        self.assertTrue(codes)
        # A newer library's code is a Result as well, outside the enumeration.
        newer = vantrelfb.Result(max(codes.values()) + 1)
        self.assertEqual((type(newer), newer.name, newer.written), (vantrelfb.Result, "UNKNOWN", False))
        self.assertEqual({r.name: r.value for r in vantrelfb.Result}, codes)
        # The meanings are the library's own (vfb_result_meaning), asked here
        # apart from the module's binding.
        library = ctypes.CDLL(os.environ.get("VANTRELFB_LIBRARY", "libvantrelfb.so.1"))
        library.vfb_result_meaning.restype = ctypes.c_char_p
        unknown = vantrelfb.result_meaning(max(codes.values()) + 1)
        self.assertEqual(unknown, library.vfb_result_meaning(max(codes.values()) + 1).decode())
        self.assertEqual(newer.meaning, unknown)
        meanings = {r.name: r.meaning for r in vantrelfb.Result}
        self.assertEqual(meanings, {r.name: library.vfb_result_meaning(r.value).decode() for r in vantrelfb.Result})
        self.assertEqual(len(set(meanings.values()) | {unknown}), len(codes) + 1)
        self.assertEqual({r.name for r in vantrelfb.Result if r.written}, {"DONE"})
        for code in codes.values():
            self.assertEqual(vantrelfb.result_meaning(code), vantrelfb.Result(code).meaning)

    def test_failures_and_call_record_are_the_headers(self):
        header = HEADER.read_text(encoding="utf-8")
        failures = {name: int(value) for name, value in re.findall(r"^\s+VFB_FAIL_(\w+) = (\d+)", header, re.M)}
        self.assertTrue(failures)
        self.assertEqual({f.name: f.value for f in vantrelfb.Failure}, failures)
        # vfb_call_info field for field: a drift would read every later field at the wrong offset.
        body = re.search(r"typedef struct vfb_call_info \{(.*?)\} vfb_call_info;", header, re.S).group(1)
        types = {"unsigned": ctypes.c_uint, "int": ctypes.c_int, "uint64_t": ctypes.c_uint64}
        fields = []
        for type_, name, count in re.findall(r"^\s*(\w+) (\w+)(?:\[(\d+)\])?;", body, re.M):
            fields.append((name, ctypes.c_char * int(count) if count else types[type_]))
        record = vantrelfb._CallInfo._fields_
        self.assertEqual([name for name, _ in record], [name for name, _ in fields])
        for (name, got), (_, want) in zip(record, fields):
            self.assertEqual((name, ctypes.sizeof(got), getattr(got, "_type_", None)),
                             (name, ctypes.sizeof(want), getattr(want, "_type_", None)))
        self.assertEqual([f.name for f in dataclasses.fields(vantrelfb.CallInfo)], [name for name, _ in fields][1:])


@unittest.skipUnless(IN_SANDBOX, "needs the local service: run inside tests/e2e/sandbox.sh")
class Calls(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp())
        self.service = Path(os.environ["VFB_FAKE_DIR"])

    def answer(self, responses):
        """The service's answers for the next connections (a new file, renamed over the old one)."""
        new = self.service / "script.json.new"
        new.write_text(json.dumps(responses), encoding="utf-8")
        new.replace(self.service / "script.json")

    def requests(self):
        return sorted((self.service / "requests").glob("*.json"))

    def test_calls_reach_the_service_as_documented(self):
        media = self.dir / "plage été.jpg"
        media.write_bytes(b"\xff\xd8\xff\xe0" + bytes(range(256)) * 8)
        long_text = "é" * 1000  # 2000 bytes of UTF-8: refused before anything is sent
        v = vantrelfb
        answered = {"http_status": 200, "stored": True, "failure": v.Failure.NONE, "message": ""}

        def former_name(out):
            with self.assertWarns(DeprecationWarning):
                return v.delete(token=TOKEN, object_id="100_6", out=out)

        # Bytes that are not UTF-8, and the lone surrogate os.fsdecode makes of them.
        not_utf8 = os.fsencode(self.dir) + b"/out-\xff.json"
        # name, call, the path and query parameters the service must receive (None: no request),
        # what the multipart body must hold, the result (an exception: raised before the library
        # is called), what last_call() must tell
        rows = [
            ("status", lambda out: v.status(message=MESSAGE, token=TOKEN, target="me", out=out),
             ("/me/feed", {"access_token": TOKEN, "message": query_encoded(MESSAGE)}), [], v.Result.DONE,
             answered),
            ("the export's own name and order",
             lambda out: v.FaceBookEvents(MESSAGE, TOKEN, "1234", "ignored", os.fsencode(out)),
             ("/1234/events", {"access_token": TOKEN, "name": query_encoded(MESSAGE)}), [], v.Result.DONE,
             answered),
            ("photo", lambda out: v.photo(media=media, target="me", message=MESSAGE, token=TOKEN, out=out),
             ("/me/photos", {"access_token": TOKEN}), [media.read_bytes(), MESSAGE.encode("utf-8")],
             v.Result.DONE, answered),
            ("a text too long", lambda out: v.checkin(message=long_text, token=TOKEN, target="me", out=out),
             None, [], v.Result.ERR_OPEN,
             {"http_status": 0, "failure": v.Failure.INPUT, "argument": 1, "bytes_sent": 0}),
            ("delete, named as the tool's --object", lambda out: v.delete(token=TOKEN, object="100_5", out=out),
             ("/100_5", {"access_token": TOKEN}), [], v.Result.DONE, answered),
            ("delete's former object_id=", former_name, ("/100_6", {"access_token": TOKEN}), [], v.Result.DONE,
             answered),
            # Replaced by U+FFFD, two such names would write one file.
            ("a bytes path that is not UTF-8",
             lambda out: v.status(message="Hi", token=TOKEN, target="me", out=not_utf8), None, [], ValueError, {}),
            ("a str path with a lone surrogate",
             lambda out: v.photo(media=os.fsdecode(not_utf8), target="me", token=TOKEN, out=out), None, [],
             ValueError, {}),
            ("a text with a lone surrogate",
             lambda out: v.FaceBookStatus("a\ud83d", TOKEN, "me", None, out), None, [], ValueError, {}),
        ]
        for name, call, request, body_holds, result, detail in rows:
            with self.subTest(name):
                body = json.dumps({"id": "100_" + str(len(self.requests()))})
                self.answer([{"body": body}])
                out = self.dir / ("réponse %s.json" % len(self.requests()))
                before = self.requests()
                if isinstance(result, type):
                    files = sorted(self.dir.iterdir())
                    with self.assertRaises(result):
                        call(out)
                    self.assertEqual(self.requests(), before)
                    self.assertEqual(sorted(self.dir.iterdir()), files)
                    continue
                got = call(out)
                self.assertIs(type(got), v.Result)
                self.assertEqual(got, result)
                self.assertEqual(got.meaning, v.result_meaning(result))
                told = v.last_call()
                self.assertEqual(told.result, result)
                self.assertEqual({k: getattr(told, k) for k in detail}, detail)
                if told.failure != v.Failure.NONE:
                    self.assertIn("2000", told.message)
                    self.assertTrue(0 < told.limit < 2000)
                new = [p for p in self.requests() if p not in before]
                if request is None:
                    self.assertEqual(new, [])
                    self.assertFalse(out.exists())
                    continue
                self.assertEqual(len(new), 1)
                self.assertEqual(out.read_text(encoding="utf-8"), body)
                recorded = json.loads(new[0].read_text(encoding="utf-8"))
                path, _, query = recorded["target"].partition("?")
                params = dict(p.split("=", 1) for p in query.split("&"))
                self.assertEqual(path, request[0])
                self.assertEqual({k: params.get(k) for k in request[1]}, request[1])
                sent = new[0].with_suffix(".raw").read_bytes()[recorded["body_offset"]:]
                for part in body_holds:
                    self.assertIn(part, sent)

    def test_call_options_detail_and_check(self):
        v = vantrelfb
        media = self.dir / "clip.mp4"
        media.write_bytes(bytes(range(256)) * 1024)  # 256 KiB: several progress reports
        reports = []

        def record(*report):
            reports.append(report)

        def cancel(*report):
            return True

        def raises(*report):
            raise LookupError("raised by the callback")

        ok = json.dumps({"id": "7"})
        refusal = {"message": "Invalid OAuth access token.", "type": "OAuthException", "code": 190}
        stall = {"fault": {"type": "stall", "seconds": 20}}
        post = lambda out, **options: v.status(message="Hi", token=TOKEN, target="me", out=out, **options)
        # name, answers, call, the exception raised (None: the call returns), the result,
        # what last_call() must tell
        rows = [
            ("progress totals for an upload", [{"body": ok}],
             lambda out: v.video(media=media, target="me", token=TOKEN, out=out, progress=record),
             None, v.Result.DONE, {"failure": v.Failure.NONE, "http_status": 200, "stored": True}),
            # A form post's wait for its answer is part of sending it: 3.
            ("progress returning True cancels", [stall], lambda out: post(out, progress=cancel),
             None, v.Result.ERR_SEND, {"failure": v.Failure.CANCELLED, "http_status": 0}),
            ("a raising callback cancels and its exception comes back", [stall],
             lambda out: post(out, progress=raises), LookupError, v.Result.ERR_SEND,
             {"failure": v.Failure.CANCELLED}),
            ("the stall limit", [stall], lambda out: post(out, stall_timeout=1),
             None, v.Result.ERR_SEND, {"failure": v.Failure.STALLED}),
            ("check: the service's error object", [{"status": 400, "body": json.dumps({"error": refusal})}],
             lambda out: post(out, check=True), v.ServiceError, v.Result.DONE,
             {"http_status": 400, "stored": True, "failure": v.Failure.NONE}),
            ("check: an error page", [{"status": 500, "body": "<html>oops</html>"}],
             lambda out: post(out, check=True), v.HttpError, v.Result.DONE, {"http_status": 500}),
            ("check: the answer not stored", [{"body": ok}],
             lambda out: post(out.parent / "missing" / out.name, check=True), v.NotStored, v.Result.DONE,
             {"stored": False, "stored_errno": errno.ENOENT, "failure": v.Failure.OUTPUT_FILE}),
            ("check: cancelled", [stall], lambda out: post(out, progress=cancel, check=True),
             v.Cancelled, v.Result.ERR_SEND, {"failure": v.Failure.CANCELLED}),
            ("a download cancelled while reading", [{"body_bytes": 50 << 20}],
             lambda out: v.fetch(url="https://graph.facebook.com/big", out=out,
                                 progress=lambda sent, send_total, received, total: received > 0),
             None, v.Result.ERR_READ, {"failure": v.Failure.CANCELLED, "http_status": 200, "stored": True}),
            ("check: a success returns", [{"body": ok}], lambda out: post(out, check=True),
             None, v.Result.DONE, {"stored": True, "http_status": 200}),
        ]
        uploaded = None
        for name, answers, call, raised, result, detail in rows:
            with self.subTest(name):
                self.answer(answers)
                out = self.dir / ("answer %d.json" % len(self.requests()))
                if raised is None:
                    self.assertEqual(call(out), result)
                else:
                    with self.assertRaises(raised) as caught:
                        call(out)
                told = v.last_call()
                self.assertEqual(told.result, result)
                self.assertEqual({k: getattr(told, k) for k in detail}, detail)
                self.assertIsInstance(told.failure, v.Failure)
                # Cancelled or cut well before the service's 20 s stall ends.
                self.assertLess(told.elapsed_ms, 5000)
                if told.failure != v.Failure.NONE:
                    self.assertTrue(told.message)
                if raised is not None and issubclass(raised, v.Error):
                    self.assertEqual(caught.exception.detail, told)
                    self.assertEqual(caught.exception.result, result)
                if raised is v.ServiceError:
                    self.assertEqual(caught.exception.service_error, refusal)
                    self.assertEqual(caught.exception.code, 190)
                if reports and uploaded is None:
                    uploaded = json.loads(self.requests()[-1].read_text(encoding="utf-8"))
                # Settings last one call: the next one runs without them.
                self.answer([{"body": ok}])
                self.assertEqual(post(self.dir / "next.json"), v.Result.DONE)
                self.assertEqual(v.last_call().failure, v.Failure.NONE)
        # The upload's reports: moving forward to the whole body the service received.
        self.assertGreater(len(reports), 2)
        self.assertEqual([r[0] for r in reports], sorted(r[0] for r in reports))
        self.assertEqual({r[1] for r in reports}, {uploaded["content_length"]})
        self.assertEqual(reports[-1][0], uploaded["content_length"])
        self.assertEqual(reports[-1][2:], (len(ok), len(ok)))

    def test_trace_never_shows_the_token(self):
        v = vantrelfb
        lines = []

        def raises(line):
            raise LookupError("raised by the trace")

        # name, the trace, the call
        rows = [
            ("a form post", lines.append,
             lambda out: v.status(message="Hi", token=TOKEN, target="me", out=out)),
            ("a URL with the token in its query", lines.append,
             lambda out: v.fetch(url="https://graph.facebook.com/me?fields=id&access_token=" + TOKEN, out=out)),
        ]
        try:
            for name, trace, call in rows:
                with self.subTest(name):
                    lines.clear()
                    self.answer([{"headers": [["Set-Cookie", "session=" + TOKEN]], "body": "{}"}])
                    v.set_trace(trace)
                    self.assertEqual(call(self.dir / "traced.json"), v.Result.DONE)
                    self.assertTrue(lines)
                    self.assertTrue(all(isinstance(line, str) for line in lines))
                    self.assertEqual([line for line in lines if TOKEN in line], [])
                    self.assertTrue(any("access_token=<redacted>" in line for line in lines), lines)
            with self.subTest("a raising trace cancels and its exception comes back"):
                v.set_trace(raises)
                self.answer([{"fault": {"type": "stall", "seconds": 20}}])
                with self.assertRaises(LookupError):
                    v.status(message="Hi", token=TOKEN, target="me", out=self.dir / "traced.json")
                self.assertEqual(v.last_call().failure, v.Failure.CANCELLED)
                self.assertLess(v.last_call().elapsed_ms, 5000)
        finally:
            v.set_trace(None)
        lines.clear()
        self.answer([{"body": "{}"}])
        v.status(message="Hi", token=TOKEN, target="me", out=self.dir / "untraced.json")
        self.assertEqual(lines, [])

    def test_signin_returns_the_location(self):
        rows = [
            ("a redirect", {"status": 302, "headers": [["Location", LOCATION]], "body": "page"}, LOCATION),
            ("no Location", {"status": 200, "body": "page"}, ""),
        ]
        for name, response, location in rows:
            with self.subTest(name):
                before = len(self.requests())
                for signin in (vantrelfb.signin, vantrelfb.FaceBookTokenGraph):
                    self.answer([response])
                    self.assertEqual(signin(), location)
                self.assertEqual(len(self.requests()), before + 2)
                target = json.loads(self.requests()[-1].read_text(encoding="utf-8"))["target"]
                self.assertEqual(urllib.parse.urlsplit(target).path, "/dialog/oauth")


if __name__ == "__main__":
    unittest.main(verbosity=2)
