#!/usr/bin/env bash
# The Debian packages as a user meets them: builds them with cpack, installs
# them with apt-get, builds the examples against the installed files and runs
# them and the Python module in the sandbox against the local service, runs the
# installed tool, and removes the packages again. lintian checks each package
# first: an error or a warning fails the stage. Needs root (it installs into
# the system).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-pkg
packages=(libvantrelfb1 libvantrelfb-dev vantrelfb python3-vantrelfb)
debug_packages=(libvantrelfb1-dbgsym vantrelfb-dbgsym)

step() { printf -- '--- %s\n' "$*"; }
fail() { echo "test-packages.sh: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "installs packages: run as root"
for p in "${packages[@]}" "${debug_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    && fail "$p is already installed; remove it first (apt-get remove ${packages[*]} ${debug_packages[*]})"
done

scripts/bootstrap.sh

step "build the packages (build-pkg)"
cmake -S . -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DVFB_BUILD_TESTS=OFF -DVFB_BUILD_TOOLS=ON >/dev/null
ninja -C "$build" -j2 >/dev/null
rm -f "$build"/*.deb "$build"/*.ddeb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; fail "cpack failed"; }
ls "$build"/*.deb "$build"/*.ddeb
for deb in "$build"/*.deb "$build"/*.ddeb; do
  dpkg-deb -f "$deb" Package Version Depends | sed 's/^/    /'
done

step "lintian: no error, no warning"
# Informational tags (I:) and pedantic ones (P:) are shown, not failed on.
for deb in "$build"/*.deb "$build"/*.ddeb; do
  status=0
  lintian --fail-on error,warning --display-info --pedantic --tag-display-limit 0 "$deb" >"$build/lintian.log" 2>&1 || status=$?
  sed -n '/running with root privileges/!s/^/    /p' "$build/lintian.log"
  [ "$status" = 0 ] && ! grep -qE "^[EW]: " "$build/lintian.log" \
    || fail "lintian: $(basename "$deb") has errors or warnings (exit $status)"
done

step "control fields and files"
curl_floor=$(sed -n 's/^ *set(VFB_CURL_MIN_VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
[ -n "$curl_floor" ] || fail "CMakeLists.txt names no VFB_CURL_MIN_VERSION"
lib_deb=$(ls "$build"/libvantrelfb1_*.deb)
depends=$(dpkg-deb -f "$lib_deb" Depends)
# One libcurl4 relation, at the floor the code needs; libssl3 because the library calls OpenSSL itself.
[ "$(grep -o "libcurl4 ([^)]*)" <<<"$depends")" = "libcurl4 (>= $curl_floor)" ] || fail "libvantrelfb1 Depends: $depends (wants libcurl4 (>= $curl_floor) once)"
grep -q "libssl3" <<<"$depends" || fail "libvantrelfb1 does not depend on libssl3: $depends"
dpkg-deb --ctrl-tarfile "$lib_deb" | tar -t | sed 's|^\./||' | sort >"$build/control.list"
for f in shlibs symbols triggers; do grep -qx "$f" "$build/control.list" || fail "libvantrelfb1 has no $f control file"; done
grep -qxE "postinst|postrm" "$build/control.list" && fail "libvantrelfb1 keeps maintainer scripts: $(tr '\n' ' ' <"$build/control.list")"
[ "$(dpkg-deb --info "$lib_deb" shlibs)" = "libvantrelfb 1 libvantrelfb1 (>= $(dpkg-deb -f "$lib_deb" Version))" ] \
  || fail "libvantrelfb1's shlibs: $(dpkg-deb --info "$lib_deb" shlibs)"
for deb in "$build"/*.deb; do
  description=$(dpkg-deb -f "$deb" Description)
  [ "$(wc -l <<<"$description")" -ge 3 ] || fail "$(basename "$deb") has no long description"
done
[ "$(for deb in "$build"/*.deb; do dpkg-deb -f "$deb" Description | head -1; done | sort -u | wc -l)" = 4 ] \
  || fail "the packages do not each have their own synopsis"

cleanup() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" "${debug_packages[@]}" >/dev/null 2>&1 || true; }
trap cleanup EXIT
step "install them with apt-get"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$build"/*.deb "$build"/*.ddeb >/dev/null

step "what each package holds"
version=$(dpkg-query -W -f='${Version}' libvantrelfb1)
dpkg -L libvantrelfb1 | grep -q "/libvantrelfb.so.1$" || fail "libvantrelfb1 lacks the .so.1"
# No maintainer script calls ldconfig: the trigger must have brought the library into the loader's cache.
ldconfig -p | grep -q "^[[:space:]]*libvantrelfb.so.1 " || fail "libvantrelfb.so.1 is not in the ldconfig cache after installing"
dpkg -L libvantrelfb1 | grep -qE "/libvantrelfb.so$|\.h$" && fail "libvantrelfb1 holds development files"
for f in /usr/include/vantrelfb.h /usr/share/man/man3/vantrelfb.3.gz /usr/share/man/man3/FaceBookStatus.3.gz; do
  dpkg -S "$f" 2>/dev/null | grep -q "^libvantrelfb-dev:" || fail "$f is not in libvantrelfb-dev"
done
[ "$(readlink -f /usr/share/man/man3/FaceBookStatus.3.gz)" = /usr/share/man/man3/vantrelfb.3.gz ] \
  || fail "FaceBookStatus(3) does not lead to vantrelfb(3)"
man -w 3 FaceBookStatus >/dev/null 2>&1 || ! command -v man >/dev/null || fail "man does not find FaceBookStatus(3)"
for p in "${packages[@]}"; do
  head -1 "/usr/share/doc/$p/copyright" | grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
    || fail "$p's copyright file is not machine-readable"
  zcat "/usr/share/doc/$p/changelog.gz" | head -1 | grep -q "^vantrelfb ($version) " || fail "$p's changelog.gz has no entry for $version"
done
# Stripped, the debug information in the -dbgsym package under the binary's build ID.
for bin in "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libvantrelfb.so.$version" /usr/bin/vantrelfb; do
  readelf -S "$bin" 2>/dev/null | grep -qE "\.debug_|\.symtab" && fail "$bin is not stripped"
  id=$(readelf -n "$bin" 2>/dev/null | sed -n 's/.*Build ID: \([0-9a-f]*\)/\1/p')
  debug=/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  owner=$(dpkg -S "$bin" | cut -d: -f1)
  dpkg -S "$debug" 2>/dev/null | grep -q "^${owner}-dbgsym:" || fail "${owner}-dbgsym lacks $debug"
  readelf -S "$debug" 2>/dev/null | grep -q "\.debug_info" || fail "$debug holds no debug information"
done
dpkg -L libvantrelfb-dev | grep -q "/libvantrelfb.so$" || fail "libvantrelfb-dev lacks the .so link"
dpkg -L libvantrelfb-dev | grep -q "/pkgconfig/vantrelfb.pc$" || fail "libvantrelfb-dev lacks vantrelfb.pc"
dpkg -L libvantrelfb-dev | grep -q "/cmake/VantrelFB/VantrelFBConfig.cmake$" || fail "libvantrelfb-dev lacks the CMake package"
dpkg -L vantrelfb | grep -q "^/usr/bin/vantrelfb$" || fail "vantrelfb lacks the tool"
dpkg -L vantrelfb | grep -q "/man1/vantrelfb.1.gz$" || fail "vantrelfb lacks its manual page"
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
# /usr/include and the multiarch libdir are the compiler's own: nothing to add.
[ -z "$(pkg-config --cflags vantrelfb)" ] || fail "pkg-config --cflags vantrelfb: $(pkg-config --cflags vantrelfb)"
[ "$(pkg-config --libs vantrelfb | tr -d ' ')" = "-lvantrelfb" ] || fail "pkg-config --libs vantrelfb: $(pkg-config --libs vantrelfb)"
[ "$(vantrelfb --version)" = "vantrelfb $version" ] || fail "vantrelfb --version does not say $version"
[ -f /usr/share/man/man1/vantrelfb.1.gz ] || fail "no manual page for the tool"

step "the examples build against the installed package"
rm -rf "$build/examples"
cmake -S examples -B "$build/examples" -G Ninja -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
ninja -C "$build/examples" >/dev/null
# Found through /lib, which merged-/usr systems link to usr/lib: the CMake
# package must still name /usr/include, not /include.
if [ -L /lib ]; then
  rm -rf "$build/examples-lib"
  cmake -S examples -B "$build/examples-lib" -G Ninja \
    -DVantrelFB_DIR="/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake/VantrelFB" >/dev/null
  ninja -C "$build/examples-lib" >/dev/null || fail "the examples do not build with the CMake package found through /lib"
fi

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
for p in "${packages[@]}" "${debug_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && fail "$p is still installed"
done
echo "test-packages.sh: all passed"
