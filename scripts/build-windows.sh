#!/usr/bin/env bash
# Cross-builds VantrelFB.dll (and its import library libVantrelFB.dll.a) with
# mingw-w64 into build-win. Extra arguments go to the configure step, e.g.
#   scripts/build-windows.sh -DVFB_BUILD_TESTS=ON
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VFB_WIN_BUILD_DIR:-$root/build-win}"
jobs="${VFB_JOBS:-2}"

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi

cmake -S "$root" -B "$build" "${generator[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DVFB_BUILD_TESTS=OFF -DVFB_BUILD_TOOLS=OFF "$@"
cmake --build "$build" -j "$jobs"

ls -l "$build/VantrelFB.dll" "$build/libVantrelFB.dll.a"
