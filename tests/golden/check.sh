#!/usr/bin/env bash
# Golden documents: converts a fixed set of generated inputs and compares the
# SHA-256 of every input and document with tests/golden/SHA256SUMS.
#
#   bash tests/golden/check.sh BUILD_DIR [DLS2MML_OPTION]...   # compare
#   bash tests/golden/check.sh --update BUILD_DIR               # rewrite the sums
#
# Options after BUILD_DIR are passed to every dls2mml call, so the same sums
# must come out for, say, any thread count. The set covers banks alone, bank
# data with pieces of 300 to 2,000 bytes repeated (rotations that agree far
# past their first 256 bytes), blocks whose rotations are not all distinct
# (their primary index depends on the pivot state) late in a large input and
# twice in one input, a last block of p * p bytes with period p (p prime, so
# that only the period p itself shows its equal rotations), and one run of
# several files in which that state carries from file to file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
update=0
if [[ ${1:-} == --update ]]; then update=1; shift; fi
build=$(cd "${1:?usage: check.sh [--update] BUILD_DIR [OPTION]...}" && pwd)
shift
bin=$build/dls2mml
make_bank=$build/make_sample_bank
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

block=524288
periodic() { # periodic PATTERN BYTES: PATTERN repeated, BYTES long
    (set +o pipefail; yes "$1" | tr -d '\n' | head -c "$2")
}
"$make_bank" bank_small.dls >/dev/null
"$make_bank" bank_3m.dls --size 3000000 --seed 2 >/dev/null
"$make_bank" bank_24m.dls --size 24000000 --seed 3 >/dev/null
: >empty.dls
printf abc >abc.dls
periodic aaab 52 >short_periodic.dls
head -c 8 /dev/zero | tr '\0' a >a8.dls
{ head -c $((20 * block)) bank_24m.dls; periodic aaabaabb $block; head -c 300000 bank_3m.dls; } >late_periodic.dls
{ head -c $((5 * block)) bank_3m.dls; periodic aaabaabb $block; head -c $((3 * block)) bank_24m.dls
  periodic aaabaabbaabaabab $block; head -c 1000 bank_small.dls; } >twice_periodic.dls
{ (set +o pipefail; cat bank_small.dls bank_3m.dls | head -c $((2 * block))); periodic aaabaabb $block; periodic aaab 52; } >runs_periodic.dls
# Stretches of a bank, each followed by 2 to 5 copies of a piece of 300 to
# 2,000 bytes (a wave's loop written out, a region copied): about 3 blocks.
for ((i = 0; i < 96; i++)); do
    at=$((i * 237011))
    dd if=bank_24m.dls iflag=skip_bytes,count_bytes skip="$at" count=$((8000 + i * 131 % 9000)) status=none
    dd if=bank_24m.dls iflag=skip_bytes,count_bytes skip=$((at + 30000)) count=$((300 + i * 277 % 1701)) status=none of=piece.bin
    copies=()
    for ((k = 0; k < 2 + i % 4; k++)); do copies+=(piece.bin); done
    cat "${copies[@]}"
done >bank_repeats.dls
rm piece.bin
# Full blocks of bank data, then a last block of p * p bytes with period p.
{ head -c $((2 * block)) bank_3m.dls; periodic abcdefghijklmnopqrstuvwxyz01234 $((31 * 31)); } >periodic_tail_31.dls
{ head -c $((3 * block)) bank_24m.dls; periodic 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz012345678' $((61 * 61)); } >periodic_tail_61.dls
inputs=(empty.dls abc.dls a8.dls short_periodic.dls bank_small.dls bank_3m.dls bank_24m.dls late_periodic.dls twice_periodic.dls runs_periodic.dls
        bank_repeats.dls periodic_tail_31.dls periodic_tail_61.dls)

# Each input alone, one process per file.
mkdir alone together
for f in "${inputs[@]}"; do
    cp "$f" alone/
    "$bin" -q "$@" "alone/$f"
done
# One run of several files: the pivot state carries from each file to the next.
# The last documents of the run end on a block of p * p bytes, period p.
run=(bank_24m.dls late_periodic.dls bank_3m.dls twice_periodic.dls short_periodic.dls abc.dls runs_periodic.dls late_periodic.dls short_periodic.dls
     bank_repeats.dls periodic_tail_31.dls periodic_tail_61.dls)
for i in "${!run[@]}"; do cp "${run[$i]}" "together/$i-${run[$i]}"; done
names=()
for i in "${!run[@]}"; do names+=("together/$i-${run[$i]}"); done
"$bin" -q "$@" "${names[@]}"

# Through standard output and from standard input: the same bytes as a file.
mkdir piped
for f in late_periodic.dls short_periodic.dls bank_3m.dls; do
    "$bin" -q -c "$@" "$f" >"piped/${f%.dls}_dls.mml"
    cmp -s "piped/${f%.dls}_dls.mml" "alone/${f%.dls}_dls.mml" || { echo "golden: -c $f differs from the file" >&2; exit 1; }
done
rm -r piped

sha256sum -- *.dls alone/*.mml together/*.mml >actual.sums
if ((update)); then
    cp actual.sums "$here/SHA256SUMS"
    echo "golden: wrote $(wc -l <actual.sums) sums"
    exit 0
fi
if diff -u "$here/SHA256SUMS" actual.sums; then
    echo "golden: all $(wc -l <actual.sums) inputs and documents match${*:+ (options: $*)}"
else
    echo "golden: MISMATCH${*:+ (options: $*)}" >&2
    exit 1
fi
