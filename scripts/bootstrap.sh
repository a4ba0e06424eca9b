#!/usr/bin/env bash
# Installs what building and testing need from Debian's packages; does
# nothing when everything is already there.
set -euo pipefail

# zsh and fish are here for the tool tests, which check its completion scripts with them;
# the tool reads JSON with simdjson and writes it with nlohmann-json.
packages=(build-essential cmake ninja-build pkg-config libcurl4-openssl-dev libssl-dev openssl python3
          libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev iproute2 util-linux
          ca-certificates abigail-tools groff-base zsh fish lintian
          python3-venv python3-pip python3-setuptools python3-wheel mypy
          nlohmann-json3-dev "libsimdjson-dev:$(dpkg --print-architecture)")
if [ "${VFB_WINDOWS:-0}" = 1 ]; then packages+=(mingw-w64 wine64); fi
# The C# example: Debian's Mono compiler and runtime.
if [ "${VFB_MONO:-0}" = 1 ]; then packages+=(mono-mcs mono-runtime); fi
if [ "${VFB_BENCH:-0}" = 1 ]; then packages+=(nginx-light curl gnuplot-nox time valgrind); fi
# The armhf stage: a cross compiler, the target's libraries through Debian's
# multiarch, and qemu's user-mode emulation to run what it builds.
# Debian's libsimdjson-dev cannot sit beside another architecture's: the
# armhf one replaces the machine's own while that stage runs, and
# scripts/test-armhf.sh puts the machine's own back when it ends.
if [ "${VFB_ARMHF:-0}" = 1 ]; then
  packages=("${packages[@]/libsimdjson-dev:*/libsimdjson-dev:armhf}")
  packages+=(g++-arm-linux-gnueabihf libcurl4-openssl-dev:armhf libssl-dev:armhf libgtest-dev:armhf libstdc++6:armhf qemu-user)
  dpkg --print-foreign-architectures | grep -qx armhf || dpkg --add-architecture armhf
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
