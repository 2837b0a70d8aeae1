#!/usr/bin/env bash
# Copies the source tree into FOLDER (made if missing): the files a clone
# holds, with any local changes and new files not ignored, or, in a tree that
# is not a clone, every file less build folders and dist/.
#   tools/copy_source.sh FOLDER
set -euo pipefail
target=${1:?usage: tools/copy_source.sh FOLDER}
mkdir -p "$target"
target=$(cd "$target" && pwd)
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # Files deleted but not yet committed are listed by ls-files too; they are
    # left out.
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [[ -e $f || -L $f ]] && printf '%s\0' "$f"; done
else
    find . \( -path './build*' -o -path ./dist -o -path ./.git \) -prune -o \( -type f -o -type l \) -print0
fi | tar --null -T - -cf - | tar -xf - -C "$target"
