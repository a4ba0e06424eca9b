#!/usr/bin/env bash
# The C# example with Debian's Mono: installs mono-mcs and mono-runtime
# (VFB_MONO=1 scripts/bootstrap.sh), builds the library in build/ and
# examples/csharp/Program.cs with mcs, and runs it in the sandbox against the
# local service: a status post whose non-ASCII message must arrive as UTF-8,
# percent-encoded, and the call's detail (vfb_last_call) after it; a post whose
# answer cannot be stored, with the reason; a photo upload; the sign-in's
# Location. Mono loads the
# build's libvantrelfb.so.1, alone in a folder on LD_LIBRARY_PATH, through the
# example's dllmap.
# The Python package: mypy --strict on the module; pip installs
# bindings/python offline into a fresh virtual environment in the sandbox,
# whose module must tell the built library's version and call it against the
# local service, and whose types mypy must read through py.typed. (The
# module's own test is the ctest 'python'.)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

VFB_MONO=1 scripts/bootstrap.sh

step() { printf -- '--- %s\n' "$*"; }
fail() { echo "test-bindings.sh: $*" >&2; exit 1; }

step "the library (build)"
cmake -S . -B build -G Ninja >/dev/null
ninja -C build -j2 vantrelfb >/dev/null

step "the Python module under mypy --strict"
# Debian's mypy, run by Debian's python3; no cache left in the checkout.
mypy --strict --cache-dir=/dev/null bindings/python/vantrelfb || fail "mypy --strict finds faults in the module"

