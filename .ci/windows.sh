#!/usr/bin/env bash
# The Windows programs: installs the cross compiler, Wine and Xvfb (Debian 12,
# as root, non-interactive), cross-builds into build-windows/, runs the unit
# tests under Wine through CTest, then the window's end-to-end test.
# Safe to run again: installed packages, the locale and the Wine prefix are
# reused.
#   DLS2MML_WINE_SCRATCH  folder for Wine's home and prefix (default
#                         /tmp/dls2mml-wine-<source folder>: one per checkout, so
#                         runs from two checkouts never share a prefix or server)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(cmake ninja-build g++ googletest g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          wine wine64 fonts-wine xvfb xauth xdotool x11-utils x11-apps imagemagick
          fonts-ipafont-gothic fonts-ipafont-mincho locales)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "== installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Wine takes code page 932 from a Japanese locale.
# (The list is taken whole first: under pipefail, grep -q leaving early can
# cut locale off with SIGPIPE and fail the pipe.)
locales=$(locale -a 2>/dev/null || true)
if ! grep -qi '^ja_JP\.utf-\?8$' <<<"$locales"; then
    sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
fi

scratch=${DLS2MML_WINE_SCRATCH:-/tmp/dls2mml-wine${root//\//-}}
mkdir -p "$scratch/home"
export HOME=$scratch/home WINEPREFIX=$scratch/pfx WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
unset DISPLAY
trap 'wineserver -k 2>/dev/null || true' EXIT

start=$EPOCHREALTIME
step() { awk -v a="$start" -v b="$EPOCHREALTIME" -v s="$1" 'BEGIN { printf "== %s (%.1f s)\n", s, b - a }'; }
# A server of this prefix left running (by an earlier run cut short, or by
# hand) would make the wait below last for ever.
wineserver -k 2>/dev/null || true
# The prefix first: GoogleTest's discovery runs the test program under Wine
# while building.
wineboot -i >/dev/null 2>&1
wineserver -w
step "Wine prefix ready"
# A warm server makes each start fast; the first Wine process also starts
# Wine's background services, which inherit its output, so it gets none:
# otherwise a reader of a later process's output (ctest) waits for ever.
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1

cmake -S "$root" -B "$root/build-windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$root/build-windows" -j2
step "cross build done"
# Both test sets run whatever the other's outcome; either failing fails the run.
units=0 window=0
ctest --test-dir "$root/build-windows" -LE gui --output-on-failure -j2 || units=$?
step "unit tests under Wine done"
DLS2MML_SCREENSHOT="$root/build-windows/window.png" \
    ctest --test-dir "$root/build-windows" -L gui --output-on-failure || window=$?
step "window test done (picture: build-windows/window.png)"
if ((units || window)); then
    echo "Windows tests failed (unit tests: $units, window test: $window)"
    exit 1
fi
