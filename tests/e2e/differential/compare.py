#!/usr/bin/env python3
"""Compares what the fake service recorded for the Linux and the Windows build.

    compare.py [--strict] CASES LINUX_DIR WINDOWS_DIR

CASES is the list driver.cpp ran (cases.txt); each DIR holds the driver's
OUTDIR/<case>/ (result.txt, output.bin, request-K.raw/.json). For every case
both sides must have made the number of requests the case names, and agree
on each request's verb, target, version, header lines (as a set) and body
bytes, on the result, on the call's detail (its result, HTTP status and
whether the answer was stored, as vfb_last_call tells them) and on the
output file. The only differences allowed
are the ones in EXPLAINED (normalizations) and CASE_EXPLAINED (cases where
the two stacks end differently), each with its reason; anything else is
reported and makes the exit status 1. OPEN lists differences that are our
own bugs, reported but not fixed yet: they are printed on every run and fail
only with --strict.
"""

import json
import os
import re
import sys

# Each explained difference: what is normalized away, and why it may differ.
EXPLAINED = {
    "header-order": (
        "Header lines are compared as a multiset, not in order: WinINet writes the lines it builds "
        "(Accept from the accept types, Content-Length) and those added with HttpAddRequestHeaders in an "
        "order of its own (Accept first, then Host and User-Agent last), libcurl writes Host and User-Agent "
        "first and the custom lines after them. The order of differently named fields carries no meaning "
        "in HTTP (RFC 9110 section 5.3); same-named lines keep their relative order in the comparison."),
    "host-case": (
        "Host values are compared without regard to case: WinINet lower-cases the host name it takes "
        "from a URL ('HTTPS://GRAPH.FACEBOOK.COM/X' gives 'Host: graph.facebook.com'), libcurl sends it as "
        "written. Host names are case-insensitive (RFC 3986 section 3.2.2), and the target keeps its case "
        "on both."),
    "boundary-time": (
        "The multipart boundary is the local time of the call to the millisecond ('--' then year, month, "
        "weekday, day, hour, minute, second, millisecond), and the two runs happen at different times. Each "
        "side's boundary must have that form; it is then replaced by one placeholder in the Content-Type "
        "line and the body, so everything else in the body is compared byte for byte."),
}

# Cases whose outcome differs between the two stacks for a reason outside our
# layers: the kinds of difference allowed there ("result", "detail", "output",
# "requests"), and why. What was sent, when both sent it, must still agree.
CASE_EXPLAINED = {
    "token_port_then_escaped_crlf": (
        {"result", "detail", "output", "requests"},
        "The URL's port is '443' followed by an escaped line break ('443%0D%0A'). libcurl's URL parser "
        "rejects that port (result 2, nothing sent); Wine's InternetCrackUrlW reads the digits and ignores "
        "the rest up to the path, so Wine connects and sends a clean 'GET /x' (result 999). Neither stack "
        "lets the line break into the request; only their URL validation differs."),
    "token_http_to_tls_port": (
        {"result", "detail", "output"},
        "An http:// URL to the TLS port: the service reads no HTTP request and drops the connection. "
        "libcurl reports the missing status line as a failure (result 2). Wine's WinINet fails too when "
        "the drop arrives as a reset, but takes a clean close before any status line for an HTTP/0.9 "
        "answer with an empty body: InternetOpenUrlW succeeds, the fetch creates its file and the layer "
        "fails the first read of an answer without a status line (result 4, an empty file). Which of the "
        "two the service's close becomes varies from run to run."),
    "token_closed_before_response": (
        {"result", "detail", "output"},
        "The service reads the request and closes the connection without a word. libcurl reports an "
        "empty reply (result 2, file untouched); Wine's WinINet takes the clean close before any status "
        "line for an HTTP/0.9 answer with an empty body, so InternetOpenUrlW succeeds, the fetch creates "
        "its file, and the layer fails the first read of an answer without a status line (result 4, an "
        "empty file). The request itself is the same on both."),
    "status_closed_before_response": (
        {"result", "detail", "output"},
        "As token_closed_before_response, for a form post: libcurl's send fails (result 3); Wine's "
        "HttpSendRequestW succeeds with the empty HTTP/0.9 answer, and the post's read fails (result 4). "
        "Neither writes the file."),
}

# Differences that are ours to fix: reported, and printed as OPEN on every run
# (not counted as failures unless --strict) until the cause is fixed.
OPEN = {
    "token_empty_location": (
        "a 301 with an empty Location is no followed redirect, so it is the answer (999, its body stored), "
        "as the Windows build has it; the Linux build fails with 2: curl_multi_perform returns an error "
        "once that response's headers are in, and Transfer::Drive takes it for a failed start. Ours, in "
        "src/http/curl/curl_internet.cpp (the lead's)"),
}

