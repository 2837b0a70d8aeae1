#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit and command-line tests (those
# that switch users once more from a copy of the tree under a closed folder),
# the same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Windows cross build under Wine, the drop page in headless Chromium, and a
# bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

echo "== Release build and tests"
bash tools/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"

echo "== Tests that switch users, from a copy under a closed folder whose path holds a space"
# As from a clone in root's home (mode 0700), where user 65534 cannot reach
# the build: those tests must copy what that user runs somewhere it can. Only
# what they run is built (about half a minute).
closed=$(mktemp -d)
trap 'rm -rf "$closed"' EXIT
chmod 700 "$closed"
copy="$closed/my projects/dls2mml"
bash tools/copy_source.sh "$copy"
cmake -S "$copy" -B "$copy/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$copy/build" -j"$(nproc)" --target dls2mml make_sample_bank peak_rss dls2mml_man_page >/dev/null
if ! ctest --test-dir "$copy/build" -V -j"$(nproc)" -R '^(reliability|cli|cli_modes|man_page)$' >"$closed/ctest.log" 2>&1; then
    cat "$closed/ctest.log"
    exit 1
fi
grep -E '^[0-9]+: skip ' "$closed/ctest.log" || true
grep -E '^[0-9]+% tests passed' "$closed/ctest.log"
rm -rf "$closed"
trap - EXIT

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDLS2MML_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)"

if [[ -f .ci/windows.sh && "${DLS2MML_SKIP_WINDOWS:-0}" != 1 ]]; then
    echo "== Windows cross build, tests under Wine"
    bash .ci/windows.sh
fi
if [[ "${DLS2MML_SKIP_WEB:-0}" != 1 ]]; then
    echo "== Drop page: WebAssembly build, tests in headless Chromium"
    bash tests/web/run.sh build
fi
if [[ -f tests/install/run.sh && "${DLS2MML_SKIP_INSTALL:-0}" != 1 ]]; then
    echo "== Installed tree: C and C++ consumers, shared library, Debian packages, Windows zip"
    bash tests/install/run.sh build
fi
if [[ -f .ci/fuzz.sh && "${DLS2MML_SKIP_FUZZ:-0}" != 1 ]]; then
    echo "== Fuzzing (bounded)"
    bash .ci/fuzz.sh
fi
echo "== All tests passed"
