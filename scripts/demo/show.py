#!/usr/bin/env python3
"""The demo tour's helper: scripts the local service, shows what happened and
checks it. Everything it prints comes from the service's recordings, the
tool's own output and the files the library stored.

  show.py answer STEPDIR [--status N] [--header "Name: value"]... [--body TEXT]
      makes the local service give this answer to the next connection
  show.py heading TITLE TEXT        a step's heading
  show.py command ARG...            the command line as shown (tokens shortened)
  show.py shorten TEXT              TEXT with access tokens shortened
  show.py get FILE [KEY]...         a value from a JSON file (the stored answers)
  show.py report STEPDIR --command TEXT --export NAME --expect CODE --requests-before N
                 --exit N [--expect-exit N] --stdout FILE --stderr FILE --out FILE [--copy-to FILE]
      shows the request, the answer, the result and the stored file; checks
      them and adds a row to the summary; exits 1 when a check failed
  show.py summary DEMODIR           the table of every step; exits 1 on a failure
"""

import argparse
import hashlib
import http
import json
import os
import re
import shlex
import shutil
import sys

WIDTH = 100
LABEL = 10  # width of the left column ("request", "answer", ...)
STORED_LIMIT = 480
SUMMARY = "summary.tsv"

TOKEN = re.compile(r"(access_token=)([^&#\s\"']+)")


def short_token(value):
    # Long enough to recognise, short enough to read; the files keep it whole.
    return value if len(value) <= 24 else value[:8] + "…" + value[-4:]


def shorten(text):
    return TOKEN.sub(lambda m: m.group(1) + short_token(m.group(2)), text)


def printable(text):
    return "".join(c if c in "\n\t" or (c.isprintable()) else "\\x%02x" % ord(c) for c in text)


def emit(label, lines):
    """Prints LINES with LABEL in the left column of the first one."""
    if isinstance(lines, str):
        lines = [lines]
    pad = " " * (2 + LABEL)
    for i, line in enumerate(lines):
        head = ("  " + label.ljust(LABEL)) if i == 0 else pad
        print(head + line if line else head.rstrip())


def fill(pieces, width=WIDTH - 2 - LABEL, indent="  "):
    """Joins PIECES into lines of at most WIDTH, breaking only between pieces
    (a piece longer than a line is cut), so nothing is lost or reordered."""
    lines = [""]
    for piece in pieces:
        room = width - (len(indent) if len(lines) > 1 else 0)
        if lines[-1] and len(lines[-1]) + len(piece) > room:
            lines.append("")
        while len(piece) > width - len(indent):
            cut = width - len(indent) - len(lines[-1])
            lines[-1] += piece[:cut]
            piece = piece[cut:]
            lines.append("")
        lines[-1] += piece
    return [lines[0]] + [indent + line for line in lines[1:] if line]


def wrapped(text, width=WIDTH - 2 - LABEL):
    """TEXT in lines of at most WIDTH, broken after commas and spaces."""
    out = []
    for line in text.split("\n"):
        out += fill(re.findall(r"[^, ]*[, ]*", line)[:-1] or [""], width)
    return out


def url_lines(text, first="", width=WIDTH - 2 - LABEL):
    """A URL or request target on one line, or split before its query
    parameters and fragment when it is too long."""
    if len(first) + len(text) <= width:
        return [first + text]
    pieces = re.findall(r"[?#&]?[^?#&]+|[?#&]", text)
    lines = [first + pieces[0]]
    pad = " " * len(first)
    for piece in pieces[1:]:
        lines += [pad + line for line in fill([piece], width - len(pad))]
    return lines


def fmt_bytes(n):
    return "%s byte%s" % (format(n, ","), "" if n == 1 else "s")


def header(headers, name):
    for n, v in headers:
        if n.lower() == name.lower():
            return v
    return None


# ---------------------------------------------------------------- answer

