#!/usr/bin/env bash
# Inspects a cross-built VantrelFB.dll without running it:
#   - it is a DLL for the expected machine (i386 or x86-64);
#   - it exports ordinals 1 to 21 and no others, each under the name that
#     vfb_export_name in include/vantrelfb.h gives for it (a loader that
#     resolves by name uses those);
#   - ordinals 1 to 16 keep the names they have always had, whatever the
#     header says now: programs linked by ordinal rely on them;
#   - it imports from Windows' own DLLs only: the C and C++ runtimes are
#     linked in, so no mingw DLL has to travel with it.
#
#   scripts/check-windows-dll.sh DLL i386|x86-64
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dll=$1 machine=$2
die() { echo "check-windows-dll.sh: $*" >&2; exit 1; }

case $machine in
  i386) objdump=i686-w64-mingw32-objdump ;;
  x86-64) objdump=x86_64-w64-mingw32-objdump ;;
  *) die "unknown machine $machine (i386 or x86-64)" ;;
esac
command -v "$objdump" >/dev/null || die "$objdump is missing: run VFB_WINDOWS=1 scripts/bootstrap.sh"
[ -f "$dll" ] || die "$dll is missing"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$objdump" -p "$dll" >"$tmp/headers"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

format=$(sed -n 's/.*file format //p' "$tmp/headers" | head -1)
[ "$format" = "pei-$machine" ] || fail "$dll is $format, not pei-$machine"
sed -n '/^Characteristics /,/^$/p' "$tmp/headers" | grep -q '^[[:space:]]*DLL$' || fail "$dll is not marked as a DLL"

# The names the header gives, as a program built with a GNU compiler sees them.
cat >"$tmp/names.c" <<'EOF'
#include <stdio.h>
#include "vantrelfb.h"
int main(void) {
    for (int ordinal = 1; ordinal <= VFB_EXPORT_COUNT; ++ordinal) printf("%d %s\n", ordinal, vfb_export_name(ordinal));
    return 0;
}
EOF
cc -std=c11 -Wall -Werror -I "$root/include" "$tmp/names.c" -o "$tmp/names" || die "cannot build the name lister"
"$tmp/names" >"$tmp/want"

# The first sixteen as the DLL has always exported them (13-15 as the GNU
# compiler decorates them, which is what this check builds with).
cat >"$tmp/frozen" <<'EOF'
1 FaceBookToken
2 FaceBookStatus
3 FaceBookNotes
4 FaceBookCheckIn
5 FaceBookEvents
6 FaceBookNotesEdit
7 FaceBookNotesView
8 FaceBookNotesDelete
9 FaceBookPictureUpload
10 FaceBookVideoUpload
11 FaceBookTokenGraph
12 FaceBookDelete
13 _ZN10CVantrelFBC1Ev
14 _ZN10CVantrelFBaSERKS_
15 _Z11fnVantrelFBv
16 nVantrelFB
EOF
head -16 "$tmp/want" | diff -u "$tmp/frozen" - >"$tmp/frozen.diff" ||
  { echo "FAIL: the header renames ordinals 1-16 (- always, + now):" >&2; cat "$tmp/frozen.diff" >&2; exit 1; }

# Every entry of the export address table, named or not, so that an extra
# ordinal exported by number only shows too.
base=$(sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\).*/\1/p' "$tmp/headers")
entries=$(sed -n '/^Export Address Table/,/^$/p' "$tmp/headers" | grep -c '^[[:space:]]*\[ *[0-9]*\]' || true)
[ "$base" = 1 ] || fail "ordinal base is ${base:-missing}, not 1"
count=$(wc -l <"$tmp/want")
[ "$entries" = "$count" ] || fail "$entries entries in the export address table, not $count"
# The names: "[   0] FaceBookToken", by index into that table (ordinal - base).
sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' "$tmp/headers" |
  sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
  awk -v base="${base:-0}" '{ print $1 + base, $2 }' | sort -n >"$tmp/named"
if ! diff -u "$tmp/want" "$tmp/named" >"$tmp/diff"; then
  fail "exports by ordinal differ from vfb_export_name (- wanted, + in the DLL):"
  cat "$tmp/diff" >&2
fi

# Windows' own DLLs, which every installation has.
system='^(kernel32|ntdll|user32|advapi32|wininet|ws2_32|shell32|ole32|oleaut32|crypt32|secur32|bcrypt|msvcrt|ucrtbase|api-ms-win-.*)\.dll$'
sed -n 's/^[[:space:]]*DLL Name: //p' "$tmp/headers" | sort -uf >"$tmp/imports"
[ -s "$tmp/imports" ] || fail "no import table found"
while read -r name; do
  echo "$name" | tr 'A-Z' 'a-z' | grep -Eq "$system" || fail "imports $name, which is not a Windows DLL"
done <"$tmp/imports"

if [ "$failures" -ne 0 ]; then
  echo "check-windows-dll.sh: $dll: $failures check(s) failed" >&2
  exit 1
fi
echo "$dll: pei-$machine DLL, ordinals 1-$count as vfb_export_name names them, imports only $(paste -sd' ' "$tmp/imports")"
