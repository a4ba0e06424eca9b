#!/usr/bin/env bash
# Runs one command against the benchmark's nginx, for profiling a contender
# by hand. From the repository root, after bench/run.sh has built build-bench:
#
#   tests/e2e/sandbox.sh --no-service -- bench/profile.sh CMD ARGS...
#
# CMD sees $DRIVER (the library driver), $GRAPH and $VIDEO (the base URLs),
# $WWW (big.bin, mid.bin) and $OUTD (a tmpfs folder for outputs), e.g.
#   bench/profile.sh sh -c 'perf record -g -o perf.data $DRIVER photo $WWW/big.bin $OUTD/o'
set -euo pipefail
export LC_ALL=C
die() { echo "profile.sh: $*" >&2; exit 1; }
[ "${VFB_SANDBOX:-0}" = 1 ] || die "runs only inside tests/e2e/sandbox.sh"
[ $# -gt 0 ] || die "usage: profile.sh CMD ARGS..."
HERE=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
CERTS=${VFB_CERT_DIR:?the sandbox exports VFB_CERT_DIR}
# shellcheck source=bench/serve.sh
. "$HERE/serve.sh"
export DRIVER=${DRIVER:-$HERE/../build-bench/bench/vantrelfb_bench_driver}
export GRAPH=https://graph.facebook.com VIDEO=https://graph-video.facebook.com WWW OUTD
"$@"
