#!/usr/bin/env bash
# dls2mml -t refuses every golden faulty document of this folder, exit status
# 1, and names the place its row of faults.txt gives: "FILE: line L, column C:",
# followed by "stream byte N:" for a fault inside the stream.
#   check.sh DLS2MML
set -uo pipefail
dls2mml=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
folder=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 count=0
while read -r file kind place byte code; do
    [[ -z $file || $file == \#* ]] && continue
    count=$((count + 1))
    cp "$folder/$file" "$work/$file"
    (cd "$work" && "$dls2mml" -t "$file") >/dev/null 2>"$work/err"
    rc=$?
    expected="dls2mml: $file: line ${place%%:*}, column ${place#*:}: "
    [[ $byte != - ]] && expected+="stream byte $byte: "
    message=$(head -n 1 "$work/err")
    if [[ $rc -ne 1 || $message != "$expected"* ]]; then
        echo "FAIL $file ($kind, $code): exit $rc, said: $message"
        echo "     expected it to begin: $expected"
        failures=$((failures + 1))
    fi
done <"$folder/faults.txt"
[[ $count -gt 0 ]] || { echo "no rows in $folder/faults.txt"; exit 1; }
echo "faulty documents: $((count - failures)) of $count refused at their place"
[[ $failures -eq 0 ]]
