#!/usr/bin/env bash
# The tree as others get it: installs the build into a scratch prefix and
# builds two consumers against what was installed (a C program through
# pkg-config, a C++ program through find_package), which encode "abc" to the
# known document, decode it back and get a clean code from a damaged one; the
# same once more with the shared library, built by a program that takes the
# tree in with add_subdirectory (its SONAME and exports checked). Then builds
# the Debian packages (tools/package.sh --deb: dpkg-buildpackage), checks each
# one's files and runs lintian, which must find no error or warning; installs
# them with apt-get, runs the installed program on a sample bank and the
# consumers against the installed files, and removes them again (where that
# cannot be done, unpacks them and runs the program). When the Windows build
# exists (build-windows/, from .ci/windows.sh), makes the Windows zip and
# checks its entries and that its text files have CRLF line ends.
#   tests/install/run.sh [BUILD_DIR]    (default build; must be configured and built)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=$(cd "${1:-build}" && pwd)

packages=(pkg-config help2man dpkg-dev file debhelper lintian man-db)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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

echo "-- Debian packages"
bash tools/package.sh --deb --out "$work/dist" >/dev/null
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
lib=usr/lib/$triplet
debs=()
# Each package holds exactly these files (folders aside): the program with its
# manual page, the shared library, the development files.
while read -r package files; do
    deb=$work/dist/${package}_${version}_$arch.deb
    [[ -f $deb ]] || fail "no $(basename "$deb")"
    debs+=("$deb")
    [[ $(dpkg-deb --field "$deb" Package) == "$package" ]] || fail "$(basename "$deb") holds another package"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort >"$work/contents"
    # shellcheck disable=SC2086
    printf '%s\n' $files | sort >"$work/expected"
    diff -u "$work/expected" "$work/contents" || fail "$package holds other files than expected"
done <<TABLE
dls2mml usr/bin/dls2mml usr/share/man/man1/dls2mml.1.gz usr/share/doc/dls2mml/README.md.gz usr/share/doc/dls2mml/format.md.gz usr/share/doc/dls2mml/copyright usr/share/doc/dls2mml/changelog.gz
libdls2mml1 $lib/libdls2mml.so.1 $lib/libdls2mml.so.$version usr/share/doc/libdls2mml1/copyright usr/share/doc/libdls2mml1/changelog.gz
libdls2mml-dev usr/include/dls2mml/dls2mml.h $lib/libdls2mml.a $lib/libdls2mml.so $lib/pkgconfig/dls2mml.pc $lib/cmake/dls2mml/dls2mmlConfig.cmake $lib/cmake/dls2mml/dls2mmlConfigVersion.cmake $lib/cmake/dls2mml/dls2mmlTargets.cmake $lib/cmake/dls2mml/dls2mmlTargets-release.cmake usr/share/doc/libdls2mml-dev/copyright usr/share/doc/libdls2mml-dev/changelog.gz
TABLE
[[ $(dpkg-deb --field "$work/dist/libdls2mml-dev_${version}_$arch.deb" Depends) == "libdls2mml1 (= $version)" ]] ||
    fail "libdls2mml-dev does not depend on exactly its libdls2mml1"
echo "lintian: $(lintian --version)"
lintian --fail-on error,warning "${debs[@]}" ||
    fail "lintian finds errors or warnings in the packages"

# The packages as a user gets them: apt-get install ./dist/*.deb on this
# machine (CI's is thrown away after the run), the program run, the C and C++
# consumers built against what was installed, then removed again. Not where
# they are installed already (that installation is left alone), nor without
# root: there the program is only unpacked and run.
installed=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' dls2mml libdls2mml1 libdls2mml-dev 2>/dev/null |
    awk '$1 ~ /^.i/ { print $2 }' | tr '\n' ' ' || true)
