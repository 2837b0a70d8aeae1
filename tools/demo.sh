#!/usr/bin/env bash
# Sets up, builds, makes a sample bank and converts it; shows the document's head.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
mkdir -p out
build/make_sample_bank out/Sample.DLS
build/dls2mml out/Sample.DLS
echo "--- out/Sample_DLS.mml (first 4 lines, cut at 100 characters) ---"
head -n 4 out/Sample_DLS.mml | cut -c1-100
echo "--- last line ---"
tail -n 1 out/Sample_DLS.mml
