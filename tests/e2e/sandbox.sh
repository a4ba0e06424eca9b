#!/usr/bin/env bash
# Runs a command in a private sandbox in which the service's four hosts are
# served by the fake service (fake_service.py) on 127.0.0.1:443.
#
#   tests/e2e/sandbox.sh [--no-service] [--keep DIR] -- CMD ARGS...
#
# The sandbox is a mount, network and PID namespace (unshare). Inside it:
#   - only the loopback interface, brought up;
#   - a private root: a tmpfs into which every top-level entry of / is
#     bind-mounted recursively (symlinks such as /bin -> usr/bin copied as
#     symlinks), with a fresh tmpfs /tmp, an empty writable /temp4, an
#     /etc/hosts that maps the four hosts (and other.example) to 127.0.0.1,
#     an /etc/resolv.conf naming no reachable server, and a writable copy of
#     /etc/ssl/certs with a test CA made now in its bundle and as a hashed file;
#   - unless --no-service, the fake service on 127.0.0.1:443, started before
#     CMD and stopped after it.
# CMD runs as root in that root (chroot), in the current directory when it is
# visible there (else /), with these variables:
#   VFB_FAKE_DIR      the fake service's control and recording directory
#   VFB_CERT_DIR      the certificates: ca.crt, server.*, wrong_host.*, untrusted.*
#   VFB_FAKE_SERVICE  1 when the fake service runs, 0 with --no-service
#   VFB_SANDBOX       1
# The exit status is CMD's. Nothing outside the sandbox changes, and
# everything in it ends with CMD (the namespaces die with their last process).
# --keep DIR copies the recording directory to DIR (outside) when CMD ends.
set -euo pipefail

SELF=$(readlink -f "${BASH_SOURCE[0]}")
HERE=$(dirname "$SELF")
HOSTS=(graph.facebook.com api.facebook.com graph-video.facebook.com www.facebook.com)
OTHER_HOST=other.example

usage() {
  sed -n '2,/^set -euo/p' "$SELF" | sed '$d' | sed 's/^# \{0,1\}//'
  exit "${1:-2}"
}

die() { echo "sandbox.sh: $*" >&2; exit 125; }

