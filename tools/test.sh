#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit and command-line tests, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Windows cross build under Wine, the drop page in headless Chromium, and a
# bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

echo "== Release build and tests"
bash tools/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"

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
    echo "== Installed tree: C and C++ consumers, shared library, Debian package, Windows zip"
    bash tests/install/run.sh build
fi
if [[ -f .ci/fuzz.sh && "${DLS2MML_SKIP_FUZZ:-0}" != 1 ]]; then
    echo "== Fuzzing (bounded)"
    bash .ci/fuzz.sh
fi
echo "== All tests passed"
