#!/usr/bin/env bash
# Fails when the built library breaks the ABI of a release recorded in abi/
# (one baseline per release of this SONAME): an export removed, or changed (its
# arguments, its return type, a type behind it). Exports added since a release
# are compatible and only reported. docs/abi.md says when a baseline is added.
#
#   check_abi.sh LIBRARY HEADERS_DIR BASELINE...
set -uo pipefail
lib=$1 headers=$2
shift 2
[ $# -gt 0 ] || { echo "check_abi.sh: no baseline given"; exit 1; }
command -v abidiff >/dev/null || { echo "abidiff is missing (Debian: abigail-tools)"; exit 1; }

# The sum of the summary's counts of one kind ("Removed", "Changed") over
# functions and variables, with or without debug information.
count() {
  sed -n "s/^\(Functions\|Variables\|Function symbols\|Variable symbols\) changes summary: .*\b\([0-9][0-9]*\) $1\b.*/\2/p" <<<"$2" |
    awk '{ n += $1 } END { print n + 0 }'
}

failed=0
for baseline in "$@"; do
  name=$(basename "$baseline")
  report=$(abidiff --headers-dir2 "$headers" "$baseline" "$lib")
  status=$?
  # abidiff's status is a bit set: 1 error, 2 usage, 4 a change, 8 an incompatible change.
  if [ $((status & 3)) -ne 0 ]; then
    echo "abidiff could not compare with $name (status $status):"; echo "$report"; failed=1; continue
  fi
  # abidiff calls only a removal incompatible: a changed argument or return
  # type is a mere change (4) to it, yet breaks every caller built against
  # the release just as surely.
  removed=$(count Removed "$report") changed=$(count Changed "$report")
  if [ $((status & 8)) -ne 0 ] || [ "$removed" -ne 0 ] || [ "$changed" -ne 0 ]; then
    echo "incompatible ABI change against $name ($removed removed, $changed changed):"; echo "$report"
    failed=1; continue
  fi
  [ $((status & 4)) -ne 0 ] && { echo "added since $name:"; echo "$report"; }
  echo "abi: compatible with $name"
done
exit $failed