def cmd_answer(args):
    planned = {"status": args.status}
    headers = []
    for h in args.header:
        name, _, value = h.partition(":")
        headers.append([name.strip(), value.strip()])
    planned["headers"] = headers
    planned["body"] = args.body
    fake = os.environ.get("VFB_FAKE_DIR")
    if not fake:
        sys.exit("show.py: VFB_FAKE_DIR is not set (run inside tests/e2e/sandbox.sh)")
    data = json.dumps([planned], indent=1, ensure_ascii=False).encode("utf-8") + b"\n"
    # The service re-reads script.json when it is replaced, so replace it whole.
    tmp = os.path.join(fake, "script.json.tmp")
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, os.path.join(fake, "script.json"))
    with open(os.path.join(args.stepdir, "answer.json"), "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- small commands

def rule(title):
    return "── %s %s" % (title, "─" * max(3, WIDTH - 4 - len(title)))


def cmd_heading(args):
    print("\n" + rule(args.title))
    for line in wrapped(args.text, WIDTH - 2):
        print("  " + line)


def cmd_command(args):
    """The command line, continued with backslashes between options when long."""
    words = [shlex.quote(shorten(a)) for a in args.args]
    groups, i = [], 0
    while i < len(words):
        take = 2 if words[i].startswith("--") and i + 1 < len(words) else 1
        groups.append(" ".join(words[i:i + take]))
        i += take
    lines = ["$ vantrelfb"]
    for g in groups:
        if len(lines[-1]) + 1 + len(g) > WIDTH - 4:
            lines[-1] += " \\"
            lines.append("    " + g)
        else:
            lines[-1] += " " + g
    print("\n".join("  " + line for line in lines))


def cmd_shorten(args):
    print(shorten(args.text))


def cmd_get(args):
    try:
        with open(args.file, "rb") as f:
            value = json.loads(f.read().decode("utf-8"))
        for key in args.keys:
            value = value[key]
    except (OSError, ValueError, KeyError, TypeError, IndexError):
        return 1
    print(value if isinstance(value, str) else json.dumps(value))
    return 0


# ---------------------------------------------------------------- report

def multipart_parts(raw, meta):
    """Each part of a multipart/form-data body: (headers, content bytes)."""
    ctype = header(meta["headers"], "Content-Type") or ""
    m = re.search(r"boundary=(\S+)", ctype)
    if not m or meta.get("body_offset") is None:
        return None
    body = raw[meta["body_offset"]:]
    delimiter = b"--" + m.group(1).encode("latin-1")
    parts = []
    for chunk in body.split(delimiter)[1:]:
        if chunk.startswith(b"--"):
            break
        chunk = chunk[2:] if chunk.startswith(b"\r\n") else chunk
        head, _, content = chunk.partition(b"\r\n\r\n")
        if content.endswith(b"\r\n"):
            content = content[:-2]
        headers = [line.decode("latin-1").partition(":") for line in head.split(b"\r\n") if line]
        parts.append(([(n.strip(), v.strip()) for n, _, v in headers], content))
    return parts


def show_request(meta, raw):
    emit("request", url_lines(shorten(meta["target"]), meta["method"] + " "))
    hs = meta["headers"]
    rows = [("Host", header(hs, "Host")), ("TLS name", meta.get("sni")),
            ("User-Agent", header(hs, "User-Agent")), ("Content-Type", header(hs, "Content-Type")),
            ("Content-Length", header(hs, "Content-Length"))]
    out = ["%-16s %s" % (n, "(none)" if v is None else v) for n, v in rows]
    body = "%-16s %s" % ("body", fmt_bytes(meta.get("body_length") or 0))
    parts = multipart_parts(raw, meta) if meta.get("body_length") else None
    if parts:
        out.append(body + ", multipart/form-data, %d parts:" % len(parts))
        for headers, content in parts:
            disp = header(headers, "Content-Disposition") or ""
            name = (re.search(r'name="([^"]*)"', disp) or [None, "?"])[1]
            filename = re.search(r'filename="([^"]*)"', disp)
            if filename:
                desc = 'file "%s", %s, %s' % (filename.group(1), header(headers, "Content-Type") or "no type",
                                             fmt_bytes(len(content)))
            else:
                text = content.decode("utf-8", "replace")
                if name == "access_token":
                    text = short_token(text)
                desc = json.dumps(printable(text), ensure_ascii=False)
            out.append("%-16s   %-13s %s" % ("", name, desc))
    else:
        out.append(body)
    emit("", out)


def show_answer(stepdir, meta):
    try:
        with open(os.path.join(stepdir, "answer.json"), encoding="utf-8") as f:
            planned = json.load(f)[0]
    except (OSError, ValueError, IndexError):
        planned = {}
    resp = meta.get("response", {})
    status = resp.get("status", planned.get("status", 200))
    try:
        reason = http.HTTPStatus(status).phrase
    except ValueError:
        reason = ""
    lines = ["%d %s, body %s" % (status, reason, fmt_bytes(resp.get("body_length", 0)))]
    for name, value in planned.get("headers", []):
        lines += url_lines(shorten(value), "%-16s " % name)
    emit("answer", lines)
    return status


def show_stored(path, shown_path, body_sha256):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        emit("stored", "%s: not there" % shown_path)
        return "the output file is missing"
    same = hashlib.sha256(data).hexdigest() == body_sha256
    verdict = "DIFFERENT from the body the service sent" if not same else \
        "byte for byte the body the service sent" if data else "empty, as the service's body was"
    emit("stored", fill([shown_path + ": ", fmt_bytes(len(data)) + ", ", verdict]))
    if data:
        text = data[:STORED_LIMIT].decode("utf-8", "replace")
        lines = wrapped(shorten(printable(text)))
        if len(data) > STORED_LIMIT:
            lines.append("… %s more" % fmt_bytes(len(data) - STORED_LIMIT))
        emit("", lines)
    return None if same else "the stored file differs from the service's answer"


def cmd_report(args):
    fake = os.environ["VFB_FAKE_DIR"]
    reqdir = os.path.join(fake, "requests")
    records = sorted(int(n[:-5]) for n in os.listdir(reqdir) if n.endswith(".json") and n[:-5].isdigit())
    new = [i for i in records if i > args.requests_before]
    problems = []
    meta = None
    answered = "-"
    for k, index in enumerate(new):
        suffix = "" if len(new) == 1 else "-%d" % (k + 1)
        for ext in ("json", "raw"):
            src = os.path.join(reqdir, "%04d.%s" % (index, ext))
            if os.path.exists(src):
                shutil.copyfile(src, os.path.join(args.stepdir, "request%s.%s" % (suffix, ext)))
        with open(os.path.join(reqdir, "%04d.json" % index), encoding="utf-8") as f:
            m = json.load(f)
        with open(os.path.join(reqdir, "%04d.raw" % index), "rb") as f:
            raw = f.read()
        show_request(m, raw)
        meta = meta or m
    if len(new) != 1:
        problems.append("%d requests reached the service, expected 1" % len(new))
    if meta is not None:
        answered = str(show_answer(args.stepdir, meta))

    with open(args.stdout, encoding="utf-8", errors="replace") as f:
        stdout = f.read().strip()
    with open(args.stderr, encoding="utf-8", errors="replace") as f:
        stderr = f.read().strip()

    if args.expect == "Location":
        result = "Location" if args.exit == 0 and stdout.startswith("https://") else "none"
        if stdout:
            emit("result", ["exit %d, the Location on standard output:" % args.exit] + url_lines(shorten(stdout)))
        if stderr:
            emit("result" if not stdout else "", wrapped(stderr))
        if result != "Location":
            problems.append("no Location (exit %d)" % args.exit)
    else:
        m = re.search(r"^vantrelfb: %s returned (-?\d+):" % re.escape(args.export), stderr, re.M)
        result = m.group(1) if m else "none"
        # The tool's line, whole, broken after its code and at its "; ".
        lines = []
        for line in stderr.splitlines():
            head = re.match(r"(vantrelfb: \S+ returned -?\d+:) (.*)", line)
            clauses = [head.group(1)] + ["  " + c for c in head.group(2).split("; ")] if head else [line]
            lines += [c + (";" if 0 < i < len(clauses) - 1 else "") for i, c in enumerate(clauses)]
        emit("result", lines or "(nothing on standard error)")
        if result != args.expect:
            problems.append("result %s, expected %s" % (result, args.expect))
        if args.expect == "999" and args.exit != args.expect_exit:
            problems.append("exit status %d, expected %d" % (args.exit, args.expect_exit))
        # A refusal (exit 40 to 42) adds the service's error to the result line.
        lines_expected = 2 if 40 <= args.expect_exit <= 42 else 1
        if len(stderr.splitlines()) != lines_expected:
            problems.append("%d lines on standard error, expected %d" % (len(stderr.splitlines()), lines_expected))

    if meta is not None and result in ("999", "Location"):
        shown = args.out
        if args.copy_to:
            if os.path.exists(args.out):
                shutil.copyfile(args.out, args.copy_to)
            shown = "%s (copied to %s)" % (args.out, args.copy_to)
        problem = show_stored(args.out, shown, meta["response"]["body_sha256"])
        if problem:
            problems.append(problem)

    demo = os.path.dirname(os.path.abspath(args.stepdir))
    with open(os.path.join(demo, SUMMARY), "a", encoding="utf-8") as f:
        row = [os.path.basename(args.stepdir)[:2], args.command, args.export, answered, result, args.expect,
               "; ".join(problems) or "ok"]
        f.write("\t".join(row) + "\n")
    if problems:
        emit("FAILED", problems)
        return 1
    return 0


def cmd_summary(args):
    try:
        with open(os.path.join(args.demodir, SUMMARY), encoding="utf-8") as f:
            rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    except OSError:
        rows = []
    line = "  %4s  %-18s %-22s %-5s %-9s %-9s %s"
    print("\n" + rule("Summary"))
    print(line % ("step", "command", "export", "HTTP", "result", "expected", "check"))
    failed = 0
    for number, command, export, answered, result, expected, verdict in rows:
        print(line % (number.lstrip("0"), command, export, answered, result, expected, verdict))
        failed += verdict != "ok"
    return 1 if failed or not rows else 0


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="what", required=True)
    a = sub.add_parser("answer")
    a.add_argument("stepdir")
    a.add_argument("--status", type=int, default=200)
    a.add_argument("--header", action="append", default=[])
    a.add_argument("--body", default="")
    h = sub.add_parser("heading")
    h.add_argument("title")
    h.add_argument("text")
    c = sub.add_parser("command")
    c.add_argument("args", nargs=argparse.REMAINDER)
    s = sub.add_parser("shorten")
    s.add_argument("text")
    g = sub.add_parser("get")
    g.add_argument("file")
    g.add_argument("keys", nargs="*")
    r = sub.add_parser("report")
    r.add_argument("stepdir")
    r.add_argument("--export", required=True)
    r.add_argument("--command", required=True, help="the step's name in the summary")
    r.add_argument("--expect", required=True)
    r.add_argument("--requests-before", type=int, required=True)
    r.add_argument("--exit", type=int, required=True)
    r.add_argument("--expect-exit", type=int, default=0, help="the tool's exit status when the result is 999")
    r.add_argument("--stdout", required=True)
    r.add_argument("--stderr", required=True)
    r.add_argument("--out", required=True)
    r.add_argument("--copy-to")
    m = sub.add_parser("summary")
    m.add_argument("demodir")
    args = p.parse_args(argv[1:])
    handler = {"answer": cmd_answer, "heading": cmd_heading, "command": cmd_command, "shorten": cmd_shorten, "get": cmd_get,
               "report": cmd_report, "summary": cmd_summary}[args.what]
    return handler(args) or 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