step "pip install ./bindings/python into a fresh virtual environment, offline, and the library from it"
# The built library's version, as its file name carries it (libvantrelfb.so.1.1.0).
version=$(readlink build/libvantrelfb.so.1)
version=${version#libvantrelfb.so.}
# Debian's python3 by its path: another python3 earlier in PATH has neither
# Debian's venv nor its setuptools and wheel, which --no-build-isolation needs
# (the sandbox has no network, so nothing can come from an index either).
# --isolated: no pip configuration of this machine (find-links) takes part.
tests/e2e/sandbox.sh -- env VANTRELFB_LIBRARY="$root/build/libvantrelfb.so.1" bash -c '
  set -euo pipefail
  root=$1 version=$2
  cd "$(mktemp -d)"
  # A copy, so that setuptools leaves its build/ and egg-info out of the checkout.
  tar -C "$root/bindings" --exclude=build --exclude="*.egg-info" -cf - python | tar -xf -
  /usr/bin/python3 -m venv --system-site-packages venv
  venv/bin/pip --isolated install --quiet --no-index --no-build-isolation ./python
  rm -rf python
  mkdir use && cd use
  ../venv/bin/python - "$PWD/../venv" "$version" <<"PY"
import json, os, sys, vantrelfb
venv, version = sys.argv[1:]
assert vantrelfb.__file__.startswith(os.path.realpath(venv) + "/"), vantrelfb.__file__
assert vantrelfb.__version__ == version, (vantrelfb.__version__, version)
rc = vantrelfb.delete(token="TOKEN", object="100_7", out="answer.json", check=True)
assert rc is vantrelfb.Result.DONE, rc
assert json.load(open("answer.json")) == {"id": "1"}
recorded = os.path.join(os.environ["VFB_FAKE_DIR"], "requests")
sent = json.load(open(os.path.join(recorded, max(n for n in os.listdir(recorded) if n.endswith(".json")))))
assert (sent["method"], sent["target"]) == ("DELETE", "/100_7?access_token=TOKEN"), sent
print("ok: vantrelfb %s from %s called the library" % (vantrelfb.__version__, vantrelfb.__file__))
PY
  # mypy reads the installed types (py.typed): a correct use passes, a wrong one is caught.
  cat >good.py <<"PY"
import vantrelfb
rc: vantrelfb.Result = vantrelfb.delete(token="t", object="1", out=b"answer.json", stall_timeout=5)
print(rc.meaning, vantrelfb.last_call().failure.name, vantrelfb.__version__)
PY
  cat >bad.py <<"PY"
import vantrelfb
vantrelfb.status(message="Hi", token="t", target="me", out=1)
PY
  mypy --strict --cache-dir=/dev/null --python-executable ../venv/bin/python good.py
  if got=$(mypy --strict --cache-dir=/dev/null --python-executable ../venv/bin/python bad.py); then
    echo "mypy accepted out=1" >&2; exit 1
  fi
  grep -qF "Argument \"out\" to \"status\" has incompatible type \"int\"" <<<"$got" || { echo "$got" >&2; exit 1; }
  echo "ok: mypy --strict checks a use of the installed package"
' bash "$root" "$version" || fail "the Python package failed"

step "the C# example with mcs (build/csharp)"
out=$root/build/csharp
rm -rf "$out"
mkdir -p "$out"
mcs -warnaserror+ -out:"$out/Program.exe" examples/csharp/Program.cs
cp examples/csharp/Program.exe.config "$out/"
# Only the runtime package's file, as a user without the development package
# has it: the dllmap must name it.
mkdir "$out/lib"
ln -s "$(readlink -f build/libvantrelfb.so.1)" "$out/lib/libvantrelfb.so.1"

step "and run with mono in the sandbox against the local service"
# Each row: the exit status, the arguments, what its output must hold (each
# line a fixed string), what the service must have received (a fixed string of
# the raw request).
tests/e2e/sandbox.sh -- env LD_LIBRARY_PATH="$out/lib" bash -c '
  set -euo pipefail
  exe=$1
  cd "$(mktemp -d)"
  printf "\xff\xd8\xff\xe0 a photo" >"plage été.jpg"
  answer() {
    printf "%s\n" "$1" >"$VFB_FAKE_DIR/script.json.new" && mv "$VFB_FAKE_DIR/script.json.new" "$VFB_FAKE_DIR/script.json"
  }
  check() {  # name, answers, exit status, expected output lines, expected in the request, arguments...
    local name=$1 answers=$2 status=$3 output=$4 request=$5
    shift 5
    answer "$answers"
    local before got rc=0 line
    before=$(ls "$VFB_FAKE_DIR"/requests 2>/dev/null | wc -l)
    got=$(mono "$exe" "$@") || rc=$?
    [ "$rc" = "$status" ] || { echo "$name: exited $rc, not $status: $got" >&2; return 1; }
    while IFS= read -r line; do
      grep -qF -- "$line" <<<"$got" || { printf "%s: printed\n%s\nnot %s\n" "$name" "$got" "$line" >&2; return 1; }
    done <<<"$output"
    local raw
    raw=$(ls "$VFB_FAKE_DIR"/requests/*.raw | tail -1)
    [ "$(ls "$VFB_FAKE_DIR"/requests | wc -l)" = $((before + 2)) ] || { echo "$name: not one request" >&2; return 1; }
    grep -qaF -- "$request" "$raw" || { printf "%s: the request lacks %s:\n" "$name" "$request" >&2; cat -v "$raw" >&2; return 1; }
    echo "ok: $name"
  }
  location="https://www.facebook.com/connect/login_success.html#access_token=CS&expires_in=60"
  check status "[{\"body\": \"{\\\"id\\\": \\\"100_1\\\"}\"}]" 0 "answer: {\"id\": \"100_1\"}
detail: http 200, stored 1, failure 0," \
    "POST /me/feed?access_token=TOKEN&message=Gr%C3%BC%C3%9Fe%20%F0%9F%98%80 " status TOKEN "Grüße 😀" answer.json
  check "an answer not stored" "[{\"status\": 201, \"body\": \"{}\"}]" 1 "result 999: done
detail: http 201, stored 0, failure 14,
missing/a.json could not be created: No such file or directory" \
    "POST /me/feed?access_token=TOKEN&message=Hi " status TOKEN "Hi" missing/a.json
  check photo "[{\"body\": \"{\\\"id\\\": \\\"200\\\"}\"}]" 0 "answer: {\"id\": \"200\"}" \
    "Caption été" photo TOKEN "plage été.jpg" "Caption été" photo.json
  check signin "[{\"status\": 302, \"headers\": [[\"Location\", \"$location\"]]}]" 0 "$location" \
    "POST /dialog/oauth?" signin
' bash "$out/Program.exe" || fail "the C# example failed in the sandbox"
echo "test-bindings.sh: all passed"
