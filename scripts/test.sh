#!/usr/bin/env bash
# Sets up a fresh machine and runs every test: unit, end-to-end (sandboxed),
# tool, install, sanitizers, fuzzing and the Windows build under Wine.
# VFB_QUICK=1 runs only the default build's suites.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

VFB_WINDOWS=1 scripts/bootstrap.sh

step() { printf '\n=== %s ===\n' "$*"; }

step "Linux build and its suites"
cmake -S . -B build -G Ninja -DVFB_BUILD_TESTS=ON -DVFB_BUILD_TOOLS=ON >/dev/null
ninja -C build -j"$(nproc)"
(cd build && ctest --output-on-failure)

[ "${VFB_QUICK:-0}" = 1 ] && exit 0

# Every stage runs even when an earlier one failed, so one run shows them all.
failed=()
for extra in scripts/test-*.sh; do
  [ -e "$extra" ] || continue
  step "$extra"
  bash "$extra" || failed+=("$extra")
done
if [ ${#failed[@]} -gt 0 ]; then
  printf '\nFAILED: %s\n' "${failed[*]}"
  exit 1
fi
printf '\nAll suites passed.\n'
