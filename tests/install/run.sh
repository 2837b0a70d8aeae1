#!/usr/bin/env bash
# The tree as others get it: installs the build into a scratch prefix and
# builds two consumers against what was installed (a C program through
# pkg-config, a C++ program through find_package), which encode "abc" to the
# known document, decode it back and get a clean code from a damaged one; the
# same once more with the shared library, built by a program that takes the
# tree in with add_subdirectory (its SONAME and exports checked). Then makes the
# Debian package, unpacks it with dpkg -x and runs its dls2mml --version, and,
# when the Windows build exists (build-windows/, from .ci/windows.sh), makes
# the Windows zip and checks its entries.
#   tests/install/run.sh [BUILD_DIR]    (default build; must be configured and built)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=$(cd "${1:-build}" && pwd)

packages=(pkg-config help2man dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
fail() { echo "install test: $*" >&2; exit 1; }

# Builds and runs both consumers against the installation at $1.
consumers() {
    local prefix=$1 tag=$2
    PKG_CONFIG_PATH=$prefix/lib/pkgconfig
    export PKG_CONFIG_PATH
    # shellcheck disable=SC2046
    cc -std=c99 -Wall -Wextra -Werror -o "$work/consumer_c_$tag" tests/install/consumer/consumer.c \
        $(pkg-config --cflags --libs dls2mml)
    LD_LIBRARY_PATH=$prefix/lib "$work/consumer_c_$tag"
    cmake -S tests/install/consumer -B "$work/consumer_cxx_$tag" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$work/consumer_cxx_$tag" >/dev/null
    "$work/consumer_cxx_$tag/consumer_cxx"
    unset PKG_CONFIG_PATH
}

echo "-- static library, installed into a scratch prefix"
cmake --install "$build" --prefix "$work/static" >/dev/null
for f in bin/dls2mml lib/libdls2mml.a include/dls2mml/dls2mml.h lib/pkgconfig/dls2mml.pc \
         lib/cmake/dls2mml/dls2mmlConfig.cmake share/man/man1/dls2mml.1 \
         share/doc/dls2mml/README.md share/doc/dls2mml/LICENSE; do
    [[ -f $work/static/$f ]] || fail "the installation lacks $f"
done
consumers "$work/static" static

echo "-- shared library, the tree taken in by add_subdirectory"
cmake -S tests/install/superproject -B "$work/build-shared" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DDLS2MML_TREE="$root" -DBUILD_SHARED_LIBS=ON -DDLS2MML_INSTALL=ON >/dev/null
cmake --build "$work/build-shared" -j2 >/dev/null
"$work/build-shared/consumer_sub"
cmake --install "$work/build-shared" --prefix "$work/shared" >/dev/null
soname=$(objdump -p "$work/shared/lib/libdls2mml.so" | awk '/SONAME/ { print $2 }')
[[ $soname == "libdls2mml.so.${version%%.*}" ]] || fail "SONAME is '$soname'"
[[ -L $work/shared/lib/libdls2mml.so && -f $work/shared/lib/libdls2mml.so.$version ]] || fail "no versioned shared library"
# Only the C interface is exported.
exported=$(nm -D --defined-only "$work/shared/lib/libdls2mml.so" | awk '$2 == "T" { print $3 }' | sort)
[[ -n $exported && -z $(grep -v '^dls2mml_' <<<"$exported") ]] ||
    fail "exports more than the C interface: $(grep -v '^dls2mml_' <<<"$exported" | head -n 5)"
consumers "$work/shared" shared

echo "-- Debian package"
bash tools/package.sh --deb --out "$work/dist" >/dev/null
deb=$work/dist/dls2mml_${version}_amd64.deb
[[ -f $deb ]] || fail "no $(basename "$deb")"
[[ $(dpkg-deb --field "$deb" Package) == dls2mml ]] || fail "the package has another name"
dpkg -x "$deb" "$work/root"
for f in usr/bin/dls2mml usr/share/man/man1/dls2mml.1 usr/share/doc/dls2mml/LICENSE \
         usr/lib/libdls2mml.a usr/include/dls2mml/dls2mml.h usr/lib/pkgconfig/dls2mml.pc; do
    [[ -e $work/root/$f ]] || fail "the package lacks /$f"
done
"$work/root/usr/bin/dls2mml" --version | tee "$work/version"
grep -q "^dls2mml $version" "$work/version" || fail "the packaged program gives another version"
grep -q "^prefix=/usr$" "$work/root/usr/lib/pkgconfig/dls2mml.pc" || fail "the packaged pkg-config file is not for /usr"

if [[ -f build-windows/dls2mml.exe && -f build-windows/dls2mml-gui.exe ]]; then
    echo "-- Windows zip"
    bash tools/package.sh --zip --out "$work/dist" >/dev/null
    zip=$work/dist/dls2mml-${version}-win64.zip
    [[ -f $zip ]] || fail "no $(basename "$zip")"
    cmake -E tar tf "$zip" | sort >"$work/entries"
    cat "$work/entries"
    top=dls2mml-${version}-win64
    expected=(LICENSE README.md dls2mml-gui.exe dls2mml.exe)
    [[ -f docs/format.md ]] && expected+=(format.md)
    printf "$top/%s\n" "${expected[@]}" | sort >"$work/expected"
    diff "$work/expected" "$work/entries" || fail "the zip holds other entries than these: $(tr '\n' ' ' <"$work/expected")"
else
    echo "-- Windows zip skipped: no build-windows/ (bash .ci/windows.sh makes it)"
fi
echo "install test: all checks passed"
