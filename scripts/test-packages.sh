#!/usr/bin/env bash
# The Debian packages as a user meets them: builds them with cpack, installs
# them with apt-get, builds the examples against the installed files and runs
# them and the Python module in the sandbox against the local service, runs the
# installed tool, and removes the packages again. Needs root (it installs into
# the system).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-pkg
packages=(libvantrelfb1 libvantrelfb-dev vantrelfb python3-vantrelfb)

step() { printf -- '--- %s\n' "$*"; }
fail() { echo "test-packages.sh: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "installs packages: run as root"
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    && fail "$p is already installed; remove it first (apt-get remove ${packages[*]})"
done

step "build the packages (build-pkg)"
cmake -S . -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DVFB_BUILD_TESTS=OFF -DVFB_BUILD_TOOLS=ON >/dev/null
ninja -C "$build" -j2 >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; fail "cpack failed"; }
ls "$build"/*.deb
for deb in "$build"/*.deb; do
  dpkg-deb -f "$deb" Package Version Depends | sed 's/^/    /'
done

cleanup() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true; }
trap cleanup EXIT
step "install them with apt-get"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$build"/*.deb >/dev/null

step "what each package holds"
version=$(dpkg-query -W -f='${Version}' libvantrelfb1)
dpkg -L libvantrelfb1 | grep -q "/libvantrelfb.so.1$" || fail "libvantrelfb1 lacks the .so.1"
dpkg -L libvantrelfb1 | grep -qE "/libvantrelfb.so$|\.h$" && fail "libvantrelfb1 holds development files"
for f in /usr/include/vantrelfb.h /usr/share/man/man3/vantrelfb.3 /usr/share/man/man3/FaceBookStatus.3; do
  dpkg -S "$f" 2>/dev/null | grep -q "^libvantrelfb-dev:" || fail "$f is not in libvantrelfb-dev"
done
dpkg -L libvantrelfb-dev | grep -q "/libvantrelfb.so$" || fail "libvantrelfb-dev lacks the .so link"
dpkg -L libvantrelfb-dev | grep -q "/pkgconfig/vantrelfb.pc$" || fail "libvantrelfb-dev lacks vantrelfb.pc"
dpkg -L libvantrelfb-dev | grep -q "/cmake/VantrelFB/VantrelFBConfig.cmake$" || fail "libvantrelfb-dev lacks the CMake package"
dpkg -L vantrelfb | grep -q "^/usr/bin/vantrelfb$" || fail "vantrelfb lacks the tool"
dpkg -L vantrelfb | grep -q "/man1/vantrelfb.1" || fail "vantrelfb lacks its manual page"
for shell in bash zsh fish; do
  case $shell in
  bash) completion=/usr/share/bash-completion/completions/vantrelfb ;;
  zsh) completion=/usr/share/zsh/vendor-completions/_vantrelfb ;;
  fish) completion=/usr/share/fish/vendor_completions.d/vantrelfb.fish ;;
  esac
  dpkg -S "$completion" 2>/dev/null | grep -q "^vantrelfb:" || fail "$completion is not in vantrelfb"
  cmp -s "$completion" <(vantrelfb completion "$shell") || fail "$completion differs from 'vantrelfb completion $shell'"
done
# Found by each shell where it looks by default, with no setting of the user's.
zsh -f -c 'autoload -Uz compinit; compinit -u -D; [[ $_comps[vantrelfb] == _vantrelfb ]]' \
  || fail "zsh does not find the installed completion"
home=$(mktemp -d)
HOME=$home XDG_CONFIG_HOME=$home XDG_DATA_HOME=$home fish -c 'complete -C "vantrelfb st"' | grep -q '^status' \
  || fail "fish does not find the installed completion"
rm -rf "$home"
dpkg -L python3-vantrelfb | grep -q "^/usr/lib/python3/dist-packages/vantrelfb/__init__.py$" \
  || fail "python3-vantrelfb lacks the module"
[ "$(dpkg-query -W -f='${Architecture}' python3-vantrelfb)" = all ] || fail "python3-vantrelfb is not Architecture: all"
[ "$(pkg-config --modversion vantrelfb)" = "$version" ] || fail "pkg-config does not report $version"
[ "$(vantrelfb --version)" = "vantrelfb $version" ] || fail "vantrelfb --version does not say $version"
[ -f /usr/share/man/man1/vantrelfb.1 ] || fail "no manual page for the tool"

step "the examples build against the installed package"
rm -rf "$build/examples"
cmake -S examples -B "$build/examples" -G Ninja -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
ninja -C "$build/examples" >/dev/null

step "and run in the sandbox against the local service"
ex=$build/examples
tests/e2e/sandbox.sh -- bash -c '
  set -euo pipefail
  cd "$(mktemp -d)"
  cat >"$VFB_FAKE_DIR/script.json" <<JSON
[{"status": 200, "body": "{\"id\": \"100_1\"}"},
 {"status": 200, "body": "{\"id\": \"200\", \"post_id\": \"100_2\"}"},
 {"status": 302, "headers": [["Location", "https://www.facebook.com/connect/login_success.html#access_token=EX&expires_in=60"]], "body": "page"},
 {"status": 302, "headers": [["Location", "https://www.facebook.com/connect/login_success.html#access_token=PY&expires_in=60"]], "body": "page"}]
JSON
  '"$ex"'/status TOKEN "Hello, examples" answer.json | grep -q "answer: {\"id\": \"100_1\"}"
  head -c 3000 /dev/zero >photo.jpg
  '"$ex"'/photo TOKEN photo.jpg "Summer" photo.json | grep -q uploaded
  grep -q "100_2" photo.json
  [ "$('"$ex"'/signin)" = "https://www.facebook.com/connect/login_success.html#access_token=EX&expires_in=60" ]
  [ "$(ls "$VFB_FAKE_DIR"/requests/*.raw | wc -l)" = 3 ]
  # Debian'"'"'s own python3, with nothing but the packages: the module finds the library by its SONAME.
  /usr/bin/python3 -c "import vantrelfb; print(vantrelfb.signin())" | grep -q "#access_token=PY"
' || fail "an example failed in the sandbox"

step "remove them"
cleanup
trap - EXIT
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && fail "$p is still installed"
done
echo "test-packages.sh: all passed"
