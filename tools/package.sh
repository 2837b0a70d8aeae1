#!/usr/bin/env bash
# Makes the packages:
#   dls2mml_<version>_<arch>.deb          the program and its manual page
#   libdls2mml1_<version>_<arch>.deb      the shared library
#   libdls2mml-dev_<version>_<arch>.deb   header, static library, pkg-config
#                                         file, CMake package
#   dls2mml-<version>-win64.zip           dls2mml.exe, dls2mml-gui.exe, a short
#                                         read-me for Windows, README.md,
#                                         format.md, LICENSE.txt (CRLF line
#                                         ends), from the MinGW cross build
#
#   tools/package.sh [--deb] [--zip] [--out DIR]
#     --deb, --zip   make only those packages (default: both)
#     --out DIR      where the packages go (default dist)
#
# The Debian packages are built as Debian builds them, by dpkg-buildpackage
# from debian/, in a copy of the source tree in a scratch folder: the checkout
# gets no build files and nothing is written beside it. Needs debhelper,
# help2man and dpkg-dev (tools/setup.sh installs them). The zip is made by
# CPack from the cross build in build-windows/ (from .ci/windows.sh) or, when
# that does not exist, from one of its own in build-windows-package/ without
# the tests; the cross compiler comes with .ci/windows.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
deb=0 zip=0 out=dist
while (($#)); do
    case $1 in
        --deb) deb=1 ;;
        --zip) zip=1 ;;
        --out) out=$2; shift ;;
        *) echo "usage: tools/package.sh [--deb] [--zip] [--out DIR]" >&2; exit 2 ;;
    esac
    shift
done
((deb || zip)) || deb=1 zip=1
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ((deb)); then
    for tool in dpkg-buildpackage dh help2man; do
        command -v "$tool" >/dev/null ||
            { echo "tools/package.sh: the Debian packages need $tool (bash tools/setup.sh)" >&2; exit 1; }
    done
    bash tools/copy_source.sh "$work/deb/dls2mml"
    # No separate debug symbol packages: dist/ holds what users install.
    (cd "$work/deb/dls2mml" && DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-} noddebs" \
        dpkg-buildpackage -us -uc -b >"$work/deb/build.log" 2>&1) ||
        { tail -n 40 "$work/deb/build.log" >&2; echo "tools/package.sh: dpkg-buildpackage failed" >&2; exit 1; }
    mv "$work"/deb/*.deb "$out"/
fi

if ((zip)); then
    # The cross build of .ci/windows.sh when there is one; else one of our own
    # without the tests (which would need Wine to build).
    windows=build-windows
    [[ -f $windows/CMakeCache.txt ]] || windows=build-windows-package
    if [[ ! -f $windows/CMakeCache.txt ]]; then
        cmake -S "$root" -B "$windows" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDLS2MML_TESTS=OFF \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
    else
        cmake -S "$root" -B "$windows" >/dev/null
    fi
    cmake --build "$windows" -j2 --target dls2mml dls2mml-gui dls2mml_library
    (cd "$windows" && cpack -G ZIP -B "$work/zip" >/dev/null)
    mv "$work"/zip/*.zip "$out"/
fi
ls -1 "$out"/*.deb "$out"/*.zip 2>/dev/null || true
