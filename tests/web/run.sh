#!/usr/bin/env bash
# Builds the drop page and drives it in headless Chromium, comparing what it
# offers with the command line's own documents.
#   bash tests/web/run.sh [BUILD_DIR]     (BUILD_DIR: dls2mml and make_sample_bank)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
bash tools/web.sh
if ! dpkg-query -W -f='${Status}' chromium 2>/dev/null | grep -q "install ok installed"; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium >/dev/null
fi
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
node tests/web/stream_test.js
node tests/web/page_test.js "$build" build-web
