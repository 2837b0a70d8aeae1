#!/usr/bin/env bash
# The window program end to end, under Xvfb and Wine with code page 932:
#   run_gui_tests.sh GUI.exe window_driver.exe explorer.exe dls2mml.exe make_sample_bank.exe
# Checks: the window's class, title bytes, geometry and class settings; both
# status lines drawn (pixel measures plus a kept image); one drop of several
# paths (upper-case .DLS, Japanese name, .dlsx, .dls.bak, a folder, a missing
# file, a .txt, an over-long path, a bank whose stream passes 1 MiB) gives byte for byte the documents the
# command line writes for the same files in the same order, nothing else, and
# one file-manager start per document; a second drop continues the same pivot
# state; other keys leave the window open; Escape, F12 and WM_CLOSE end it
# with exit code 0.
#
# Environment: WINEPREFIX (made in a scratch folder if unset), DLS2MML_REFERENCE
# (a native command line to compare with as well; default build/dls2mml of the
# source tree if present), DLS2MML_SCREENSHOT (where to keep the window's
# picture), DLS2MML_UPDATE_GOLDEN=1 (rewrite the kept client-area image).
set -euo pipefail

if (($# < 5)); then
    echo "usage: $0 GUI.exe window_driver.exe explorer.exe dls2mml.exe make_sample_bank.exe" >&2
    exit 2
fi
gui=$(realpath "$1") driver=$(realpath "$2") fake_explorer=$(realpath "$3")
cli=$(realpath "$4") sample_bank=$(realpath "$5")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
golden=$here/golden_client.png
reference=${DLS2MML_REFERENCE:-}
if [[ -z $reference && -x $root/build/dls2mml ]]; then reference=$root/build/dls2mml; fi
CONVERT=/usr/bin/convert   # the distribution's ImageMagick, whatever PATH holds
[[ -x $CONVERT ]] || CONVERT=convert

scratch=$(mktemp -d /tmp/dls2mml-gui.XXXXXX)
export WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine takes its ANSI code page from the locale at every start.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
if [[ -z ${WINEPREFIX:-} ]]; then
    export HOME=$scratch/home WINEPREFIX=$scratch/pfx
    mkdir -p "$HOME"
    (unset DISPLAY; wineboot -i >/dev/null 2>&1; wineserver -w)
fi

failures=0
check() { # check NAME COMMAND...: runs the command, reports
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

xvfb_pid=
gui_pid=
cleanup() {
    [[ -n $gui_pid ]] && kill "$gui_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# A server that outlives this script's Wine processes would keep another
# display; start afresh on ours.
wineserver -k 2>/dev/null || true
exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [[ -s $scratch/display ]] && break; sleep 0.05; done
export DISPLAY=:$(cat "$scratch/display")

# A virtual desktop gives Wine-drawn frames and fixed positions without a
# window manager. Warm the server once with all output discarded: the first
# Wine process starts background services that inherit its output.
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f </dev/null >/dev/null 2>&1

winpath() { local p=$1; echo "Z:${p//\//\\}"; }
# Windows path of a Linux path, as code page 932 bytes.
winpath932() { winpath "$1" | iconv -f UTF-8 -t CP932; }
run_driver() { wine "$driver" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# The program in a folder of its own beside the stand-in file manager, which
# the shell finds there before its own.
app=$scratch/app
mkdir -p "$app"
cp "$gui" "$app/dls2mml-gui.exe"
cp "$fake_explorer" "$app/explorer.exe"
explorer_log=$scratch/explorer.log
: >"$explorer_log"
export DLS2MML_EXPLORER_LOG
DLS2MML_EXPLORER_LOG=$(winpath "$explorer_log")

start_gui() {
    (cd "$app" && exec wine dls2mml-gui.exe </dev/null >/dev/null 2>&1) &
    gui_pid=$!
    facts=$(run_driver find 15000)
    window=$(sed -n 's/^window //p' <<<"$facts")
    [[ -n $window ]] || { echo "FAIL the window did not appear"; echo "$facts"; exit 1; }
}
# Waits up to 10 s for the program to end; sets exit_code.
wait_gui() {
    exit_code=0
    for _ in $(seq 200); do kill -0 "$gui_pid" 2>/dev/null || break; sleep 0.05; done
    if kill -0 "$gui_pid" 2>/dev/null; then exit_code="still running"; return; fi
    wait "$gui_pid" || exit_code=$?
    gui_pid=
}
elapsed() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }'; }
fact() { sed -n "s/^$1 //p" <<<"$facts"; }

# --- Test files --------------------------------------------------------------
drop=$scratch/drop
mkdir -p "$drop/f.dls"
bank() { wine "$sample_bank" "$(winpath "$1")" --size "$2" --seed "$3" </dev/null >/dev/null 2>&1; }
bank "$drop/Piano.DLS" 300000 1
bank "$drop/表ソ音色.dls" 90000 2      # 95 5C and 83 5C: trail bytes that look like '\'
bank "$drop/x.dlsx" 30000 3
bank "$drop/song.dls.bak" 700000 4     # two blocks
bank "$drop/second.dls" 50000 5
bank "$drop/big.dls" 3000000 7         # a stream over 1 MiB: written while it is made
# Periodic inputs: the sort's choice among equal rotations, and with it the
# document, depends on the pivot state left by the files before.
printf 'aaab%.0s' $(seq 13) >"$drop/periodic1.dls"
cp "$drop/periodic1.dls" "$drop/periodic2.dls"
echo "not a bank" >"$drop/notes.txt"
# An over-long path whose first 255 characters name another bank: it must be
# skipped, never converted cut short.
pad=$((250 - ${#drop} - 4))
longdir=$drop/$(printf 'L%.0s' $(seq "$pad"))
mkdir -p "$longdir"
bank "$longdir/a.dls" 2000 6
cp "$longdir/a.dls" "$longdir/a.dlsyyyyyyyyyy"
long_path=$(winpath "$longdir/a.dlsyyyyyyyyyy")

drop1=("$drop/Piano.DLS" "$drop/notes.txt" "$drop/表ソ音色.dls" "$drop/f.dls" "$drop/x.dlsx"
       "$drop/missing.dls" "$drop/song.dls.bak" "$drop/big.dls" "$drop/periodic1.dls")
drop1_docs=("$drop/Piano_DLS.mml" "$drop/表ソ音色_dls.mml" "$drop/x_dlsx.mml" "$drop/song_dls.bak.mml"
            "$drop/big_dls.mml" "$drop/periodic1_dls.mml")
# The second drop ends with the bank the cut path would name: its document's
# path is 259 characters, the longest the ANSI calls take.
drop2=("$drop/periodic2.dls" "$drop/second.dls" "$drop/Piano.DLS" "$longdir/a.dls")
drop2_docs=("$drop/periodic2_dls.mml" "$drop/second_dls.mml" "$drop/Piano_DLS.mml" "$longdir/a_dls.mml")
docs1=${#drop1_docs[@]} docs2=${#drop2_docs[@]}

# The command line on copies, in one call, in the window's order (the path
# the window skips as not naming a bank, notes.txt, is not a conversion).
# The copies are named by position, so a bank dropped twice gets two documents.
make_reference() { # folder
    local dir=$1 i=0
    mkdir -p "$dir/f.dls"
    refs=() ref_docs=()
    for f in "${drop1[@]}" "${drop2[@]}"; do
        [[ $f == *.txt ]] && continue
        i=$((i + 1))
        case $f in
        */f.dls) refs+=("$dir/f.dls") ;;
        */missing.dls) refs+=("$dir/missing.dls") ;;
        *) cp "$f" "$dir/r$i.dls"; refs+=("$dir/r$i.dls"); ref_docs+=("$dir/r${i}_dls.mml") ;;
        esac
    done
}
make_reference "$scratch/ref-exe"
winrefs=()
for r in "${refs[@]}"; do winrefs+=("$(winpath "$r")"); done
wine "$cli" -q "${winrefs[@]}" </dev/null >/dev/null 2>&1 || true
ref_exe=("${ref_docs[@]}")
if [[ -n $reference ]]; then
    make_reference "$scratch/ref-native"
    "$reference" -q "${refs[@]}" >/dev/null 2>&1 || true
    ref_native=("${ref_docs[@]}")
fi
# The periodic bank converted alone, from the initial pivot state.
mkdir "$scratch/fresh"
cp "$drop/periodic1.dls" "$scratch/fresh/"
wine "$cli" -q "$(winpath "$scratch/fresh/periodic1.dls")" </dev/null >/dev/null 2>&1 || true

# --- Start-up ----------------------------------------------------------------
t0=$EPOCHREALTIME
start_gui
echo "     window found after $(elapsed "$t0") s"
check "ANSI code page is 932" equal "$(fact acp)" 932
check "window class" equal "$(fact class)" "Main Window"
check "title bytes" equal "$(fact title)" "44 4C 53 81 A8 4D 4D 4C 95 CF 8A B7 20 56 65 72 2E 31 2E 30 31"
check "outer position and size" equal "$(fact rect)" "0 200 264 64"
check "window style WS_OVERLAPPEDWINDOW, visible" \
    equal "$(printf '%08X' $((0x$(fact style) & 0x10CF0000)))" 10CF0000
check "class style 0x1003" equal "$(fact classstyle)" 00001003
check "icon group 101: 32 x 32 at 16 and at 256 colours" equal "$(run_driver icon "$(winpath "$app/dls2mml-gui.exe")")" \
    "101: 32x32 16 colours 4 bits, 32x32 256 colours 8 bits"
check "accepts dropped files" equal "$(fact acceptfiles)" 1

# --- Picture of the status lines ----------------------------------------------
read -r cx cy cw ch <<<"$(fact client)"
read -r wx wy ww wh <<<"$(fact rect)"
xwd -root -silent -display "$DISPLAY" | "$CONVERT" xwd:- "$scratch/screen.png"
"$CONVERT" "$scratch/screen.png" -crop "${cw}x${ch}+${cx}+${cy}" +repage "$scratch/client.png"
"$CONVERT" "$scratch/screen.png" -crop "${ww}x${wh}+${wx}+${wy}" +repage "$scratch/window.png"
[[ -n ${DLS2MML_SCREENSHOT:-} ]] && cp "$scratch/window.png" "$DLS2MML_SCREENSHOT"
# Per band of rows, in the picture cut to black and white: leftmost and
# rightmost column drawn (light: the text cells), and within that span the
# count of light (cell) and of dark (glyph) pixels. Text cells are 18 rows
# high, so line 1 (from y 18) covers the last rows of line 0's cells.
measure() { # y0 y1
    "$CONVERT" "$scratch/client.png" -colorspace gray -threshold 50% -depth 8 txt:- | awk -F'[,: ]+' -v y0="$1" -v y1="$2" '
        NR > 1 && $2 >= y0 && $2 <= y1 {
            black = ($0 ~ /#000000/)
            pixel[$1, $2] = black
            if (!black) { if (min == "" || $1 + 0 < min) min = $1 + 0; if ($1 + 0 > max) max = $1 + 0 }
        }
        END {
            if (min == "") { print "none none 0 0"; exit }
            for (key in pixel) {
                split(key, xy, SUBSEP)
                if (xy[1] >= min && xy[1] <= max) { if (pixel[key]) dark++; else light++ }
            }
            printf "%d %d %d %d\n", min, max, light, dark
        }'
}
read -r l0 r0 light0 dark0 <<<"$(measure 2 17)"
read -r l1 r1 light1 dark1 <<<"$(measure 20 33)"
read -r la _ _ _ <<<"$(measure 0 1)"
read -r lb _ _ _ <<<"$(measure 36 $((ch - 1)))"
check "line 0 drawn from x 24" equal "$l0" 24
check "line 1 drawn from x 24" equal "$l1" 24
check "nothing drawn above or below the lines" equal "$la $lb" "none none"
# "下さい" is three double-width glyphs; line 0 is longer and runs to the edge.
check "line 1 three glyphs wide, line 0 longer" \
    test "$((r1 - l1 + 1))" -ge 36 -a "$((r1 - l1 + 1))" -le 60 -a "$r0" -gt "$((r1 + 60))"
check "glyphs drawn in both lines (dark pixels in light cells)" test "$dark0" -gt 100 -a "$light0" -gt "$dark0" -a "$dark1" -gt 30 -a "$light1" -gt "$dark1"
if [[ ${DLS2MML_UPDATE_GOLDEN:-0} == 1 || ! -f $golden ]]; then
    cp "$scratch/client.png" "$golden"
    echo "     kept a new client-area image: $golden"
fi
check "client area matches the kept image pixel for pixel" \
    equal "$(/usr/bin/compare -metric AE "$scratch/client.png" "$golden" null: 2>&1 || true)" 0

# --- Drops --------------------------------------------------------------------
expect_reveals() { # the documents whose reveals are due so far, as the log holds them
    for d in "$@"; do printf '/select,"%s"\n' "$(winpath932 "$d")"; done | LC_ALL=C sort
}
reveals() { tr -d '\r' <"$explorer_log" | LC_ALL=C sed -n 's/^.* \(\/select,".*\)$/\1/p' | LC_ALL=C sort; }
wait_reveals() { # count
    for _ in $(seq 600); do (($(wc -l <"$explorer_log") >= $1)) && break; sleep 0.05; done
    sleep 0.5 # a stray extra start would show now
}
same_documents() { # got... -- expected...
    local got=() exp=() seen=0 ok=0
    for a in "$@"; do
        if [[ $a == -- ]]; then seen=1; elif ((seen)); then exp+=("$a"); else got+=("$a"); fi
    done
    for i in "${!got[@]}"; do
        if ! cmp -s "${got[$i]}" "${exp[$i]}"; then
            echo "     differs: ${got[$i]##*/} vs ${exp[$i]}"
            ok=1
        fi
    done
    return $ok
}
listing() { (cd "$drop" && LC_ALL=C ls -1A); }

winpaths=()
for f in "${drop1[@]}"; do winpaths+=("$(winpath "$f")"); done
t0=$EPOCHREALTIME
out=$(run_driver drop "$window" "${winpaths[@]}" "$long_path")
echo "     first drop handled in $(elapsed "$t0") s"
check "first drop delivered" equal "$out" "dropped $((${#drop1[@]} + 1))"
wait_reveals "$docs1"
check "first drop: documents equal the command line's (dls2mml.exe)" \
    same_documents "${drop1_docs[@]}" -- "${ref_exe[@]:0:docs1}"
if [[ -n $reference ]]; then
    check "first drop: documents equal the command line's (native)" \
        same_documents "${drop1_docs[@]}" -- "${ref_native[@]:0:docs1}"
fi
check "first drop: nothing else written (no folder, missing, .txt or cut-path output, no leftovers)" \
    equal "$(listing | tr '\n' ' ')" "$(LC_ALL=C printf '%s\n' "${drop1[@]##*/}" "${drop1_docs[@]##*/}" second.dls periodic2.dls \
        "${longdir##*/}" | grep -v -x missing.dls | LC_ALL=C sort | tr '\n' ' ')"
check "long path skipped: no document for it or for the file its cut names" \
    equal "$(cd "$longdir" && LC_ALL=C ls -1A | tr '\n' ' ')" "a.dls a.dlsyyyyyyyyyy "
check "first drop: one file-manager start per document, with /select,\"path\"" \
    equal "$(reveals)" "$(expect_reveals "${drop1_docs[@]}")"
mkdir "$scratch/first"
cp "$drop/Piano_DLS.mml" "$scratch/first/"

winpaths=()
for f in "${drop2[@]}"; do winpaths+=("$(winpath "$f")"); done
out=$(run_driver drop "$window" "${winpaths[@]}")
check "second drop delivered" equal "$out" "dropped ${#drop2[@]}"
wait_reveals $((docs1 + docs2))
check "second drop continues the pivot state (dls2mml.exe)" \
    same_documents "${drop2_docs[@]}" -- "${ref_exe[@]:docs1:docs2}"
if [[ -n $reference ]]; then
    check "second drop continues the pivot state (native)" \
        same_documents "${drop2_docs[@]}" -- "${ref_native[@]:docs1:docs2}"
fi
check "the pivot state carried: periodic banks after others differ from one converted alone" \
    bash -c '! cmp -s "$1" "$3" && ! cmp -s "$2" "$3"' _ \
    "$drop/periodic1_dls.mml" "$drop/periodic2_dls.mml" "$scratch/fresh/periodic1_dls.mml"
check "second drop: one file-manager start per document" \
    equal "$(reveals)" "$(expect_reveals "${drop1_docs[@]}" "${drop2_docs[@]}")"
check "documents have bare line feeds and end with the footer" \
    bash -c '! grep -q $'"'"'\r'"'"' "$@" && for f; do [[ $(tail -c 4 "$f") == ")\"}" ]] || exit 1; done' _ \
    "${drop1_docs[@]}" "${drop2_docs[@]}"

# --- Keys and closing ---------------------------------------------------------
for key in 0x41 0x0D 0x20 0x70 0x7A 0x79; do run_driver key "$window" "$key"; done
sleep 0.5
check "other keys (A, Enter, Space, F1, F11, F10) leave the window open" run_driver alive "$window"
run_driver key "$window" 0x1B
wait_gui
check "Escape closes, exit code 0" equal "$exit_code" 0

start_gui
run_driver key "$window" 0x7B
wait_gui
check "F12 closes, exit code 0" equal "$exit_code" 0

start_gui
run_driver close "$window"
wait_gui
check "WM_CLOSE closes, exit code 0" equal "$exit_code" 0

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all window checks passed"
