#!/usr/bin/env bash
# dls2mml.exe under Wine with code page 932, given names with and without a
# code page 932 form:
#   windows_names_test.sh dls2mml.exe make_sample_bank.exe window_driver.exe
# Checks: names with é, Hangul, an emoji, spaces, İ and ẞ, and a Japanese one
# convert; the summary (redirected: UTF-8) and the messages name each file
# exactly; the documents equal those of the native build for the same files
# in the same order (DLS2MML_REFERENCE, default build/dls2mml of the source
# tree if present); -c, -o, --decode and --test with such names; the output
# refused when it is the input under another spelling; a path of more than
# 260 UTF-16 units converts; on a terminal the names show as they are.
#
# Environment: WINEPREFIX (made in a scratch folder if unset).
set -uo pipefail

if (($# < 3)); then
    echo "usage: $0 dls2mml.exe make_sample_bank.exe window_driver.exe" >&2
    exit 2
fi
cli=$(realpath "$1") make_bank=$(realpath "$2") driver=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
reference=${DLS2MML_REFERENCE:-}
if [[ -z $reference && -x $root/build/dls2mml ]]; then reference=$root/build/dls2mml; fi
work=$(mktemp -d /tmp/dls2mml-names.XXXXXX)
trap 'rm -rf "$work"' EXIT
export WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
if [[ -z ${WINEPREFIX:-} ]]; then
    export HOME=$work/home WINEPREFIX=$work/pfx
    mkdir -p "$HOME"
    (unset DISPLAY; wineboot -i >/dev/null 2>&1; wineserver -w)
fi

failures=0
check() { # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        failures=$((failures + 1))
    fi
}
equal() { [[ "$1" == "$2" ]] || { echo "     got:      $1"; echo "     expected: $2"; return 1; }; }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
units() { printf %s "$1" | iconv -f UTF-8 -t UTF-16LE | wc -c | awk '{ print $1 / 2 }'; }
# The bank maker takes ANSI arguments: it writes under a plain name, moved after.
bank() {
    wine "$make_bank" "$(winpath "$work/bank.tmp")" --size "$2" --seed "$3" </dev/null >/dev/null 2>&1
    mv "$work/bank.tmp" "$1"
}
# dls2mml.exe with standard output and standard error in files, carriage returns dropped.
run() { # run OUT ERR ARGS...
    local out=$1 err=$2
    shift 2
    wine "$cli" "$@" </dev/null >"$out.raw" 2>"$err.raw"
    local status=$?
    tr -d '\r' <"$out.raw" >"$out"
    tr -d '\r' <"$err.raw" >"$err"
    return $status
}

check "ANSI code page is 932" equal "$(wine "$driver" acp </dev/null 2>/dev/null | tr -d '\r')" 932

w=$work/w
mkdir -p "$w"
names=("café.dls" "한국어 cli.dls" "🎹 piano.DLS" "İSTANBUL ẞ.DLS" "表ソ音色.dls" "with  two spaces.dls")
docs=("café_dls.mml" "한국어 cli_dls.mml" "🎹 piano_DLS.mml" "İSTANBUL ẞ_DLS.mml" "表ソ音色_dls.mml" "with  two spaces_dls.mml")
seed=1
for n in "${names[@]}"; do bank "$w/$n" $((3000 + 7000 * seed)) "$seed"; seed=$((seed + 1)); done
# A name the system's best fit would make of café: it must stay untouched.
cp "$w/café.dls" "$w/cafe.dls"

args=()
for n in "${names[@]}"; do args+=("$(winpath "$w/$n")"); done
run "$work/summary" "$work/err" "${args[@]}"
check "all names convert, exit 0" equal "$?:$(cat "$work/err")" "0:"
expected=$(for i in "${!names[@]}"; do printf '%s\t%s\n' "$(winpath "$w/${names[$i]}")" "$(winpath "$w/${docs[$i]}")"; done)
check "the redirected summary names each bank and document exactly, in UTF-8" \
    equal "$(cut -f1,2 "$work/summary")" "$expected"
check "nothing else written (cafe.dls untouched)" \
    equal "$(cd "$w" && LC_ALL=C ls -1A | tr '\n' '/')" \
    "$(LC_ALL=C printf '%s\n' cafe.dls "${names[@]}" "${docs[@]}" | LC_ALL=C sort | tr '\n' '/')"
if [[ -n $reference ]]; then
    mkdir -p "$work/native"
    for n in "${names[@]}"; do cp "$w/$n" "$work/native/"; done
    (cd "$work/native" && "$reference" -q "${names[@]}")
    same=0
    for d in "${docs[@]}"; do cmp -s "$w/$d" "$work/native/$d" || { echo "     differs: $d"; same=1; }; done
    check "documents equal the native build's for the same files in the same order" test "$same" = 0
else
    echo "     (no native build to compare with)"
fi

# One name alone: a document to standard output equals the one written with -o.
korean=$(winpath "$w/한국어 cli.dls")
run "$work/o.out" "$work/o.err" -q -o "$(winpath "$w/출력 ①.mml")" "$korean"
run "$work/c.out" "$work/c.err" -c "$korean"
check "-c and -o with a Hangul name give the same document" cmp -s "$work/c.out.raw" "$w/출력 ①.mml"

# The output is the input under another spelling (case differs): refused, bank kept.
cp "$w/한국어 cli.dls" "$work/kept.dls"
run "$work/same.out" "$work/same.err" -o "$(winpath "$w/한국어 CLI.DLS")" "$korean"
status=$?
check "the input named as output in other letter cases is refused, exit 1" \
    equal "$status:$(cat "$work/same.err")" "1:dls2mml: $korean: input and output are the same file"
check "the refused bank is untouched" cmp -s "$w/한국어 cli.dls" "$work/kept.dls"

# Decoding and testing documents with such names.
run "$work/d.out" "$work/d.err" -q -d -o "$(winpath "$w/복원 🎹.dls")" "$(winpath "$w/🎹 piano_DLS.mml")"
check "--decode of the emoji name's document gives its bank back" cmp -s "$w/복원 🎹.dls" "$w/🎹 piano.DLS"
run "$work/t.out" "$work/t.err" -t "$(winpath "$w/İSTANBUL ẞ_DLS.mml")"
check "--test names the document exactly" \
    grep -qxF "$(winpath "$w/İSTANBUL ẞ_DLS.mml"): OK" "$work/t.out"

# A missing file is named in the message as given.
run "$work/m.out" "$work/m.err" "$(winpath "$w/없는 파일 🎹.dls")"
status=$?
check "a missing Hangul and emoji name: exit 1, named exactly in the message" \
    bash -c '[[ $1 == 1 && $(cat "$2") == "dls2mml: $3: cannot open"* ]]' _ "$status" "$work/m.err" "$(winpath "$w/없는 파일 🎹.dls")"

# A path beyond the plain limit of 260 units, folders of Hangul.
long=$w
while (($(units "$(winpath "$long")") < 300)); do long=$long/$(printf '긴%.0s' $(seq 60)); done
mkdir -p "$long"
cp "$w/café.dls" "$long/긴 이름.dls"
run "$work/l.out" "$work/l.err" "$(winpath "$long/긴 이름.dls")"
check "a path of $(units "$(winpath "$long/긴 이름.dls")") UTF-16 units converts" \
    equal "$?:$(cut -f2 "$work/l.out")" "0:$(winpath "$long/긴 이름_dls.mml")"
check "no temporary left beside the long path's document" \
    equal "$(cd "$long" && LC_ALL=C ls -1A | tr '\n' '/')" "긴 이름.dls/긴 이름_dls.mml/"
run "$work/lt.out" "$work/lt.err" -t "$(winpath "$long/긴 이름_dls.mml")"
check "the long path's document tests OK" equal "$?" 0

# On a terminal (a console for the program) the names show as they are.
# (Wine's terminal console shows a character beyond U+FFFF as two stand-ins,
# so the emoji is left out here; the summary above carries it.)
if command -v script >/dev/null; then
    cd "$w" || exit 1
    shown=$(script -qec "wine '$cli' -t 'café_dls.mml' '한국어 cli_dls.mml' 'İSTANBUL ẞ_DLS.mml' </dev/null" /dev/null 2>&1 | tr -d '\r')
    # (Wine's terminal console may add control sequences around the text.)
    check "on a terminal: names with é, Hangul, İ and ẞ shown as they are" \
        bash -c 'for n in café_dls.mml "한국어 cli_dls.mml" "İSTANBUL ẞ_DLS.mml"; do
                     grep -qF "$n: OK" <<<"$1" || { echo "     shown: $1"; exit 1; }
                 done' _ "$shown"
    cd "$work" || exit 1
fi

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all name checks passed"
