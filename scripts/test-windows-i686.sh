#!/usr/bin/env bash
# The 32-bit Windows DLL, built and inspected but not run: 32-bit Wine needs
# the kernel to start 32-bit x86 programs, and this machine's kernel does not
# (its ia32 emulation is off: such a program fails with "Exec format error").
#
# Builds VantrelFB.dll for i686-w64-mingw32 (scripts/build-windows.sh into
# build-win-i686), checks it with scripts/check-windows-dll.sh (a 32-bit x86
# DLL, ordinals 1 to 21 under the header's names, imports from Windows' own
# DLLs only), and builds the end-to-end program against it (tests/e2e/windows
# into build-win-i686-e2e).
#
# Needs mingw-w64 (VFB_WINDOWS=1 scripts/bootstrap.sh). VFB_JOBS sets the
# parallelism (2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${VFB_JOBS:-2}
triplet=i686-w64-mingw32
dll_dir=$root/build-win-i686
e2e_dir=$root/build-win-i686-e2e
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

step() { printf '\n--- %s ---\n' "$*"; }
die() { echo "test-windows-i686.sh: $*" >&2; exit 1; }

for tool in $triplet-g++ $triplet-g++-posix $triplet-objdump cc; do
  command -v "$tool" >/dev/null || die "$tool is missing: run VFB_WINDOWS=1 scripts/bootstrap.sh"
done

step "32-bit Windows DLL (build-win-i686)"
mkdir -p "$dll_dir"
VFB_WIN_BUILD_DIR=$dll_dir VFB_JOBS=$jobs scripts/build-windows.sh -DVFB_MINGW_PREFIX=$triplet \
  >"$dll_dir/build-windows.log" 2>&1 || { tail -40 "$dll_dir/build-windows.log"; die "the DLL does not build"; }
tail -2 "$dll_dir/build-windows.log"

step "The DLL's machine, exports and imports"
scripts/check-windows-dll.sh "$dll_dir/VantrelFB.dll" i386

step "End-to-end program for it (build-win-i686-e2e)"
if [ ! -f "$e2e_dir/CMakeCache.txt" ]; then
  cmake -S tests/e2e/windows -B "$e2e_dir" "${generator[@]}" -DVFB_MINGW_PREFIX=$triplet \
    -DVFB_WIN_BUILD_DIR="$dll_dir" >/dev/null
fi
cmake --build "$e2e_dir" -j "$jobs" >"$e2e_dir/build.log" 2>&1 \
  || { tail -40 "$e2e_dir/build.log"; die "the end-to-end program does not build"; }
format=$($triplet-objdump -f "$e2e_dir/vantrelfb_e2e.exe" | sed -n 's/.*file format //p')
[ "$format" = pei-i386 ] || die "vantrelfb_e2e.exe is $format, not pei-i386"
ls -l "$e2e_dir/vantrelfb_e2e.exe"

echo
echo "test-windows-i686.sh: the 32-bit DLL and its end-to-end program build; not run (no 32-bit Wine here)"
