#!/usr/bin/env bash
# Whole-conversion benchmark: dls2mml beside bzip2 -9, lbzip2 -9 -n2, bzip3 -j2,
# xz -6 and zstd -19 on the same files, and its decoder (-t, -d) beside bzip2 -d,
# lbzip2 -d -n2 and bzip3 -d -j2, in one run, printed as a Markdown table.
#
#   bench/compare.sh [-n RUNS] [-b BUILD_DIR] [-s "SIZES_MIB"] [-x] [FILE.dls ...]
#
#   -n RUNS       runs per tool and file; the best wall time counts (default 3)
#   -b BUILD_DIR  where dls2mml and make_sample_bank are (default: build/ in
#                 the repository)
#   -s SIZES      sizes in MiB of the generated banks (default "1 8 32 128";
#                 "" generates none)
#   -x            leave out xz and zstd (most of the time on large banks)
#   FILE.dls      more banks to measure, after the generated ones
#
# dls2mml runs with its default thread count (every core) and with -T 1, and
# also with --verify and as -d -c. Encoding rows are compared with bzip2 -9 and
# lbzip2 -9 -n2, decoding rows with bzip2 -d and lbzip2 -d -n2; a list of
# ratios after the table gives the figures the targets are stated in.
# Generated banks come from make_sample_bank (seed 1). Every tool writes its
# output to a file in a scratch folder, which is removed at the end. Wall time
# is taken around each run; peak resident memory comes from GNU time's %M.
# The runs go round robin (each tool once, then again), so a burst of load from
# elsewhere on the machine hits every tool alike rather than one of them.
set -euo pipefail

runs=3
sizes="1 8 32 128"
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$repo/build"

usage() { sed -n '2,19p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }
die() { echo "compare.sh: $*" >&2; exit 1; }

peers=1
while getopts ":n:b:s:xh" opt; do
    case $opt in
    x) peers=0 ;;
    n) runs=$OPTARG ;;
    b) build=$OPTARG ;;
    s) sizes=$OPTARG ;;
    h) usage; exit 0 ;;
    :) die "-$OPTARG needs a value" ;;
    *) usage >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

[[ $runs =~ ^[1-9][0-9]*$ ]] || die "-n takes a positive count, not '$runs'"
for s in $sizes; do
    [[ $s =~ ^[1-9][0-9]*$ ]] || die "-s takes sizes in whole MiB, not '$s'"
done

