#!/usr/bin/env bash
# The Windows build under Wine: builds VantrelFB.dll (scripts/build-windows.sh),
# checks its exports and imports (scripts/check-windows-dll.sh), builds the
# end-to-end cases against it (tests/e2e/windows), runs them under Wine
# in the sandbox with the fake service and again with nothing listening (the
# "unreachable" cases), then runs the differential check: the same calls from
# the Linux and the Windows build, and what the fake service recorded for
# each compared (tests/e2e/differential). Exits non-zero if any part fails.
#
# Needs mingw-w64 and wine64 (VFB_WINDOWS=1 scripts/bootstrap.sh). Build
# directories: build-win, build-win-e2e, build-diff (and build for the Linux
# library, when test.sh has not built it yet). VFB_JOBS sets the parallelism (2).
#
#   scripts/test-windows.sh [-- GTEST_ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${VFB_JOBS:-2}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

step() { printf '\n--- %s ---\n' "$*"; }
die() { echo "test-windows.sh: $*" >&2; exit 1; }

for tool in x86_64-w64-mingw32-g++-posix /usr/lib/wine/wine64 python3; do
  command -v "$tool" >/dev/null || die "$tool is missing: run VFB_WINDOWS=1 scripts/bootstrap.sh"
done

failed=()
# Arguments after "--" go to the end-to-end program, e.g. -- --gtest_filter=SignIn.*
gtest_args=()
if [ "${1:-}" = -- ]; then
  shift
  gtest_args=("$@")
fi

# Configures (only where there is no cache yet, so reruns keep their settings) and builds.
build() {  # dir, source, target-or-"", configure arguments...
  local dir=$1 src=$2 target=$3
  shift 3
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$dir" "${generator[@]}" "$@" >/dev/null
  fi
  cmake --build "$dir" -j "$jobs" ${target:+--target "$target"} >"$dir/build.log" 2>&1 \
    || { tail -40 "$dir/build.log"; return 1; }
}

step "Windows DLL (build-win)"
mkdir -p build-win
scripts/build-windows.sh >build-win/build-windows.log 2>&1 \
  || { tail -40 build-win/build-windows.log; die "the DLL does not build"; }
tail -2 build-win/build-windows.log
scripts/check-windows-dll.sh build-win/VantrelFB.dll x86-64 || failed+=("DLL exports and imports")

step "Windows end-to-end cases (build-win-e2e)"
build build-win-e2e tests/e2e/windows "" || die "the Windows end-to-end cases do not build"
ls -l build-win-e2e/vantrelfb_e2e.exe

step "Differential drivers (build-diff)"
mkdir -p build-diff
# The Linux library as the main build makes it (test.sh has usually built it already).
build build . vantrelfb -DVFB_BUILD_TESTS=ON -DVFB_BUILD_TOOLS=ON || die "the Linux library does not build"
build build-diff/linux tests/e2e/differential "" || die "the Linux driver does not build"
build build-diff/windows tests/e2e/differential "" \
  -DCMAKE_TOOLCHAIN_FILE="$root/tests/e2e/windows/toolchain-mingw64-posix.cmake" \
  || die "the Windows driver does not build"

# Runs the Windows cases in a sandbox and prints gtest's summary: the counts,
# each case skipped for Wine with its reason, other skips counted by reason,
# and the failed cases with their output.
run_e2e() {  # label, log, sandbox options...
  local label=$1 log=$2
  shift 2
  local status=0
  # Wine's console turns the program's line ends into CR LF.
  timeout 900 tests/e2e/sandbox.sh "$@" -- tests/e2e/windows/with-wine.sh wine \
    build-win-e2e/vantrelfb_e2e.exe --gtest_color=no "${gtest_args[@]}" 2>&1 | tr -d '\r' >"$log" \
    || status=${PIPESTATUS[0]}
  awk -v failures="$log.failures" '
    /^\[ RUN      \]/ { body = ""; reason = "" }
    { body = body "    " $0 "\n" }
    /: Skipped$/ { if ((getline line) > 0) { reason = line; body = body "    " line "\n" } }
    /^\[  SKIPPED \] .*\([0-9]+ ms\)$/ {
      if (reason ~ /^Wine: /) printf "[  SKIPPED ] %s -- %s\n", $4, reason
      else other[reason]++
    }
    /^\[  FAILED  \] .*\([0-9]+ ms\)$/ { printf "%s", body >failures }
    /^\[==========\] [0-9]+ tests? from .* ran/ { summary = 1 }
    summary && (/^\[  (PASSED|SKIPPED|FAILED) +\] [0-9]+ test/ || /^\[==========\]/ || /FAILED TESTS?$/) { tail = tail $0 "\n" }
    summary && /^\[  FAILED  \] [^0-9]/ { tail = tail $0 "\n" }
    END {
      for (r in other) printf "(%d cases skipped: %s)\n", other[r], r
      printf "%s", tail >(failures ".summary")
    }' "$log"
  if [ -s "$log.failures" ]; then
    echo "Failed cases (first 300 lines; all of them in $log):"
    head -300 "$log.failures"
  fi
  cat "$log.failures.summary"
  rm -f "$log.failures" "$log.failures.summary"
  if [ "$status" != 0 ]; then
    echo "($label: exit status $status; the whole output is in $log)"
    failed+=("$label")
  fi
}

step "End-to-end cases under Wine, with the fake service"
run_e2e "Wine e2e" build-win-e2e/e2e.log

step "End-to-end cases under Wine, nothing listening"
run_e2e "Wine e2e (no service)" build-win-e2e/e2e_no_service.log --no-service

step "Differential check: Linux build and Windows build against the fake service"
cases=tests/e2e/differential/cases.txt
out=build-diff/out
rm -rf "$out"
mkdir -p "$out"
status=0
timeout 900 tests/e2e/sandbox.sh -- /bin/bash -c '
  build-diff/linux/vfb_diff_driver "$1" "$2/linux" >"$2/linux.log" &&
  tests/e2e/windows/with-wine.sh wine build-diff/windows/vfb_diff_driver.exe "$1" "$2/windows" >"$2/windows.log"
' _ "$cases" "$out" 2>"$out/sandbox.log" || status=$?
if [ "$status" != 0 ]; then
  cat "$out/sandbox.log" "$out/linux.log" "$out/windows.log" 2>/dev/null | tail -40
  failed+=("differential drivers")
fi
python3 tests/e2e/differential/compare.py "$cases" "$out/linux" "$out/windows" >"$out/compare.log" || failed+=("differential check")
grep -v '^same ' "$out/compare.log" || true
echo "(per case: $out/compare.log)"

echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "test-windows.sh: FAILED: ${failed[*]}"
  exit 1
fi
echo "test-windows.sh: all passed"
