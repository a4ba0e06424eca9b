#!/usr/bin/env bash
# Fails when the built library breaks the ABI recorded in the committed
# baseline: a removed or changed export, a changed type behind one. Additions
# are compatible and only reported. docs/abi.md says when and how the
# baseline is renewed.
#
#   check_abi.sh LIBRARY BASELINE HEADERS_DIR
set -uo pipefail
lib=$1 baseline=$2 headers=$3
command -v abidiff >/dev/null || { echo "abidiff is missing (Debian: abigail-tools)"; exit 1; }
report=$(abidiff --headers-dir2 "$headers" "$baseline" "$lib")
status=$?
# abidiff's status is a bit set: 1 error, 2 usage, 4 a change, 8 an incompatible change.
if [ $((status & 3)) -ne 0 ]; then
  echo "abidiff could not compare (status $status):"; echo "$report"; exit 1
fi
if [ $((status & 8)) -ne 0 ]; then
  echo "incompatible ABI change against $baseline:"; echo "$report"; exit 1
fi
[ $((status & 4)) -ne 0 ] && { echo "compatible ABI change (renew the baseline when releasing):"; echo "$report"; }
echo "abi: compatible with $(basename "$baseline")"