if [[ $(id -u) == 0 && -z $installed ]]; then
    echo "-- apt-get install of the packages"
    remove=(apt-get -o DPkg::Lock::Timeout=600 remove -y -qq --purge dls2mml libdls2mml1 libdls2mml-dev)
    trap '"${remove[@]}" >/dev/null 2>&1; rm -rf "$work"' EXIT
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
        "${debs[@]}" >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; fail "apt-get install of the packages failed"; }
    [[ $(command -v dls2mml) == /usr/bin/dls2mml ]] || fail "no dls2mml on the path after installing"
    dls2mml --version | head -n 1
    [[ $(dls2mml --version | head -n 1) == "dls2mml $version" ]] || fail "the installed program gives another version"
    # (Unless this machine's dpkg is told to leave manual pages out.)
    if grep -qs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/*; then
        echo "   manual page not checked: dpkg here leaves manual pages out"
    else
        [[ $(man -w dls2mml 2>/dev/null) == /usr/share/man/man1/dls2mml.1.gz ]] || fail "man finds no dls2mml page"
    fi
    [[ $(pkg-config --variable=prefix dls2mml) == /usr ]] || fail "the installed pkg-config file is not for /usr"
    "$build/make_sample_bank" "$work/sample.dls" >/dev/null
    "$build/dls2mml" -q -c "$work/sample.dls" >"$work/expected.mml"
    (cd "$work" && dls2mml -q sample.dls && dls2mml -q -t sample_dls.mml && dls2mml -q -d -c sample_dls.mml >back.dls) ||
        fail "the installed program cannot convert, check and decode a sample bank"
    cmp -s "$work/expected.mml" "$work/sample_dls.mml" || fail "the installed program writes another document"
    cmp -s "$work/sample.dls" "$work/back.dls" || fail "the installed program does not give the bank back"
    # The consumers against the system's files: pkg-config and find_package
    # with no paths given; the C one once with the shared library, once with
    # the static archive.
    # shellcheck disable=SC2046
    cc -std=c99 -Wall -Wextra -Werror -o "$work/installed_c" tests/install/consumer/consumer.c $(pkg-config --cflags --libs dls2mml)
    "$work/installed_c"
    # ldd's lines are taken whole first: under pipefail, grep -q leaving at the
    # first match can cut ldd off with SIGPIPE, which then fails the pipe.
    linked=$(ldd "$work/installed_c")
    grep -Eq "libdls2mml\.so\.1 => (/usr)?/lib/$triplet/libdls2mml\.so\.1 " <<<"$linked" || fail "the C consumer does not use the installed shared library"
    # shellcheck disable=SC2046
    cc -std=c99 -Wall -Wextra -Werror -o "$work/installed_c_static" tests/install/consumer/consumer.c \
        $(pkg-config --cflags dls2mml) "$(pkg-config --variable=libdir dls2mml)/libdls2mml.a" \
        $(pkg-config --libs-only-l --static dls2mml | sed 's/-ldls2mml//') -pthread
    "$work/installed_c_static"
    linked=$(ldd "$work/installed_c_static")
    ! grep -q libdls2mml <<<"$linked" || fail "the static C consumer uses the shared library"
    cmake -S tests/install/consumer -B "$work/installed_cxx" -G Ninja >/dev/null
    cmake --build "$work/installed_cxx" >/dev/null
    "$work/installed_cxx/consumer_cxx"
    "${remove[@]}" >/dev/null 2>&1 || fail "apt-get remove failed"
    trap 'rm -rf "$work"' EXIT
    [[ ! -e /usr/bin/dls2mml && ! -e /$lib/libdls2mml.so.1 && ! -e /usr/include/dls2mml ]] || fail "files left after apt-get remove"
else
    if [[ -n $installed ]]; then
        echo "-- apt-get install skipped: already installed here ($installed), left as they are; unpacking only"
    else
        echo "-- apt-get install skipped: not root; unpacking only"
    fi
    for deb in "${debs[@]}"; do dpkg -x "$deb" "$work/root"; done
    LD_LIBRARY_PATH=$work/root/$lib "$work/root/usr/bin/dls2mml" --version | head -n 1
    [[ $("$work/root/usr/bin/dls2mml" --version | head -n 1) == "dls2mml $version" ]] || fail "the packaged program gives another version"
fi

if [[ -f build-windows/dls2mml.exe && -f build-windows/dls2mml-gui.exe ]]; then
    echo "-- Windows zip"
    bash tools/package.sh --zip --out "$work/dist" >/dev/null
    zip=$work/dist/dls2mml-${version}-win64.zip
    [[ -f $zip ]] || fail "no $(basename "$zip")"
    cmake -E tar tf "$zip" | sort >"$work/entries"
    cat "$work/entries"
    top=dls2mml-${version}-win64
    text=(LICENSE.txt README-Windows.txt README.md)
    [[ -f docs/format.md ]] && text+=(format.md)
    printf "$top/%s\n" dls2mml-gui.exe dls2mml.exe "${text[@]}" | sort >"$work/expected"
    diff "$work/expected" "$work/entries" || fail "the zip holds other entries than these: $(tr '\n' ' ' <"$work/expected")"
    mkdir "$work/zip"
    (cd "$work/zip" && cmake -E tar xf "$zip")
    for name in "${text[@]}"; do
        file=$work/zip/$top/$name
        # Every line ends in CR LF: as many CRs as LFs, each CR before an LF.
        [[ -s $file && $(tr -cd '\r' <"$file" | wc -c) -eq $(tr -cd '\n' <"$file" | wc -c) &&
            $(grep -c $'\r$' "$file") -eq $(wc -l <"$file") ]] || fail "$name in the zip has lines without CRLF"
    done
    cmp -s <(tr -d '\r' <"$work/zip/$top/README.md") README.md || fail "README.md in the zip is not the README"
else
    echo "-- Windows zip skipped: no build-windows/ (bash .ci/windows.sh makes it)"
fi
echo "install test: all checks passed"
