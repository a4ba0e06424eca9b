#!/usr/bin/env bash
# Fails unless the library exports the .def file's names and nothing else (the
# constructor may appear under both of the compiler's aliases), and, for a
# build with the C++ runtime inside (RUNTIME=static), unless it needs no
# shared C++ runtime and leaks none of the runtime's symbols.
#
# The names are the .def file's, which the unit suite holds to the header's
# ordinal table.
#
#   check_exports.sh LIBRARY static|shared DEF_FILE
set -euo pipefail
lib=$1 runtime=$2 def=$3
expected="$(awk '$2 ~ /^@[0-9]+$/ { print $1 }' "$def") _ZN10CVantrelFBC2Ev"
count=$(awk '$2 ~ /^@[0-9]+$/' "$def" | wc -l)
[ "$count" -ge 16 ] || { echo "cannot read the exports from $def"; exit 1; }
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
want=$(echo $expected | tr ' ' '\n' | sort)
if [ "$actual" != "$want" ]; then
  echo "export table differs:"; diff <(echo "$want") <(echo "$actual"); exit 1
fi
echo "exports: $((count + 1)) symbols ($count exports, constructor with both aliases)"

if [ "$runtime" = static ]; then
  needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  if echo "$needed" | grep -E '^lib(stdc\+\+|gcc_s)\.'; then
    echo "the C++ runtime should be linked in, but the library needs the above"; exit 1
  fi
  if nm -D --undefined-only "$lib" | grep -E 'GLIBCXX|CXXABI|GCC_[0-9]'; then
    echo "the library still imports the above from a shared C++ runtime"; exit 1
  fi
  echo "runtime: needs only $(echo $needed | tr ' ' ',')"
fi