BOUNDARY = re.compile(rb"^multipart/form-data; boundary=(--\d{19})$")
PLACEHOLDER = b"--BOUNDARY-TIME-NORMALIZED"


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def decode_chunked(data):
    out, at = b"", 0
    while True:
        eol = data.find(b"\r\n", at)
        if eol < 0:
            return out
        size = int(data[at:eol].split(b";")[0] or b"0", 16)
        at = eol + 2
        if size == 0:
            return out
        out += data[at:at + size]
        at += size + 2


class Request:
    """One recorded request, normalized for comparison."""

    def __init__(self, raw, meta):
        self.meta = meta
        head, _, body = raw.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        self.request_line = lines[0]
        parts = self.request_line.split(b" ")
        self.method, self.target, self.version = (parts + [b"", b"", b""])[:3]
        self.headers = []
        for line in lines[1:]:
            name, _, value = line.partition(b":")
            self.headers.append((name.strip().lower(), value.strip()))
        self.body = decode_chunked(body) if meta.get("chunked") else body
        self.complete = bool(meta.get("complete"))
        self.used = set()
        self.problems = []
        self.normalize_boundary()
        lowered = [(n, v.lower() if n == b"host" else v) for n, v in self.headers]
        if lowered != self.headers:
            self.headers = lowered
            self.used.add("host-case")

    def normalize_boundary(self):
        types = [v for n, v in self.headers if n == b"content-type" and v.startswith(b"multipart/")]
        if not types:
            return
        m = BOUNDARY.match(types[0])
        if not m:
            self.problems.append("multipart Content-Type without a time boundary: %r" % types[0])
            return
        boundary = m.group(1)
        self.headers = [(n, v.replace(boundary, PLACEHOLDER)) for n, v in self.headers]
        self.body = self.body.replace(boundary, PLACEHOLDER)
        self.used.add("boundary-time")

    def header_multiset(self):
        return sorted(self.headers)


def load_side(directory, name):
    base = os.path.join(directory, name)
    if not os.path.isdir(base):
        return None
    side = {"result": read(os.path.join(base, "result.txt")), "detail": read(os.path.join(base, "detail.txt")),
            "output": read(os.path.join(base, "output.bin")), "requests": []}
    k = 1
    while True:
        raw = read(os.path.join(base, "request-%d.raw" % k))
        if raw is None:
            break
        meta = json.loads(read(os.path.join(base, "request-%d.json" % k)) or b"{}")
        side["requests"].append(Request(raw, meta))
        k += 1
    return side


def show(b, limit=200):
    text = repr(b)
    return text if len(text) <= limit else text[:limit] + "...(%d bytes)" % len(b)


def compare_requests(a, b, differences, used, allowed=frozenset()):
    """a: Linux, b: Windows. `allowed`: the case's explained kinds."""
    if "authorization" in allowed:
        if [h for h in a.headers if h[0] == b"authorization"] != [h for h in b.headers if h[0] == b"authorization"]:
            used.add("case-explained")
        a.headers = [h for h in a.headers if h[0] != b"authorization"]
        b.headers = [h for h in b.headers if h[0] != b"authorization"]
    for label, r in (("linux", a), ("windows", b)):
        differences.extend("%s: %s" % (label, p) for p in r.problems)
        if not r.complete:
            differences.append("%s: the request body did not arrive whole" % label)
    used |= a.used | b.used
    if ("boundary-time" in a.used) != ("boundary-time" in b.used):
        differences.append("only one side has a multipart boundary")
    for field in ("method", "target", "version"):
        if getattr(a, field) != getattr(b, field):
            differences.append("%s: linux %s, windows %s" % (field, show(getattr(a, field)), show(getattr(b, field))))
    if a.header_multiset() != b.header_multiset():
        only_a = [h for h in a.headers if h not in b.headers]
        only_b = [h for h in b.headers if h not in a.headers]
        counts = "" if only_a or only_b else " (same lines, different counts)"
        differences.append("header lines differ%s: linux only %s, windows only %s" % (counts, only_a, only_b))
    elif a.headers != b.headers:
        used.add("header-order")
    for name in {n for n, _ in a.headers}:
        if [v for n, v in a.headers if n == name] != [v for n, v in b.headers if n == name]:
            differences.append("the %s lines come in another relative order" % name.decode())
    if a.body != b.body:
        at = next((i for i, (x, y) in enumerate(zip(a.body, b.body)) if x != y), min(len(a.body), len(b.body)))
        differences.append("body: linux %d bytes, windows %d bytes, first difference at %d: linux %s, windows %s"
                           % (len(a.body), len(b.body), at, show(a.body[at:at + 40]), show(b.body[at:at + 40])))