dls2mml=$build/dls2mml
make_bank=$build/make_sample_bank
[[ -x $dls2mml ]] || die "no dls2mml in $build (build it, or point -b at the build folder)"
if [[ -n ${sizes// /} ]]; then
    [[ -x $make_bank ]] || die "no make_sample_bank in $build"
fi
[[ -x /usr/bin/time ]] || die "GNU time (/usr/bin/time) is needed for peak memory"
for tool in bzip2 lbzip2 bzip3 xz zstd awk; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
for f in "$@"; do
    [[ -f $f && -r $f ]] || die "cannot read '$f'"
done
[[ -n ${sizes// /} || $# -gt 0 ]] || die "nothing to measure: no sizes and no files"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/dls2mml-compare.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Machine and versions on top: the figures mean little without them.
cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || true)
echo "Machine: $(nproc) cores, ${cpu:-unknown CPU}, $(uname -sr)"
echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)"
rev=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)
bzip2_version=$(bzip2 --help 2>&1 | head -n1 | sed -n 's/.*Version \([^,]*\).*/\1/p')
xz_version=$(xz --version | head -n1 | awk '{ print $NF }')
zstd_version=$(zstd --version | sed -n 's/.* v\([0-9.]*\).*/\1/p')
lbzip2_version=$(lbzip2 --version 2>&1 | head -n1 | awk '{ print $NF }')
bzip3_version=$(bzip3 -V 2>&1 | head -n1 | awk '{ print $NF }')
echo "Versions: dls2mml $rev, bzip2 ${bzip2_version:-?}, lbzip2 ${lbzip2_version:-?}, bzip3 ${bzip3_version:-?}, xz ${xz_version:-?}, zstd ${zstd_version:-?}"
echo "Best of $runs runs each; wall time in seconds, MB = 10^6 bytes, peak RSS in MiB (largest of the runs)."
echo "dls2mml's output is the whole document (Base64 text of the stream); the peers write raw compressed files."
echo

# run NAME OUT CMD...: one timed run; records wall seconds and peak KiB in
# $scratch/NAME.times. stdout goes to OUT.
run() {
    local name=$1 out=$2
    shift 2
    local start end
    start=$EPOCHREALTIME
    if ! /usr/bin/time -f "%M %U" -o "$scratch/rss" "$@" >"$out" 2>"$scratch/err"; then
        echo "compare.sh: $name failed:" >&2
        cat "$scratch/err" >&2
        exit 1
    fi
    end=$EPOCHREALTIME
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') $(tail -n1 "$scratch/rss")" \
        >>"$scratch/$name.times"
}

files=()
for s in $sizes; do
    f=$scratch/bank_${s}MiB.dls
    "$make_bank" "$f" --size $((s * 1048576)) --seed 1 >/dev/null
    files+=("$f")
done
files+=("$@")

tools=(dls2mml dls2mml1 bzip2 lbzip2 bzip3)
((peers)) && tools+=(xz zstd)
tools+=(verify test test1 decode decode1 decodec bunzip2 lbunzip2 bunzip3)
declare -A label=([dls2mml]="dls2mml" [dls2mml1]="dls2mml -T 1" [bzip2]="bzip2 -9" [lbzip2]="lbzip2 -9 -n2" [bzip3]="bzip3 -j2"
    [xz]="xz -6" [zstd]="zstd -19" [test]="dls2mml -t" [test1]="dls2mml -t -T 1" [decode]="dls2mml -d"
    [decode1]="dls2mml -d -T 1" [bunzip2]="bzip2 -d" [lbunzip2]="lbzip2 -d -n2" [bunzip3]="bzip3 -d -j2" [verify]="dls2mml --verify"
    [decodec]="dls2mml -d -c")
declare -A reference=([dls2mml]=bzip2 [dls2mml1]=bzip2 [bzip2]=bzip2 [lbzip2]=bzip2 [bzip3]=bzip2 [xz]=bzip2 [zstd]=bzip2
    [test]=bunzip2 [test1]=bunzip2 [decode]=bunzip2 [decode1]=bunzip2 [bunzip2]=bunzip2 [lbunzip2]=bunzip2 [bunzip3]=bunzip2
    [verify]=bzip2 [decodec]=bunzip2)
# The parallel peer each row is also compared with.
declare -A parallel=([dls2mml]=lbzip2 [dls2mml1]=lbzip2 [bzip2]=lbzip2 [lbzip2]=lbzip2 [bzip3]=lbzip2 [xz]=lbzip2 [zstd]=lbzip2
    [verify]=lbzip2 [test]=lbunzip2 [test1]=lbunzip2 [decode]=lbunzip2 [decode1]=lbunzip2 [decodec]=lbunzip2
    [bunzip2]=lbunzip2 [lbunzip2]=lbunzip2 [bunzip3]=lbunzip2)
ratio_lines=()
bound_lines=()

echo "| File | Input bytes | Tool | Wall s | MB/s | × bzip2 | × lbzip2 | User CPU s | Output bytes | Peak RSS MiB |"
echo "|---|---:|---|---:|---:|---:|---:|---:|---:|---:|"
for f in "${files[@]}"; do
    name=$(basename "$f")
    bytes=$(stat -c %s "$f")
    rm -f "$scratch"/*.times
    for ((r = 1; r <= runs; r++)); do
        run dls2mml "$scratch/dls2mml.line" "$dls2mml" -o "$scratch/out.mml" "$f"
        run dls2mml1 /dev/null "$dls2mml" -T 1 -o "$scratch/out1.mml" "$f"
        run bzip2 "$scratch/out.bz2" bzip2 -9 -c "$f"
        run lbzip2 "$scratch/out.lbz2" lbzip2 -9 -n2 -c "$f"
        run bzip3 "$scratch/out.bz3" bzip3 -j2 -c "$f"
        if ((peers)); then
            run xz "$scratch/out.xz" xz -6 -c "$f"
            run zstd "$scratch/out.zst" zstd -19 -q -c "$f"
        fi
        run verify /dev/null "$dls2mml" -q --verify -f -o "$scratch/outv.mml" "$f"
        run test /dev/null "$dls2mml" -q -t "$scratch/out.mml"
        run test1 /dev/null "$dls2mml" -q -T 1 -t "$scratch/out.mml"
        run decode /dev/null "$dls2mml" -q -f -d -o "$scratch/back.dls" "$scratch/out.mml"
        run decode1 /dev/null "$dls2mml" -q -f -T 1 -d -o "$scratch/back1.dls" "$scratch/out.mml"
        run decodec "$scratch/backc.dls" "$dls2mml" -q -d -c "$scratch/out.mml"
        run bunzip2 "$scratch/back.bz" bzip2 -d -c "$scratch/out.bz2"
        run lbunzip2 "$scratch/back.lbz" lbzip2 -d -n2 -c "$scratch/out.bz2"
        run bunzip3 "$scratch/back.bz3" bzip3 -d -j2 -c "$scratch/out.bz3"
    done
    cmp -s "$scratch/out.mml" "$scratch/out1.mml" || die "dls2mml -T 1 wrote another document than dls2mml"
    cmp -s "$scratch/out.mml" "$scratch/outv.mml" || die "dls2mml --verify wrote another document than dls2mml"
    cmp -s "$scratch/back.dls" "$f" || die "dls2mml -d did not give the bank back"
    cmp -s "$scratch/backc.dls" "$f" || die "dls2mml -d -c did not give the bank back"
    # dls2mml's line: input, output, input bytes, stream bytes, document bytes.
    stream=$(awk -F'\t' 'NF >= 5 { v = $4 } END { print v }' "$scratch/dls2mml.line")
    [[ $stream =~ ^[0-9]+$ ]] || die "could not read the stream length from dls2mml's output"
    declare -A size=(
        [dls2mml]=$(stat -c %s "$scratch/out.mml") [dls2mml1]=$(stat -c %s "$scratch/out1.mml")
        [bzip2]=$(stat -c %s "$scratch/out.bz2") [lbzip2]=$(stat -c %s "$scratch/out.lbz2")
        [bzip3]=$(stat -c %s "$scratch/out.bz3") [bunzip3]=$(stat -c %s "$scratch/back.bz3")
        [verify]=$(stat -c %s "$scratch/outv.mml") [decodec]=$(stat -c %s "$scratch/backc.dls")
        [test]=0 [test1]=0 [decode]=$(stat -c %s "$scratch/back.dls") [decode1]=$(stat -c %s "$scratch/back1.dls")
        [bunzip2]=$(stat -c %s "$scratch/back.bz") [lbunzip2]=$(stat -c %s "$scratch/back.lbz"))
    if ((peers)); then
        size[xz]=$(stat -c %s "$scratch/out.xz")
        size[zstd]=$(stat -c %s "$scratch/out.zst")
    fi
    declare -A best rss user
    for t in "${tools[@]}"; do
        best[$t]=$(awk 'NR == 1 || $1 < m { m = $1 } END { printf "%.3f", m }' "$scratch/$t.times")
        rss[$t]=$(awk '$2 > m { m = $2 } END { print m + 0 }' "$scratch/$t.times")
        user[$t]=$(awk 'NR == 1 || $3 < m { m = $3 } END { printf "%.2f", m }' "$scratch/$t.times")
    done
    for t in "${tools[@]}"; do
        awk -v f="$name" -v n="$bytes" -v t="${label[$t]}" -v w="${best[$t]}"  -v ref="${best[${reference[$t]}]}" \
            -v par="${best[${parallel[$t]}]}" -v o="${size[$t]}" -v k="${rss[$t]}" -v u="${user[$t]}" 'BEGIN {
                rate = w > 0 ? n / 1e6 / w : 0
                ratio = ref > 0 ? w / ref : 0
                pratio = par > 0 ? w / par : 0
                printf "| %s | %d | %s | %.3f | %.1f | %.2f | %.2f | %.2f | %d | %.1f |\n", f, n, t, w, rate, ratio, pratio, u, o, k / 1024
            }'
    done
    ratio_lines+=("$(awk -v f="$name" -v e="${best[dls2mml]}" -v e1="${best[dls2mml1]}" -v lb="${best[lbzip2]}" -v b2="${best[bzip2]}" -v b3="${best[bzip3]}" -v b3d="${best[bunzip3]}" \
        -v v="${best[verify]}" -v t="${best[test]}" -v t1="${best[test1]}" -v d="${best[decode]}" \
        -v d1="${best[decode1]}" -v dc="${best[decodec]}" -v bd="${best[bunzip2]}" -v lbd="${best[lbunzip2]}" 'BEGIN {
        printf "- %s: encode %.2f x lbzip2 -9 -n2, %.2f x bzip3 -j2; -T 1 encode %.2f x bzip2 -9;", f, e / lb, e / b3, e1 / b2
        printf " -t %.2f and -d %.2f x bzip2 -d (%.2f and %.2f x lbzip2 -d -n2, %.2f and %.2f x bzip3 -d -j2);", \
            t / bd, d / bd, t / lbd, d / lbd, t / b3d, d / b3d
        printf " -d -c %.2f x -d -o; --verify %.2f x conversion;", dc / d, v / e
        printf " -T 1 to default: encode %.2fx, -t %.2fx, -d %.2fx faster", e1 / e, t1 / t, d1 / d
    }')")
    peak=0 peak_row=
    for t in dls2mml dls2mml1 verify test test1 decode decode1 decodec; do
        if ((rss[$t] > peak)); then peak=${rss[$t]} peak_row=${label[$t]}; fi
    done
    bound_lines+=("$(awk -v f="$name" -v k="$peak" -v r="$peak_row" 'BEGIN {
        printf "- %s: largest dls2mml peak %.1f MiB (%s): %s", f, k / 1024, r, (k / 1024 <= 64 ? "holds" : "EXCEEDED")
    }')")
done

echo
echo "Ratios (wall time, best runs):"
printf '%s\n' "${ratio_lines[@]}"
echo
echo "Memory bound for dls2mml (peak RSS <= 64 MiB on every row, whatever the input size):"
printf '%s\n' "${bound_lines[@]}"
