#!/usr/bin/env bash
# The window program end to end, under Xvfb and Wine with code page 932:
#   run_gui_tests.sh GUI.exe window_driver.exe explorer.exe dls2mml.exe make_sample_bank.exe
# Checks: the window's class, title bytes, geometry and class settings, its
# icon with a transparency mask; both status lines drawn (pixel measures plus
# a kept image); an idle window costs no processor time; one drop of several
# paths (upper-case .DLS, Japanese name, .dlsx, .dls.bak, a folder, a missing
# file, a .txt, an over-long path, a bank whose stream passes 1 MiB) gives byte
# for byte the documents the command line writes for the same files in the
# same order, nothing else, and one start of the Windows folder's file manager
# per document (never of the explorer.exe beside the program); a second drop
# continues the same pivot state and skips paths whose documents would pass
# 255 characters; a Unicode drop (as the shell sends it) converts every name,
# é, Hangul, an emoji, spaces, İ and ẞ alike, with documents equal to the
# command line's for the same files in the same order and the file manager
# asked for each by its exact wide path, and counts the 255-character limit in
# UTF-16 units (a Hangul and emoji path of 251 converts, one of 252 does not);
# a large bank, converted on every core, then a drop of a file with a block
# whose output depends on the pivot state (the draws the large bank's blocks
# owe are made first) give the command line's documents for the whole run;
# a drop that takes longer than the
# system's 5 s "not responding" limit, from a source that stalls for longer
# than that, never makes the window count as hung;
# other keys leave the window open; Escape, F12 and WM_CLOSE end it with exit
# code 0; under Windows 10 frame metrics the client area is still 256 x 37.
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
root=$(cd "$here/../../.." && pwd)
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
# The prefix is kept between runs: whatever this test changes in it (the
# Windows folder's file manager, the frame metrics) is put back at the end.
windows_explorer=$WINEPREFIX/drive_c/windows/explorer.exe
kept_explorer=$windows_explorer.dls2mml-kept
metrics_key='HKCU\Control Panel\Desktop\WindowMetrics'
saved_metrics=()
restore_prefix() {
    [[ -f $kept_explorer ]] && mv -f "$kept_explorer" "$windows_explorer"
    if ((${#saved_metrics[@]})); then
        local names=(CaptionHeight PaddedBorderWidth) i
        for i in 0 1; do
            if [[ -n ${saved_metrics[$i]} ]]; then
                wine reg add "$metrics_key" /v "${names[$i]}" /d "${saved_metrics[$i]}" /f </dev/null >/dev/null 2>&1 || true
            else
                wine reg delete "$metrics_key" /v "${names[$i]}" /f </dev/null >/dev/null 2>&1 || true
            fi
        done
        saved_metrics=()
    fi
}
cleanup() {
    [[ -n $gui_pid ]] && kill "$gui_pid" 2>/dev/null || true
    restore_prefix
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
# Length in UTF-16 units, as Windows counts a path.
units() { printf %s "$1" | iconv -f UTF-8 -t UTF-16LE | wc -c | awk '{ print $1 / 2 }'; }
run_driver() { wine "$driver" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# The program in a folder of its own beside a planted explorer.exe, which a
# search for a bare "explorer" would find first: it must never run. The
# stand-in in the Windows folder is the file manager the window must start.
app=$scratch/app
mkdir -p "$app"
cp "$gui" "$app/dls2mml-gui.exe"
cp "$fake_explorer" "$app/explorer.exe"
[[ -f $kept_explorer ]] || cp "$windows_explorer" "$kept_explorer"
cp "$fake_explorer" "$windows_explorer"
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
# The bank maker takes ANSI arguments: it writes under a plain name, moved after.
bank() {
    wine "$sample_bank" "$(winpath "$scratch/bank.tmp")" --size "$2" --seed "$3" </dev/null >/dev/null 2>&1
    mv "$scratch/bank.tmp" "$1"
}
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
# Paths whose documents (4 characters longer) would pass 255 characters are
# skipped before converting: longdir/a.dls (document 259) and fitdir/ab.dls
# (256); fitdir/a.dls gives a document of exactly 255.
pad=$((246 - ${#drop} - 4))
fitdir=$drop/$(printf 'F%.0s' $(seq "$pad"))
mkdir -p "$fitdir"
bank "$fitdir/a.dls" 2500 8
cp "$fitdir/a.dls" "$fitdir/ab.dls"
too_long=("$longdir/a.dls" "$fitdir/ab.dls")

drop1=("$drop/Piano.DLS" "$drop/notes.txt" "$drop/表ソ音色.dls" "$drop/f.dls" "$drop/x.dlsx"
       "$drop/missing.dls" "$drop/song.dls.bak" "$drop/big.dls" "$drop/periodic1.dls")
drop1_docs=("$drop/Piano_DLS.mml" "$drop/表ソ音色_dls.mml" "$drop/x_dlsx.mml" "$drop/song_dls.bak.mml"
            "$drop/big_dls.mml" "$drop/periodic1_dls.mml")
# The second drop also holds the bank the cut path would name (its document's
# path would be 259 characters) and the two near the limit.
drop2=("$drop/periodic2.dls" "$drop/second.dls" "$longdir/a.dls" "$fitdir/ab.dls" "$drop/Piano.DLS" "$fitdir/a.dls")
drop2_docs=("$drop/periodic2_dls.mml" "$drop/second_dls.mml" "$drop/Piano_DLS.mml" "$fitdir/a_dls.mml")
docs1=${#drop1_docs[@]} docs2=${#drop2_docs[@]}

# Names without a code page 932 form. café.dls sits beside cafe.dls, the name
# the system's best fit would make of it, which must stay untouched. İ and ẞ
# lower-case to other letters (i, ß) by the system's tables: the documents
# keep them. The Japanese name converts as from the ANSI drop.
wide=$scratch/wide
mkdir -p "$wide"
bank "$wide/cafe.dls" 3000 11
cp "$wide/cafe.dls" "$wide/café.dls"
bank "$wide/한국 뱅크.dls" 40000 12
bank "$wide/🎹 piano.DLS" 20000 13
bank "$wide/İSTANBUL ẞ.DLS" 5000 14
cp "$drop/表ソ音色.dls" "$wide/表ソ音色.dls"
# A path of Hangul and an emoji (well over 255 bytes of UTF-8, with no code
# page 932 form) whose document has exactly 255 UTF-16 units, and one with 256.
hdir=$wide/🎹긴
need=$((251 - $(units "$(winpath "$hdir/a.dls")")))
while ((need > 0)); do # a separator and k syllables per folder, at most 60 (180 bytes)
    k=60
    ((need - 1 <= 60)) && k=$((need - 1))
    ((need - k - 1 == 1)) && k=$((k - 1))
    hdir=$hdir/$(printf '한%.0s' $(seq "$k"))
    need=$((need - k - 1))
done
mkdir -p "$hdir"
bank "$hdir/a.dls" 2500 15
cp "$hdir/a.dls" "$hdir/ab.dls"
drop3=("$wide/café.dls" "$wide/한국 뱅크.dls" "$wide/🎹 piano.DLS" "$wide/İSTANBUL ẞ.DLS" "$wide/表ソ音色.dls"
       "$hdir/a.dls" "$hdir/ab.dls")
drop3_docs=("$wide/café_dls.mml" "$wide/한국 뱅크_dls.mml" "$wide/🎹 piano_DLS.mml" "$wide/İSTANBUL ẞ_DLS.mml"
            "$wide/表ソ音色_dls.mml" "$hdir/a_dls.mml")
docs3=${#drop3_docs[@]}
too_long+=("$hdir/ab.dls")

# A large bank, whose blocks the window sorts on every core, then a file with
# a block whose output depends on the pivot state (block 2), dropped on its own.
carry=$scratch/carry
mkdir -p "$carry"
periodic() { (set +o pipefail; yes "$1" | tr -d '\n' | head -c "$2"); }
bank "$carry/large.dls" 8000000 21
{ head -c 1048576 "$carry/large.dls"; periodic aaabaabb 524288; head -c 300000 "$drop/Piano.DLS"; } >"$carry/needs_state.dls"
drop4=("$carry/large.dls") drop5=("$carry/needs_state.dls")
drop45_docs=("$carry/large_dls.mml" "$carry/needs_state_dls.mml")

# The command line on copies, in one call, in the window's order (the path
# the window skips as not naming a bank, notes.txt, is not a conversion).
# The copies are named by position, so a bank dropped twice gets two
# documents; those of the Unicode drop keep their names (but the long path's).
make_reference() { # folder
    local dir=$1 i=0
    mkdir -p "$dir/f.dls" "$dir/wide"
    refs=() ref_docs=()
    for f in "${drop3[@]}"; do
        [[ " ${too_long[*]} " == *" $f "* ]] && continue
        if [[ $f == "$hdir"/* ]]; then
            cp "$f" "$dir/wide/long.dls"
            wide_refs+=("$dir/wide/long.dls") wide_docs+=("$dir/wide/long_dls.mml")
        else
            cp "$f" "$dir/wide/"
            local doc=${f##*/}
            doc=${doc/.dls/_dls}; doc=${doc/.DLS/_DLS}
            wide_refs+=("$dir/wide/${f##*/}") wide_docs+=("$dir/wide/$doc.mml")
        fi
    done
    for f in "${drop1[@]}" "${drop2[@]}"; do
        [[ $f == *.txt || " ${too_long[*]} " == *" $f "* ]] && continue
        i=$((i + 1))
        case $f in
        */f.dls) refs+=("$dir/f.dls") ;;
        */missing.dls) refs+=("$dir/missing.dls") ;;
        *) cp "$f" "$dir/r$i.dls"; refs+=("$dir/r$i.dls"); ref_docs+=("$dir/r${i}_dls.mml") ;;
        esac
    done
    refs+=("${wide_refs[@]}") ref_docs+=("${wide_docs[@]}")
    wide_refs=() wide_docs=()
    mkdir -p "$dir/carry"
    for f in "${drop4[@]}" "${drop5[@]}"; do
        cp "$f" "$dir/carry/"
        refs+=("$dir/carry/${f##*/}") ref_docs+=("$dir/carry/$(basename "${f##*/}" .dls)_dls.mml")
    done
}
wide_refs=() wide_docs=()
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
cp "$carry/needs_state.dls" "$scratch/fresh/"
wine "$cli" -q "$(winpath "$scratch/fresh/needs_state.dls")" </dev/null >/dev/null 2>&1 || true

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
icon_facts=$(run_driver icon "$(winpath "$app/dls2mml-gui.exe")")
check "icon group 101: 32 x 32 at 16 and at 256 colours" equal "$(sed -n 1p <<<"$icon_facts")" \
    "101: 32x32 16 colours 4 bits, 32x32 256 colours 8 bits"
check "both icon images have a transparency mask (corners clear, centre opaque)" \
    grep -Eqx 'mask: [1-9][0-9]* transparent, corners, centre opaque, [1-9][0-9]* transparent, corners, centre opaque' \
    <<<"$(sed -n 2p <<<"$icon_facts")"
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
check "client area 256 x 37" equal "$cw $ch" "256 37"

# --- Idle -------------------------------------------------------------------------
# Processor time of the program (fields 14 and 15 of its stat: user and system
# ticks) and of the Wine server over 5 s of an idle window.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
server_pid=
for p in $(pgrep -x 'wineserver(64)?' || true); do
    environment=$(tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null || true)
    if grep -qxF "WINEPREFIX=$WINEPREFIX" <<<"$environment"; then server_pid=$p; fi
done
hz=$(getconf CLK_TCK)
sleep 1
g0=$(ticks "$gui_pid") s0=$( [[ -n $server_pid ]] && ticks "$server_pid" || echo 0)
sleep 5
g1=$(ticks "$gui_pid") s1=$( [[ -n $server_pid ]] && ticks "$server_pid" || echo 0)
idle_gui=$(awk -v d=$((g1 - g0)) -v hz="$hz" 'BEGIN { printf "%.1f", 100 * d / hz / 5 }')
idle_server=$(awk -v d=$((s1 - s0)) -v hz="$hz" 'BEGIN { printf "%.1f", 100 * d / hz / 5 }')
echo "     idle over 5 s: program ${idle_gui} % of a core, Wine server ${idle_server} %"
check "an idle window uses below 2 % of a core" awk -v p="$idle_gui" 'BEGIN { exit !(p < 2) }'

# --- Drops --------------------------------------------------------------------
expect_reveals() { # the documents whose reveals are due so far, as the log holds them
    for d in "$@"; do printf '/select,"%s"\n' "$(winpath "$d")"; done | LC_ALL=C sort
}
# Starts of the Windows folder's file manager (the log holds the stand-in's own
# path, a tab, its command line).
reveals() {
    tr -d '\r' <"$explorer_log" | LC_ALL=C grep -i '^C:\\windows\\explorer\.exe'$'\t' |
        LC_ALL=C sed -n 's/^.* \(\/select,".*\)$/\1/p' | LC_ALL=C sort
}
# Starts of the explorer.exe planted beside the program.
planted_starts() { tr -d '\r' <"$explorer_log" | LC_ALL=C grep -ciF "$(winpath "$app")\\explorer.exe"$'\t' || true; }
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
        "${longdir##*/}" "${fitdir##*/}" | grep -v -x missing.dls | LC_ALL=C sort | tr '\n' ' ')"
check "long path skipped: no document for it or for the file its cut names" \
    equal "$(cd "$longdir" && LC_ALL=C ls -1A | tr '\n' ' ')" "a.dls a.dlsyyyyyyyyyy "
check "first drop: one start of the Windows folder's file manager per document, with /select,\"path\"" \
    equal "$(reveals)" "$(expect_reveals "${drop1_docs[@]}")"
check "the explorer.exe beside the program never runs" equal "$(planted_starts)" 0
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
check "documents longer than 255 characters are not attempted; one of 255 is written" \
    equal "$(cd "$longdir" && LC_ALL=C ls -1A | tr '\n' ' ')/$(cd "$fitdir" && LC_ALL=C ls -1A | tr '\n' ' ')" \
    "a.dls a.dlsyyyyyyyyyy /a.dls a_dls.mml ab.dls "
check "documents have bare line feeds and end with the footer" \
    bash -c '! grep -q $'"'"'\r'"'"' "$@" && for f; do [[ $(tail -c 4 "$f") == ")\"}" ]] || exit 1; done' _ \
    "${drop1_docs[@]}" "${drop2_docs[@]}"

# --- A Unicode drop, as the shell sends it -------------------------------------
winpaths=()
for f in "${drop3[@]}"; do winpaths+=("$(winpath "$f")"); done
out=$(run_driver dropw "$window" "${winpaths[@]}")
check "Unicode drop delivered" equal "$out" "dropped ${#drop3[@]}"
wait_reveals $((docs1 + docs2 + docs3))
check "Unicode drop: every name converted, cafe.dls untouched, nothing else written" \
    equal "$(cd "$wide" && LC_ALL=C ls -1A | tr '\n' '/')" \
    "$(LC_ALL=C printf '%s\n' cafe.dls "${drop3[@]:0:5}" "${drop3_docs[@]:0:5}" 🎹긴 |
        sed 's|.*/||' | LC_ALL=C sort | tr '\n' '/')"
check "Unicode drop: the 255-unit document written, the 256-unit one not attempted" \
    equal "$(cd "$hdir" && LC_ALL=C ls -1A | tr '\n' ' ')" "a.dls a_dls.mml ab.dls "
check "Unicode drop: the long document's path has 255 UTF-16 units" \
    equal "$(units "$(winpath "$hdir/a_dls.mml")")" 255
check "Unicode drop: documents equal the command line's (dls2mml.exe)" \
    same_documents "${drop3_docs[@]}" -- "${ref_exe[@]:docs1+docs2:docs3}"
if [[ -n $reference ]]; then
    check "Unicode drop: documents equal the command line's (native)" \
        same_documents "${drop3_docs[@]}" -- "${ref_native[@]:docs1+docs2:docs3}"
fi
check "Unicode drop: the Japanese name's document equals the ANSI drop's" \
    cmp -s "$wide/表ソ音色_dls.mml" "$drop/表ソ音色_dls.mml"
check "Unicode drop: one file-manager start per document, by its exact wide path" \
    equal "$(reveals)" "$(expect_reveals "${drop1_docs[@]}" "${drop2_docs[@]}" "${drop3_docs[@]}")"

# --- A large bank on every core, then a file that needs the pivot state ------------
out=$(run_driver dropw "$window" "$(winpath "${drop4[0]}")")
check "large bank dropped" equal "$out" "dropped 1"
wait_reveals $((docs1 + docs2 + docs3 + 1))
t0=$EPOCHREALTIME
out=$(run_driver dropw "$window" "$(winpath "${drop5[0]}")")
wait_reveals $((docs1 + docs2 + docs3 + 2))
echo "     the file needing the state (owed draws made first) handled in $(elapsed "$t0") s"
check "file needing the state dropped" equal "$out" "dropped 1"
check "large bank, then a file needing the state: documents equal the command line's (dls2mml.exe)" \
    same_documents "${drop45_docs[@]}" -- "${ref_exe[@]:docs1+docs2+docs3:2}"
if [[ -n $reference ]]; then
    check "large bank, then a file needing the state: documents equal the command line's (native)" \
        same_documents "${drop45_docs[@]}" -- "${ref_native[@]:docs1+docs2+docs3:2}"
fi
check "the file needing the state got the state carried (differs from one converted alone)" \
    bash -c '[[ -s $1 ]] && ! cmp -s "$1" "$2"' _ "${drop45_docs[1]}" "$scratch/fresh/needs_state_dls.mml"

# --- A drop longer than the "not responding" limit -------------------------------
# The bank arrives through a pipe: a quarter MiB, then nothing for longer
# than the system's 5 s limit (a source that stalls while the first block is
# still incomplete), then a quarter MiB every 0.6 s (about 13 s in all), so the
# conversion inside the drop message outlasts the limit at little processor
# cost, once in a single wait for input. Meanwhile the window must never count
# as hung.
slow=$scratch/slow
mkdir -p "$slow"
mkfifo "$slow/slow.dls"
chunks=$(( ($(stat -c %s "$drop/big.dls") + 262143) / 262144 ))
# Wine opens the pipe without waiting for a writer and takes "no writer" for
# the end of the file, so the feeder holds it open (read-write, which never
# blocks) before the drop; the end comes when the feeder closes it.
exec 5<>"$slow/slow.dls"
stall=6
(for i in $(seq 0 $((chunks - 1))); do
    dd if="$drop/big.dls" bs=262144 skip="$i" count=1 status=none
    if ((i == 0)); then sleep "$stall"; else sleep 0.6; fi
done >&5) &
feeder=$!
exec 5>&-
t0=$EPOCHREALTIME
{ run_driver drop "$window" "$(winpath "$slow/slow.dls")"; echo "$(elapsed "$t0")" >"$scratch/slow.answered"; } >"$scratch/slow.out" &
slow_drop=$!
sleep 0.5
watched=$(run_driver watch "$window" $((stall * 1000 + chunks * 600 + 500)))
wait "$slow_drop" || true
# While converting, the window looks at its queue, and the system may answer
# the driver's check message then: the file manager's start tells the end.
wait_reveals $((docs1 + docs2 + docs3 + 3))
# The drop ends only after the feeder closed the pipe; a feeder still there
# means the window stopped reading early: stop it rather than wait for ever.
if kill -0 "$feeder" 2>/dev/null; then pkill -P "$feeder" 2>/dev/null || true; kill "$feeder" 2>/dev/null || true; fi
wait "$feeder" 2>/dev/null || true
echo "     slow drop handled in $(elapsed "$t0") s (its check message answered after $(cat "$scratch/slow.answered") s); $watched"
check "slow drop delivered" equal "$(cat "$scratch/slow.out")" "dropped 1"
check "a drop longer than 5 s: the window never counts as hung" equal "$watched" "hung 0 of ${watched##* of }"
same_as_file() {
    cmp -s "$slow/slow_dls.mml" "$drop/big_dls.mml" && return
    echo "     sizes line $(sed -n 2p "$slow/slow_dls.mml" 2>/dev/null | head -c 60) vs $(sed -n 2p "$drop/big_dls.mml" | head -c 60)"
    echo "     lengths $(stat -c %s "$slow/slow_dls.mml" 2>/dev/null) vs $(stat -c %s "$drop/big_dls.mml")"
    return 1
}
check "the slow drop's document equals the one from the file" same_as_file
check "after every drop: the explorer.exe beside the program never ran" equal "$(planted_starts)" 0

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

# --- Windows 10 frame metrics -----------------------------------------------------
# A caption of 22 and a padded border of 4 pixels (in twips, negative); the
# Wine server reads them when it starts.
metric() { wine reg query "$metrics_key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { print $3 }'; }
saved_metrics=("$(metric CaptionHeight)" "$(metric PaddedBorderWidth)")
wine reg add "$metrics_key" /v CaptionHeight /d -330 /f </dev/null >/dev/null 2>&1
wine reg add "$metrics_key" /v PaddedBorderWidth /d -60 /f </dev/null >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
start_gui
check "Windows 10 frame metrics: client area still 256 x 37" equal "$(fact client | awk '{ print $3, $4 }')" "256 37"
check "Windows 10 frame metrics: outer size 272 x 76 at x 0, y 200" equal "$(fact rect)" "0 200 272 76"
run_driver key "$window" 0x1B
wait_gui
check "Escape closes (Windows 10 metrics), exit code 0" equal "$exit_code" 0
restore_prefix

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all window checks passed"
