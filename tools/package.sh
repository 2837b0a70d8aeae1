#!/usr/bin/env bash
# Makes the packages with CPack:
#   dls2mml_<version>_amd64.deb    program, manual page, documents, the C library
#                                  with its header, pkg-config file and CMake package
#   dls2mml-<version>-win64.zip    dls2mml.exe, dls2mml-gui.exe, README.md, LICENSE,
#                                  from the MinGW cross build in build-windows/ (or,
#                                  when that does not exist, build-windows-package/)
#
#   tools/package.sh [--deb] [--zip] [--build DIR] [--out DIR]
#     --deb, --zip   make only that package (default: both)
#     --build DIR    the native build to package (default build-package, configured
#                    and built here as Release if it does not exist)
#     --out DIR      where the packages go (default dist)
# Needs help2man for the manual page (tools/setup.sh installs it); the zip needs
# the cross compiler (bash .ci/windows.sh installs it and builds build-windows/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
deb=0 zip=0 build=build-package out=dist
while (($#)); do
    case $1 in
        --deb) deb=1 ;;
        --zip) zip=1 ;;
        --build) build=$2; shift ;;
        --out) out=$2; shift ;;
        *) echo "usage: tools/package.sh [--deb] [--zip] [--build DIR] [--out DIR]" >&2; exit 2 ;;
    esac
    shift
done
((deb || zip)) || deb=1 zip=1
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Configures (when new) and builds a tree, then runs CPack on it.
package() {
    local tree=$1 generator=$2
    shift 2
    if [[ ! -f $tree/CMakeCache.txt ]]; then
        cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDLS2MML_TESTS=OFF "$@" >/dev/null
    else
        cmake -S "$root" -B "$tree" >/dev/null
    fi
    cmake --build "$tree" -j2 --target "${targets[@]}"
    (cd "$tree" && cpack -G "$generator" -B "$out/.cpack" >/dev/null)
    find "$out/.cpack" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.zip' \) -exec mv {} "$out"/ \;
    rm -rf "$out/.cpack"
}

if ((deb)); then
    command -v help2man >/dev/null || { echo "tools/package.sh: the manual page needs help2man" >&2; exit 1; }
    targets=(dls2mml dls2mml_library dls2mml_man_page)
    package "$build" DEB
fi
if ((zip)); then
    targets=(dls2mml dls2mml-gui dls2mml_library)
    # The cross build of .ci/windows.sh when there is one; else one of our own
    # without the tests (which would need Wine to build).
    windows=build-windows
    [[ -f $windows/CMakeCache.txt ]] || windows=build-windows-package
    package "$windows" ZIP -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake"
fi
ls -1 "$out"/*.deb "$out"/*.zip 2>/dev/null || true
