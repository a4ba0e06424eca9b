#!/usr/bin/env bash
# Runs a command with a fresh Wine prefix, for use inside tests/e2e/sandbox.sh:
#
#   tests/e2e/sandbox.sh -- tests/e2e/windows/with-wine.sh CMD ARGS...
#   tests/e2e/sandbox.sh -- tests/e2e/windows/with-wine.sh wine build-win-e2e/vantrelfb_e2e.exe
#
# A CMD of "wine" means the 64-bit loader ($VFB_WINE, also exported for CMD).
# The prefix lives under the sandbox's private /tmp (WINEPREFIX, unless set),
# where Wine also keeps its server socket; the server is stopped when CMD
# ends, since the sandbox ends only when its last process does. The exit
# status is CMD's.
set -euo pipefail

wine=${VFB_WINE:-}
if [ -z "$wine" ]; then
  for w in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$w" ] && [ -x "$w" ]; then wine=$w; break; fi
  done
fi
[ -n "$wine" ] || { echo "with-wine.sh: no wine64 (install wine64)" >&2; exit 125; }
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=$(command -v wineserver || true)

export VFB_WINE=$wine
export WINEPREFIX=${WINEPREFIX:-/tmp/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No desktop integration, no Mono or Gecko installers in a fresh prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml,winemenubuilder.exe="}
export DISPLAY=

stop() { [ -z "$server" ] || WINEPREFIX=$WINEPREFIX "$server" -k 2>/dev/null || true; }
trap stop EXIT

mkdir -p "$WINEPREFIX"
start=$SECONDS
"$wine" wineboot -i >/dev/null 2>&1 || { echo "with-wine.sh: wineboot failed" >&2; exit 125; }
echo "with-wine.sh: prefix $WINEPREFIX ready in $((SECONDS - start)) s" >&2

[ "${1:-}" = wine ] && { shift; set -- "$wine" "$@"; }
status=0
"$@" || status=$?
exit "$status"