def parse_cases(path):
    cases = []
    with open(path, "rb") as f:
        for line in f.read().decode("utf-8").splitlines():
            if not line or line.startswith("#"):
                continue
            fields = re.split(r"(?<!\\)\|", line)
            cases.append((fields[0], int(fields[2])))
    return cases


def compare_connection_groups(cases, linux_dir, windows_dir):
    """Cases named poolN_... form group poolN: calls on kept-alive answers. Both
    builds must have used as many connections for the group (both pool them)."""
    groups = {}
    for name, _ in cases:
        if name.startswith("pool"):
            groups.setdefault(name.split("_")[0], []).append(name)
    failures = 0
    for group, names in sorted(groups.items()):
        counts = []
        for directory in (linux_dir, windows_dir):
            seen = set()
            for name in names:
                side = load_side(directory, name)
                for request in (side or {}).get("requests", []):
                    seen.add(request.meta.get("connection"))
            counts.append(len(seen))
        same = counts[0] == counts[1]
        failures += 0 if same else 1
        print("%-10s connections of group %s (%d calls): linux %d, windows %d"
              % ("same" if same else "DIFFERENT", group, len(names), counts[0], counts[1]))
    return failures


def main(argv):
    strict = "--strict" in argv
    argv = [a for a in argv if a != "--strict"]
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    cases_path, linux_dir, windows_dir = argv[1:]
    cases = parse_cases(cases_path)
    failures = 0
    used_total = {}
    opened = []
    for name, expected in cases:
        linux, windows = load_side(linux_dir, name), load_side(windows_dir, name)
        differences, used, tolerable, explained_here = [], set(), [], []
        if linux is None or windows is None:
            differences.append("not run on %s" % ("linux" if linux is None else "windows"))
        else:
            for label, side in (("linux", linux), ("windows", windows)):
                if len(side["requests"]) != expected:
                    tolerable.append(("requests", "%s made %d requests, the case expects %d"
                                      % (label, len(side["requests"]), expected)))
            if linux["result"] != windows["result"]:
                tolerable.append(("result", "result: linux %s, windows %s"
                                  % (show(linux["result"]), show(windows["result"]))))
            if linux["detail"] is None or windows["detail"] is None:
                differences.append("no detail.txt on %s" % ("linux" if linux["detail"] is None else "windows"))
            elif linux["detail"] != windows["detail"]:
                tolerable.append(("detail", "detail: linux %s, windows %s"
                                  % (show(linux["detail"]), show(windows["detail"]))))
            if linux["output"] != windows["output"]:
                tolerable.append(("output", "output file: linux %s, windows %s"
                                  % (show(linux["output"]), show(windows["output"]))))
            allowed, _ = CASE_EXPLAINED.get(name, (set(), ""))
            for kind, text in tolerable:
                (explained_here if kind in allowed else differences).append(text)
            for k, (a, b) in enumerate(zip(linux["requests"], windows["requests"]), 1):
                before = len(differences)
                compare_requests(a, b, differences, used, CASE_EXPLAINED.get(name, (set(), ""))[0])
                for i in range(before, len(differences)):
                    differences[i] = "request %d: %s" % (k, differences[i])
        if explained_here or "case-explained" in used:
            used.discard("case-explained")
            used.add(name)
        for u in used:
            used_total[u] = used_total.get(u, 0) + 1
        if differences and name in OPEN:
            opened.append(name)
            print("OPEN       %s (ours, reported: %s)" % (name, OPEN[name]))
            for d in differences:
                print("    " + d)
        elif differences:
            failures += 1
            print("DIFFERENT  %s" % name)
            for d in differences + ["(explained) " + e for e in explained_here]:
                print("    " + d)
        elif name in used:
            print("explained  %s" % name)
            for e in explained_here:
                print("    " + e)
        else:
            print("same       %s%s" % (name, "  (explained: %s)" % ", ".join(sorted(used)) if used else ""))
    failures += compare_connection_groups(cases, linux_dir, windows_dir)
    print()
    print("Explained differences (normalized before comparing):")
    for key, reason in EXPLAINED.items():
        print("  %s, in %d cases: %s" % (key, used_total.get(key, 0), reason))
    for key, (kinds, reason) in CASE_EXPLAINED.items():
        state = "differs" if used_total.get(key) else "no longer differs"
        print("  case %s (%s; %s allowed to differ): %s" % (key, state, ", ".join(sorted(kinds)), reason))
    print()
    for key in OPEN:
        if key not in opened:
            print("note: open case %s no longer differs; take it out of OPEN" % key)
    print("%d cases compared, %d with unexplained differences, %d open (known, ours, reported)"
          % (len(cases), failures, len(opened)))
    return 1 if failures or (strict and opened) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
