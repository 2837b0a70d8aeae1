#!/usr/bin/env bash
# Builds the drop page: the converter compiled to WebAssembly, in one
# self-contained build-web/index.html. Installs the compiler from Debian's
# packages when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! dpkg-query -W -f='${Status}' emscripten 2>/dev/null | grep -q "install ok installed"; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq emscripten >/dev/null
fi
# The compiler's own scripts look for their JavaScript modules where Debian
# puts them, whichever Node.js comes first on the path.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B build-web -G Ninja -DCMAKE_BUILD_TYPE=Release -DDLS2MML_TESTS=OFF "$@" >/dev/null
cmake --build build-web -j"$(nproc)"
echo "build-web/index.html: $(stat -c %s build-web/index.html) bytes"