# ------------------------------------------------------------------ outside
if [ "${1:-}" != "--inner" ]; then
  service=1
  keep=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --no-service) service=0; shift ;;
      --keep) [ $# -ge 2 ] || usage; keep=$(readlink -f "$2"); shift 2 ;;
      -h|--help) usage 0 ;;
      --) shift; break ;;
      *) usage ;;
    esac
  done
  [ $# -gt 0 ] || usage
  for tool in unshare openssl mount chroot; do
    command -v "$tool" >/dev/null || die "$tool is missing (see scripts/bootstrap.sh)"
  done
  ns=(--mount --net --pid --fork --kill-child --mount-proc --propagation private)
  if [ "$(id -u)" != 0 ]; then
    ns=(--user --map-root-user "${ns[@]}")
  fi
  # unshare ignores SIGTERM and SIGINT while its child runs; a SIGKILL to it
  # (--kill-child) ends the whole sandbox, so pass those signals on that way.
  unshare "${ns[@]}" -- /bin/bash "$SELF" --inner "$service" "$keep" "$PWD" "$@" <&0 &
  sandbox=$!
  trap 'kill -KILL "$sandbox" 2>/dev/null' TERM INT HUP
  while :; do
    status=0
    wait "$sandbox" || status=$?
    kill -0 "$sandbox" 2>/dev/null || exit "$status"
  done
fi

# ------------------------------------------------------------------ inside
shift
service=$1 keep=$2 cwd=$3
shift 3

command -v ip >/dev/null || die "ip is missing (iproute2)"
ip link set lo up

# Everything the sandbox makes lives on tmpfs mounts of this namespace. The
# staging area hides the outside /tmp from here on (only inside the sandbox).
STAGE=/tmp
# The outside /tmp stays reachable through this descriptor, for the paths
# under it that the command needs (a checkout or build living there).
exec 9</tmp
mount -t tmpfs -o mode=0755 vfb-stage "$STAGE"
ROOT=$STAGE/root
mkdir -p "$ROOT"
mount -t tmpfs -o mode=0755 vfb-root "$ROOT"

# 1. The private root: every top-level entry of /, bound recursively.
for entry in /* /.[!.]*; do
  [ -e "$entry" ] || [ -L "$entry" ] || continue
  name=${entry#/}
  case "$name" in tmp|temp4) continue ;; esac
  if [ -L "$entry" ]; then
    cp -P "$entry" "$ROOT/$name"
  elif [ -d "$entry" ]; then
    mkdir "$ROOT/$name"
    [ "$entry" = "$STAGE" ] || mount --rbind "$entry" "$ROOT/$name"
  else
    : >"$ROOT/$name"
    mount --bind "$entry" "$ROOT/$name"
  fi
done
mkdir -p "$ROOT/tmp"
mount -t tmpfs -o mode=1777 vfb-tmp "$ROOT/tmp"
# The command's own paths under the outside /tmp (its working directory, this
# checkout, a path named on the command line, also as the value of an
# assignment such as `env LD_LIBRARY_PATH=/tmp/a/lib:/tmp/b/lib`, the --keep
# folder) are bound into the private /tmp by their top-level folder; the rest
# of /tmp stays hidden.
[ -n "$keep" ] && case "$keep" in /tmp/?*) top=${keep#/tmp/}; mkdir -p "/proc/self/fd/9/${top%%/*}" ;; esac
named=()
for arg in "$@"; do
  case "$arg" in
    [A-Za-z_]*=*) IFS=: read -r -a values <<<"${arg#*=}"; named+=("${values[@]}") ;;
    *) named+=("$arg") ;;
  esac
done
for path in "$cwd" "$HERE" "$keep" "${named[@]}"; do
  case "$path" in /tmp/?*) ;; *) continue ;; esac
  top=${path#/tmp/}
  top=${top%%/*}
  [ -d "/proc/self/fd/9/$top" ] && [ ! -e "$ROOT/tmp/$top" ] || continue
  mkdir "$ROOT/tmp/$top"
  mount --rbind "/proc/self/fd/9/$top" "$ROOT/tmp/$top"
done
mkdir -m 0777 "$ROOT/temp4"
# Our work area inside the new root, on its own tmpfs.
WORK=/vfb-e2e
mkdir "$ROOT$WORK"
mount -t tmpfs -o mode=0755 vfb-work "$ROOT$WORK"
CERTS=$WORK/certs FAKE=$WORK/fake
mkdir -p "$ROOT$CERTS" "$ROOT$FAKE/requests"

# 2. Certificates: a test CA, a server certificate for the four hosts, one for
# another host name (signed by the CA) and a self-signed one nobody trusts.
(
  cd "$ROOT$CERTS"
  san=$(printf 'DNS:%s,' "${HOSTS[@]}")
  san=${san%,}
  gen() { openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 "$@" 2>/dev/null; }
  gen -keyout ca.key -out ca.crt -subj "/CN=VantrelFB e2e test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
  leaf() {  # name, common name, subjectAltName
    openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$1.key" -out "$1.csr" \
      -subj "/CN=$2" 2>/dev/null
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
      "$3" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -sha256 \
      -extfile "$1.ext" -out "$1.crt" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
  }
  leaf server "${HOSTS[0]}" "$san"
  leaf wrong_host "$OTHER_HOST" "DNS:$OTHER_HOST"
  gen -keyout untrusted.key -out untrusted.crt -subj "/CN=${HOSTS[0]}" -addext "subjectAltName=$san"
  cat /etc/ssl/certs/ca-certificates.crt ca.crt >bundle.crt
) || die "making the certificates failed"

# 3. Name resolution and trust, inside the new root only.
{
  echo "127.0.0.1 localhost"
  echo "::1 localhost ip6-localhost ip6-loopback"
  for h in "${HOSTS[@]}" "$OTHER_HOST"; do echo "127.0.0.1 $h"; done
} >"$ROOT$WORK/hosts"
echo "nameserver 127.0.0.1" >"$ROOT$WORK/resolv.conf"
mount --bind "$ROOT$WORK/hosts" "$ROOT/etc/hosts"
mount --bind "$ROOT$WORK/resolv.conf" "$ROOT/etc/resolv.conf" 2>/dev/null || true
# The system's certificate folder with the test CA in it as well, both as the
# bundle and as a hashed file beside it, as update-ca-certificates leaves them.
trusted=$ROOT$WORK/trusted
mkdir "$trusted"
cp -a /etc/ssl/certs/. "$trusted/"
cp "$ROOT$CERTS/bundle.crt" "$trusted/ca-certificates.crt"
cp "$ROOT$CERTS/ca.crt" "$trusted/vantrelfb-e2e-test-ca.pem"
ln -s vantrelfb-e2e-test-ca.pem "$trusted/$(openssl x509 -hash -noout -in "$ROOT$CERTS/ca.crt").0"
mount --bind "$trusted" "$ROOT/etc/ssl/certs"

# 4. The fake service.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
service_pid=""
stop_service() {
  if [ -n "$service_pid" ]; then
    kill -TERM "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=""
  fi
}
trap stop_service EXIT
if [ "$service" = 1 ]; then
  chroot "$ROOT" "$python" "$HERE/fake_service.py" --host 127.0.0.1 --port 443 \
    --dir "$FAKE" --cert-dir "$CERTS" --ready-file "$FAKE/ready" --log "$FAKE/service.log" \
    </dev/null >/dev/null &
  service_pid=$!
  for _ in $(seq 1 200); do
    [ -e "$ROOT$FAKE/ready" ] && break
    kill -0 "$service_pid" 2>/dev/null || die "the fake service did not start"
    sleep 0.05
  done
  [ -e "$ROOT$FAKE/ready" ] || die "the fake service did not become ready"
fi

# 5. The command.
status=0
VFB_FAKE_DIR=$FAKE VFB_CERT_DIR=$CERTS VFB_FAKE_SERVICE=$service VFB_SANDBOX=1 \
  chroot "$ROOT" /bin/sh -c 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"' sh "$cwd" "$@" \
  || status=$?
stop_service
if [ -n "$keep" ]; then
  mkdir -p "$ROOT$keep" && cp -a "$ROOT$FAKE/." "$ROOT$keep/" || true
fi
exit "$status"
