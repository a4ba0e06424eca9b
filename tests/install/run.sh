#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, moves the prefix elsewhere,
# and builds and runs a C and a C++ application against the moved copy, once
# through pkg-config and once through find_package(VantrelFB). Nothing is sent
# over the network. A cross build passes --toolchain (its CMake toolchain file)
# and --emulator (the command that runs its programs, e.g. "qemu-arm -L /").
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
build= cmake=cmake cc=cc cxx=c++ generator= libdir=lib soversion=1 version= sanitize= toolchain= emulator=
pythondir=
while [ $# -gt 0 ]; do
    case $1 in
        --build-dir) build=$2 ;;
        --cmake) cmake=$2 ;;
        --cc) cc=$2 ;;
        --cxx) cxx=$2 ;;
        --generator) generator=$2 ;;
        --libdir) libdir=$2 ;;
        --soversion) soversion=$2 ;;
        --version) version=$2 ;;
        --sanitize) sanitize=$2 ;;
        --toolchain) toolchain=$2 ;;
        --emulator) emulator=$2 ;;
        --pythondir) pythondir=$2 ;;
        *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift 2
done
[ -n "$build" ] && [ -n "$version" ] || { echo "run.sh: --build-dir and --version are required" >&2; exit 2; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
step() { echo "== $*"; }
read -r -a emu <<<"$emulator"
# The libraries the program would load: ldd, or in a cross build the target's
# own loader asked under the emulator (ldd would run the build machine's).
list_libraries() {
    if [ ${#emu[@]} -eq 0 ]; then
        ldd "$1"
    else
        "${emu[@]}" "$(readelf -l "$1" | sed -n 's/.*interpreter: \(.*\)]$/\1/p')" --list "$1"
    fi
}
# Whether the program (run with the current environment) loads the library
# from the installed tree rather than from anywhere else.
loads_installed() {
    local resolved
    resolved="$(list_libraries "$1" | awk -v n="libvantrelfb.so.$soversion" '$1 == n { print $3 }')"
    [ -n "$resolved" ] && [ "$(readlink -f "$resolved")" = "$(readlink -f "$lib/libvantrelfb.so.$soversion")" ]
}

san_flags=()
[ -n "$sanitize" ] && san_flags=("-fsanitize=$sanitize")

step "install into a staging prefix, then move it"
"$cmake" --install "$build" --prefix "$tmp/staging" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
# The .pc file names the prefix it was installed into, not the build's nor a path through its own directory.
[ "$(sed -n 's/^prefix=//p' "$tmp/staging/$libdir/pkgconfig/vantrelfb.pc")" = "$tmp/staging" ] \
    || fail "vantrelfb.pc does not name the prefix it was installed into: $(grep '^prefix=' "$tmp/staging/$libdir/pkgconfig/vantrelfb.pc")"
grep -E '^(libdir|includedir)=' "$tmp/staging/$libdir/pkgconfig/vantrelfb.pc" | grep -qv '=\${prefix}/' \
    && fail "vantrelfb.pc has a libdir or includedir not under \${prefix}"
mv "$tmp/staging" "$tmp/moved"
prefix="$tmp/moved"
lib="$prefix/$libdir"

step "layout"
real="libvantrelfb.so.$version"
[ -f "$lib/$real" ] && [ ! -L "$lib/$real" ] || fail "$lib/$real is not a regular file"
[ "$(readlink "$lib/libvantrelfb.so.$soversion" 2>/dev/null)" = "$real" ] \
    || fail "libvantrelfb.so.$soversion does not link to $real"
[ "$(readlink "$lib/libvantrelfb.so" 2>/dev/null)" = "libvantrelfb.so.$soversion" ] \
    || fail "libvantrelfb.so does not link to libvantrelfb.so.$soversion"
readelf -d "$lib/$real" | grep -q "(SONAME).*\[libvantrelfb.so.$soversion\]" \
    || fail "SONAME of $real is not libvantrelfb.so.$soversion"
cmp -s "$prefix/include/vantrelfb.h" "$source_dir/include/vantrelfb.h" || fail "installed header differs"
for f in "$lib/pkgconfig/vantrelfb.pc" "$lib/cmake/VantrelFB/VantrelFBConfig.cmake" \
         "$lib/cmake/VantrelFB/VantrelFBConfigVersion.cmake" "$lib/cmake/VantrelFB/VantrelFBTargets.cmake"; do
    [ -f "$f" ] || fail "missing $f"
done
if grep -rqs -- "$build" "$lib/pkgconfig" "$lib/cmake"; then fail "package files refer to the build tree"; fi

step "the installed tool finds the installed library by itself"
tool="$prefix/bin/vantrelfb"
if [ -x "$tool" ]; then
    env -u LD_LIBRARY_PATH "${emu[@]}" "$tool" --help >/dev/null || fail "installed tool --help failed"
    (unset LD_LIBRARY_PATH; loads_installed "$tool") || fail "installed tool does not load the installed library"
    set +e
    env -u LD_LIBRARY_PATH "${emu[@]}" "$tool" fetch --url https://127.0.0.1:9/ >/dev/null 2>&1
    status=$?
    set -e
    [ "$status" -eq 64 ] || fail "installed tool: usage error exited $status, expected 64"
    if readelf -d "$tool" | grep -E "R(UN)?PATH" | grep -q -- "$build"; then fail "installed tool keeps the build tree in its RUNPATH"; fi
    # Where each shell looks for the tool's script, as the tool prints it.
    for shell in bash zsh fish; do
        case $shell in
        bash) completion="$prefix/share/bash-completion/completions/vantrelfb" ;;
        zsh) completion="$prefix/share/zsh/vendor-completions/_vantrelfb" ;;
        fish) completion="$prefix/share/fish/vendor_completions.d/vantrelfb.fish" ;;
        esac
        if [ -f "$completion" ]; then
            cmp -s "$completion" <(env -u LD_LIBRARY_PATH "${emu[@]}" "$tool" completion "$shell") \
                || fail "$completion differs from 'vantrelfb completion $shell'"
        else
            fail "missing $completion"
        fi
    done
    bash -c 'source "$1" && complete -p vantrelfb' bash "$prefix/share/bash-completion/completions/vantrelfb" \
        >/dev/null || fail "bash does not load its completion"
    if command -v zsh >/dev/null; then
        zsh -f -c 'fpath=("$1" $fpath); autoload -Uz compinit; compinit -u -D; [[ $_comps[vantrelfb] == _vantrelfb ]]' \
            zsh "$prefix/share/zsh/vendor-completions" || fail "zsh does not find its completion in \$fpath"
    fi
    # fish loads a command's completion only for a command on $PATH.
    if command -v fish >/dev/null; then
        PATH="$prefix/bin:$PATH" XDG_DATA_DIRS="$prefix/share" HOME="$tmp" XDG_CONFIG_HOME="$tmp/config" \
            XDG_DATA_HOME="$tmp/data" fish -c 'complete -C "vantrelfb st"' | grep -q '^status' \
            || fail "fish does not find its completion in vendor_completions.d"
    fi
