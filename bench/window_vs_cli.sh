#!/usr/bin/env bash
# The window beside the command line, both under the same Wine: a generated
# bank dropped on dls2mml-gui.exe and converted by dls2mml.exe, in pairs whose
# order alternates (so load from elsewhere falls on both alike), printed side
# by side with the median of each and of the pairs' ratios. Not a test: it
# asserts nothing.
#
#   bench/window_vs_cli.sh [-n PAIRS] [-s BYTES] [-b BUILD_WINDOWS_DIR]
#
# BUILD_WINDOWS_DIR (default build-windows) must hold dls2mml-gui.exe,
# dls2mml.exe, window_driver.exe and explorer.exe (a cross build with the
# tests on, as .ci/windows.sh makes). The bank comes from make_sample_bank
# (the native build/ one if present, else the Windows one under Wine), seed 1.
# The window's time runs from the start of the process that drops the bank
# until the document's last write (its modification time); the command line's
# is the whole process. Both include one Wine process start (about 0.1 s with
# a warm server on a quiet machine). Needs Xvfb.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
pairs=5 size=150000000 build=$root/build-windows
while getopts n:s:b: opt; do
    case $opt in
    n) pairs=$OPTARG ;;
    s) size=$OPTARG ;;
    b) build=$(cd "$OPTARG" && pwd) ;;
    *) echo "usage: $0 [-n PAIRS] [-s BYTES] [-b BUILD_WINDOWS_DIR]" >&2; exit 2 ;;
    esac
done
for f in dls2mml-gui.exe dls2mml.exe window_driver.exe tests/shell/window/explorer.exe; do
    [[ -f $build/$f ]] || { echo "missing $build/$f (cross-build with the tests on)" >&2; exit 2; }
done

scratch=$(mktemp -d /tmp/dls2mml-window-bench.XXXXXX)
export HOME=$scratch/home WINEPREFIX=$scratch/pfx WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
mkdir -p "$HOME"
xvfb_pid= gui_pid=
cleanup() {
    [[ -n $gui_pid ]] && kill "$gui_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
(unset DISPLAY; wineboot -i >/dev/null 2>&1; wineserver -w)
exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [[ -s $scratch/display ]] && break; sleep 0.05; done
export DISPLAY=:$(cat "$scratch/display")
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
# The file manager the window starts after each document: a stand-in that
# only logs, so no browser window costs time.
cp "$build/tests/shell/window/explorer.exe" "$WINEPREFIX/drive_c/windows/explorer.exe"
export DLS2MML_EXPLORER_LOG='Z:\dev\null'

winpath() { local p=$1; echo "Z:${p//\//\\}"; }
work=$scratch/work
mkdir -p "$work"
bank=$work/bank.dls
if [[ -x $root/build/make_sample_bank ]]; then
    "$root/build/make_sample_bank" "$bank" --size "$size" --seed 1 >/dev/null
else
    wine "$build/make_sample_bank.exe" "$(winpath "$bank")" --size "$size" --seed 1 </dev/null >/dev/null 2>&1
fi
bytes=$(stat -c %s "$bank")

(cd "$work" && exec wine "$build/dls2mml-gui.exe" </dev/null >/dev/null 2>&1) &
gui_pid=$!
window=$(wine "$build/window_driver.exe" find 15000 </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^window //p')
[[ -n $window ]] || { echo "the window did not appear" >&2; exit 1; }

now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'; }
# A pause without starting a process (sleep would cost the machine a fork
# and an exec every time): a read that times out on a pipe nobody writes.
mkfifo "$scratch/never"
exec 9<>"$scratch/never"
pause() { read -r -t "$1" -u 9 || true; }
time_window() {
    local document=$work/bank_dls.mml t0
    rm -f "$document"
    t0=$(now)
    wine "$build/window_driver.exe" drop "$window" "$(winpath "$bank")" </dev/null >/dev/null 2>&1
    # The driver's answer may come while the window converts (it looks at its
    # queue to stay alive): the document, renamed into place whole, tells the
    # end, and its modification time when it was finished.
    for _ in $(seq 3000); do [[ -s $document ]] && break; pause 0.1; done
    [[ -s $document ]] || { echo "the window wrote no document" >&2; exit 1; }
    awk -v a="$t0" -v b="$(stat -c %.6Y "$document")" 'BEGIN { printf "%.3f", b - a }'
}
time_cli() {
    rm -f "$work/cli.mml"
    local t0
    t0=$(now)
    wine "$build/dls2mml.exe" -q -o "$(winpath "$work/cli.mml")" "$(winpath "$bank")" </dev/null >/dev/null 2>&1
    since "$t0"
}
# One unmeasured pair warms the page cache and Wine.
time_window >/dev/null
time_cli >/dev/null
cmp -s "$work/bank_dls.mml" "$work/cli.mml" || { echo "the window's document differs from the command line's" >&2; exit 1; }

echo "bank: $bytes bytes (make_sample_bank --size $size --seed 1); $(nproc) cores; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-5s %10s %10s %7s\n' pair "window s" "cli s" ratio
windows=() clis=() ratios=()
for i in $(seq "$pairs"); do
    if ((i % 2)); then w=$(time_window); c=$(time_cli); else c=$(time_cli); w=$(time_window); fi
    r=$(awk -v w="$w" -v c="$c" 'BEGIN { printf "%.3f", w / c }')
    windows+=("$w") clis+=("$c") ratios+=("$r")
    printf '%-5s %10s %10s %7s\n' "$i" "$w" "$c" "$r"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf '%-5s %10s %10s %7s\n' median "$(median "${windows[@]}")" "$(median "${clis[@]}")" "$(median "${ratios[@]}")"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
wine "$build/window_driver.exe" key "$window" 0x1B </dev/null >/dev/null 2>&1 || true
