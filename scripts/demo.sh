#!/usr/bin/env bash
# The first thing to run. Sets up the machine (scripts/bootstrap.sh), builds
# the library and the vantrelfb tool in build/, then runs a scripted session
# that calls all twelve exports through the tool against the local service,
# in a private sandbox where the service's hosts are served on loopback
# (tests/e2e/sandbox.sh): nothing leaves the machine, no account is needed.
#
#   scripts/demo.sh
#
# Each step shows the request as the service received it, the tool's result
# line and the file the library stored. Everything is kept in build/demo/.
# Exits 0 when every step gave the result the tour expects, 1 otherwise.
# VFB_JOBS=N limits the build's parallel jobs.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."
root=$PWD
build=build
demo=$build/demo
rel() { printf '%s' "${1#"$root"/}"; }

echo "VantrelFB demo"

# 1. Packages. apt-get needs root; the check itself does not.
if [ "$(id -u)" = 0 ] || ! command -v sudo >/dev/null; then
  scripts/bootstrap.sh
else
  sudo scripts/bootstrap.sh
fi

# 2. The library and the tool. The build's chatter goes to a log, shown only
# when the build fails.
rm -rf "$demo"
mkdir -p "$demo"
log=$demo/build.log
printf '  building  the library and the tool in %s/ (log: %s) ... ' "$build" "$log"
if cmake -S . -B "$build" -G Ninja -DVFB_BUILD_TOOLS=ON >"$log" 2>&1 &&
   ninja -C "$build" ${VFB_JOBS:+-j"$VFB_JOBS"} vantrelfb_tool >>"$log" 2>&1; then
  echo "done"
else
  echo "FAILED"
  tail -n 40 "$log" >&2
  exit 1
fi
library=$(readlink -f "$build/libvantrelfb.so")
printf '  library   %s\n' "$(rel "$library")"
printf '  tool      %s/tools/vantrelfb\n' "$build"
printf '  service   tests/e2e/fake_service.py on 127.0.0.1:443, in a sandbox of its own: the four\n'
printf '            hosts resolve to it, a test CA made for this run is trusted, and no traffic\n'
printf '            leaves the machine\n\n'

# 3. The session, inside the sandbox. The sandbox sees this checkout at the
# same path, so the tour writes straight into build/demo/; --keep adds the
# service's whole recording directory when it ends.
status=0
VFB_DEMO_DIR=$demo VFB_DEMO_TOOL=$build/tools/vantrelfb \
  tests/e2e/sandbox.sh --keep "$demo/service" -- scripts/demo/tour.sh </dev/null || status=$?

cat <<EOF

Everything is in $demo/:
  NN-STEP/answer.json      what the local service was told to answer
  NN-STEP/request.json     the request as the service received it (parsed)
  NN-STEP/request.raw      the same, byte for byte (request line, headers, body)
  NN-STEP/stdout.txt, stderr.txt   the tool's output
  NN-STEP/*.json, ...      the file the library stored, and the uploaded media
  service/                 the service's recording directory: requests/, connections.jsonl
  summary.tsv              one row per step

To run your own application against the local service: docs/local-service.md
EOF
if [ "$status" != 0 ]; then
  echo "demo.sh: the tour did not go as expected (status $status); see the steps marked FAILED" >&2
fi
exit "$status"
