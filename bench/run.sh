#!/usr/bin/env bash
# The benchmark in one command, from anywhere:
#
#   bench/run.sh
#
# Installs what it needs (Debian packages), builds the library (Release) and
# the driver in build-bench, measures inside tests/e2e/sandbox.sh against a
# real nginx, then prints the table and writes bench/results/latest.csv,
# bench/results/latest.svg and the results section of bench/README.md.
#
# VFB_BENCH_REPS (default 9, at least 5) and VFB_BENCH_CALLS (default 50)
# change the repetitions and the status calls per run.
#
# VFB_BENCH_ROWS (default all) runs only some rows: a comma-separated choice
# of download, photo, video, status, keepalive, instructions, memory,
# firstcall, threads. Such a run leaves the full run's results alone: it
# writes bench/results/TAG.csv (and TAG.svg, TAG-samples.csv,
# TAG-threads.csv, TAG-nginx-access.log) and a results section of its own in
# bench/README.md, TAG being VFB_BENCH_TAG or the rows joined by '-'.
#
# VFB_BENCH_LIB=/path/to/libvantrelfb.so measures a library built elsewhere
# (e.g. another worktree's build/libvantrelfb.so): the driver is compiled from
# this tree against it instead of building build-bench.
#
#   VFB_BENCH_ROWS=firstcall,threads bench/run.sh      # the two fast rows, ~2 min
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
cd "$ROOT"
REPS=${VFB_BENCH_REPS:-9}
CALLS=${VFB_BENCH_CALLS:-50}
[ "$REPS" -ge 5 ] || { echo "run.sh: VFB_BENCH_REPS must be at least 5" >&2; exit 2; }
[ "$CALLS" -ge 1 ] || { echo "run.sh: VFB_BENCH_CALLS must be at least 1" >&2; exit 2; }
ROWS=${VFB_BENCH_ROWS:-all}
ALL_ROWS="download photo video status keepalive instructions memory firstcall threads"
for row in ${ROWS//,/ }; do
  [ "$row" = all ] || [[ " $ALL_ROWS " == *" $row "* ]] ||
    { echo "run.sh: unknown row '$row' in VFB_BENCH_ROWS (rows: ${ALL_ROWS// /, })" >&2; exit 2; }
done
# A run of every row is "latest"; a run of some rows gets a name of its own.
TAG=latest
if [ "$ROWS" != all ] && [ "${ROWS//,/ }" != "$ALL_ROWS" ]; then TAG=${VFB_BENCH_TAG:-${ROWS//,/-}}; fi
[[ "$TAG" =~ ^[A-Za-z0-9_.-]+$ ]] || { echo "run.sh: VFB_BENCH_TAG must be a plain file name" >&2; exit 2; }
LIB=${VFB_BENCH_LIB:-}
if [ -n "$LIB" ]; then
  LIB=$(readlink -f "$LIB")
  [ -f "$LIB" ] || { echo "run.sh: VFB_BENCH_LIB: no library at ${VFB_BENCH_LIB}" >&2; exit 2; }
fi

# 1. Packages: the contenders and tools, then what building and the sandbox need.
packages=(nginx-light curl gnuplot-nox time valgrind
          build-essential cmake ninja-build pkg-config libcurl4-openssl-dev openssl python3
          iproute2 util-linux ca-certificates procps)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "run.sh: installing ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# 2. Build. The unit tests stay configured when GoogleTest is there, so the
# same tree can check a transport change; only the library and driver build here.
BUILD=$ROOT/build-bench
if [ -z "$LIB" ]; then
  tests=ON
  dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "install ok installed" || tests=OFF
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVFB_BUILD_BENCH=ON -DVFB_BUILD_TESTS=$tests >/dev/null
  ninja -C "$BUILD" -j2 vantrelfb vantrelfb_bench_driver
  DRIVER=$BUILD/bench/vantrelfb_bench_driver
  LIB_TREE=$ROOT LIB_KIND=Release
else
  # The exports are the same in every version (include/vantrelfb.h), so this
  # tree's driver runs against any build of the library; rpath finds it.
  DRIVER=$ROOT/build-bench-lib/vantrelfb_bench_driver
  mkdir -p "$(dirname "$DRIVER")"
  cc -O2 -std=c11 -Wall -Wextra -Werror -pthread -I include bench/driver.c -o "$DRIVER" \
    "$LIB" -Wl,-rpath,"$(dirname "$LIB")"
  LIB_TREE=$(git -C "$(dirname "$LIB")" rev-parse --show-toplevel 2>/dev/null || echo "$(dirname "$LIB")")
  LIB_KIND="$LIB, $(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$(dirname "$LIB")/CMakeCache.txt" 2>/dev/null || echo 'build type unknown')"
fi

# 3. The machine the numbers come from.
WINDOWS_ONLY=(':!src/http/wininet' ':!src/platform/win32' ':!src/module/dllmain.cpp')
RUN=bench/results/run.tmp
rm -rf "$RUN"
mkdir -p "$RUN"
{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "nproc: $(nproc)"
  echo "cpu: $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
  echo "kernel: $(uname -sr)"
  echo "memory: $(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
  echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "library: $(git -C "$LIB_TREE" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$LIB_TREE" diff --quiet -- src "${WINDOWS_ONLY[@]}" 2>/dev/null || echo ' (+ uncommitted src changes)'), $LIB_KIND"
  echo "rows: $ROWS"
  echo "curl: $(curl --version | head -n 1)"
  echo "nginx: $(nginx -v 2>&1 | sed 's/^nginx version: //')"
} >"$RUN/machine.txt"
cat "$RUN/machine.txt" >&2

# 4. Measure, inside the sandbox (loopback only, the test CA trusted).
start=$(date +%s)
tests/e2e/sandbox.sh --no-service -- bench/inner.sh "$DRIVER" "$RUN" "$REPS" "$CALLS" "$ROWS"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg), measuring took $(( $(date +%s) - start )) s" \
  >>"$RUN/machine.txt"

# 5. Report.
python3 bench/report.py "$RUN" "$RUN/machine.txt" "$TAG"
# The transfers nginx logged (status posts left out: hundreds of identical lines).
if grep -v -e " /me/feed " -e " /ka/feed " "$RUN/nginx-access.log" >"$RUN/transfers.log"; then
  cp "$RUN/transfers.log" "bench/results/$TAG-nginx-access.log"
fi
echo "run.sh: wrote bench/results/$TAG.csv, bench/results/$TAG.svg and bench/README.md" >&2