else
    fail "missing $tool"
fi

step "manual pages render without a warning and name every export and subcommand"
man="$prefix/share/man"
# Installed compressed as gzip -9n gives them: no name or time in the header.
for page in "$man/man1/vantrelfb.1.gz" "$man/man3/vantrelfb.3.gz"; do
    [ -f "$page" ] || { fail "missing $page"; continue; }
    gzip -t "$page" 2>/dev/null || { fail "$page is not gzip-compressed"; continue; }
    [ "$(od -An -tx1 -j3 -N5 "$page" | tr -d ' ')" = 0000000000 ] || fail "$page keeps a name or time in its gzip header"
    zcat "$page" >"$tmp/page"
    warnings="$(groff -man -ww -z "$tmp/page" 2>&1)"
    [ -z "$warnings" ] || fail "$page: $warnings"
    grep -q "@PROJECT_VERSION@" "$tmp/page" && fail "$page keeps an unconfigured version"
    grep -q "\"VantrelFB $version\"" "$tmp/page" || fail "$page does not carry version $version"
done
for name in $(awk '$1 ~ /^FaceBook/ { print $1 }' "$source_dir/src/module/VantrelFB.def"); do
    zgrep -q "$name" "$man/man3/vantrelfb.3.gz" || fail "vantrelfb(3) does not describe $name"
    [ "$(readlink "$man/man3/$name.3.gz" 2>/dev/null)" = vantrelfb.3.gz ] || fail "no man3 page $name.3.gz leading to vantrelfb(3)"
done
# The extensions: named in vantrelfb(3) and each described on a page of its own.
extensions=$(awk '$1 ~ /^vfb_/ { print $1 }' "$source_dir/src/module/VantrelFB.def")
[ -n "$extensions" ] || fail "the .def lists no vfb_ export"
for name in $extensions; do
    zgrep -q "^\.BR* $name\b" "$man/man3/vantrelfb.3.gz" || fail "vantrelfb(3) does not describe $name"
    page="$man/man3/$name.3.gz"
    [ -f "$page" ] || { fail "missing $page"; continue; }
    zcat "$page" >"$tmp/page"
    warnings="$(groff -man -ww -z "$tmp/page" 2>&1)"
    [ -z "$warnings" ] || fail "$page: $warnings"
    grep -q "\"VantrelFB $version\"" "$tmp/page" || fail "$page does not carry version $version"
    grep -q "^$name \\\\- " "$tmp/page" || fail "$page does not name $name"
done
if [ -x "$tool" ]; then
    # The subcommands as the tool's own help lists them.
    env -u LD_LIBRARY_PATH "${emu[@]}" "$tool" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z]*\( [a-z]*\)\?\)  .*/\1/p' |
        while read -r sub; do
            zgrep -qF -- "$(printf '.B %s' "$sub")" "$man/man1/vantrelfb.1.gz" || echo "$sub"
        done >"$tmp/undocumented"
    [ -s "$tmp/undocumented" ] && fail "vantrelfb(1) does not describe: $(tr '\n' ' ' <"$tmp/undocumented")"
