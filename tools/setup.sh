#!/usr/bin/env bash
# Installs what building and testing dls2mml needs, from Debian's packages.
# Safe to run again; skips apt-get when everything is present already.
set -euo pipefail

packages=(build-essential cmake ninja-build libgtest-dev libgmock-dev googletest libbenchmark-dev
          clang libclang-rt-14-dev bzip2 lbzip2 bzip3 xz-utils zstd time python3
          help2man pkg-config dpkg-dev file libgig-dev debhelper lintian)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=600 update -q
    apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
fi
