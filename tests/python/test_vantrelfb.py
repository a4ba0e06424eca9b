"""The Python module: its result table against the header, and its calls
against the local service.

    tests/e2e/sandbox.sh -- env PYTHONPATH=bindings/python \
        VANTRELFB_LIBRARY=build/libvantrelfb.so.1 python3 tests/python/test_vantrelfb.py include/vantrelfb.h

Outside the sandbox only the table is checked; the calls are skipped.
"""

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
        codes = {name: int(code) for name, code in re.findall(r"^#define VFB_(\w+) (\d+)", header, re.M)}
        cases = {name: (meaning, written == "w = 1; ")
                 for name, written, meaning in re.findall(r'case VFB_(\w+): (w = 1; )?m = "([^"]*)";', header)}
        unknown = re.search(r'default: m = "([^"]*)";', header).group(1)
        self.assertTrue(codes and cases)
        self.assertEqual({r.name: r.value for r in vantrelfb.Result}, codes)
        self.assertEqual({r.name: (r.meaning, r.written) for r in vantrelfb.Result}, cases)
        for code in codes.values():
            self.assertEqual(vantrelfb.result_meaning(code), vantrelfb.Result(code).meaning)
        self.assertEqual(vantrelfb.result_meaning(max(codes.values()) + 1), unknown)


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
        # name, call, the path and query parameters the service must receive (None: no request),
        # what the multipart body must hold, the result
        rows = [
            ("status", lambda out: v.status(message=MESSAGE, token=TOKEN, target="me", out=out),
             ("/me/feed", {"access_token": TOKEN, "message": query_encoded(MESSAGE)}), [], v.Result.DONE),
            ("the export's own name and order",
             lambda out: v.FaceBookEvents(MESSAGE, TOKEN, "1234", "ignored", os.fsencode(out)),
             ("/1234/events", {"access_token": TOKEN, "name": query_encoded(MESSAGE)}), [], v.Result.DONE),
            ("photo", lambda out: v.photo(media=media, target="me", message=MESSAGE, token=TOKEN, out=out),
             ("/me/photos", {"access_token": TOKEN}), [media.read_bytes(), MESSAGE.encode("utf-8")],
             v.Result.DONE),
            ("a text too long", lambda out: v.checkin(message=long_text, token=TOKEN, target="me", out=out),
             None, [], v.Result.ERR_OPEN),
        ]
        for name, call, request, body_holds, result in rows:
            with self.subTest(name):
                body = json.dumps({"id": "100_" + str(len(self.requests()))})
                self.answer([{"body": body}])
                out = self.dir / ("réponse %s.json" % len(self.requests()))
                before = self.requests()
                got = call(out)
                self.assertIs(type(got), v.Result)
                self.assertEqual(got, result)
                self.assertEqual(got.meaning, v.result_meaning(result))
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