fi

if [ -n "$pythondir" ]; then
    step "the Python module, imported from the installed tree"
    module="$prefix/$pythondir/vantrelfb/__init__.py"
    cmp -s "$module" "$source_dir/bindings/python/vantrelfb/__init__.py" || fail "missing or different $module"
    # Without the marker, type checkers treat the installed module as untyped.
    [ -f "$prefix/$pythondir/vantrelfb/py.typed" ] || fail "the installed module lacks py.typed"
    # Loading the library needs an interpreter of the target's kind, without sanitizers.
    load=
    [ ${#emu[@]} -eq 0 ] && [ -z "$sanitize" ] && load=$lib/libvantrelfb.so.$soversion
    PYTHONPATH="$prefix/$pythondir" PYTHONDONTWRITEBYTECODE=1 python3 - "$module" "$load" "$version" <<'PY' || fail "the installed Python module does not work"
import os, sys, vantrelfb
module, library, version = sys.argv[1:]
assert os.path.samefile(vantrelfb.__file__, module), vantrelfb.__file__
assert vantrelfb.__version__ == version, vantrelfb.__version__
assert vantrelfb.Result.DONE == 999
if library:
    # The meanings are the library's, so they need it loaded.
    vantrelfb.load(library)
    assert vantrelfb.Result(4).meaning == vantrelfb.result_meaning(4) != vantrelfb.result_meaning(12345)
    # A text the library refuses before anything is sent: the call reaches it, not the network.
    assert vantrelfb.status(message="\u00e9" * 1000, token="t", target="me", out=os.devnull) == vantrelfb.Result.ERR_OPEN
    assert vantrelfb.last_call().failure == vantrelfb.Failure.INPUT
PY
fi

step "pkg-config"
export PKG_CONFIG_PATH="$lib/pkgconfig"
unset PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR || true
# The tree was moved after installing: its new place is given as the prefix, the rest follows from it.
pkg-config() { command pkg-config --define-variable=prefix="$prefix" "$@"; }
[ "$(pkg-config --modversion vantrelfb)" = "$version" ] || fail "pkg-config --modversion is not $version"
pc_libdir="$(pkg-config --variable=libdir vantrelfb)"
[ "$(cd "$pc_libdir" && pwd -P)" = "$(cd "$lib" && pwd -P)" ] || fail "pkg-config libdir $pc_libdir is not $lib"
read -r -a cflags <<<"$(pkg-config --cflags vantrelfb)"
read -r -a libs <<<"$(pkg-config --libs vantrelfb)"
mkdir "$tmp/pc"
"$cc" -std=c11 -Wall -Wextra -Werror "${san_flags[@]}" "${cflags[@]}" "$here/consumer/app.c" -o "$tmp/pc/app_c" "${libs[@]}" \
    || fail "C application does not build with pkg-config"
"$cxx" -std=c++17 -Wall -Wextra -Werror "${san_flags[@]}" "${cflags[@]}" "$here/consumer/app.cpp" -o "$tmp/pc/app_cpp" "${libs[@]}" -ldl \
    || fail "C++ application does not build with pkg-config"
for app in app_c app_cpp; do
    [ -x "$tmp/pc/$app" ] || continue
    (export LD_LIBRARY_PATH="$pc_libdir"; loads_installed "$tmp/pc/$app") \
        || fail "pkg-config $app does not load the installed library"
    LD_LIBRARY_PATH="$pc_libdir" "${emu[@]}" "$tmp/pc/$app" || fail "pkg-config $app exited $?"
done

step "find_package"
gen=()
[ -n "$generator" ] && gen=(-G "$generator")
common=("${gen[@]}" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
        -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx"
        -DCMAKE_C_FLAGS="${san_flags[*]}" -DCMAKE_CXX_FLAGS="${san_flags[*]}")
if [ -n "$toolchain" ]; then common+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain"); fi
if "$cmake" -S "$here/consumer" -B "$tmp/cm" "${common[@]}" >"$tmp/cm.log" 2>&1 \
    && "$cmake" --build "$tmp/cm" -j 2 >>"$tmp/cm.log" 2>&1; then
    for app in app_c app_cpp; do
        (unset LD_LIBRARY_PATH; loads_installed "$tmp/cm/$app") \
            || fail "find_package $app does not load the installed library"
        env -u LD_LIBRARY_PATH "${emu[@]}" "$tmp/cm/$app" || fail "find_package $app exited $?"
    done
else
    cat "$tmp/cm.log" >&2
    fail "the find_package consumer does not build"
fi

step "find_package refuses other major versions"
# A new major version means a new SONAME: neither direction is compatible.
major=${version%%.*}
for want in "$((major + 1)).0" "$((major - 1)).0"; do
    if "$cmake" -S "$here/consumer" -B "$tmp/cm-$want" "${common[@]}" -DVFB_WANT_VERSION="$want" >"$tmp/cm-$want.log" 2>&1; then
        fail "find_package(VantrelFB $want) accepted version $version"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "install: all checks passed"
