#!/usr/bin/env bash
# End-to-end checks of the decoding modes: -t, -d (names, -o, -c, -f, '-'),
# --verify, and that a faulty document writes nothing and exits 1.
#   bash tests/cli/decoder_cli_test.sh path/to/dls2mml path/to/make_sample_bank
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=$(realpath "$1")
MAKE_BANK=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# shellcheck source=../support/cli_checks.sh
. "$HERE/../support/cli_checks.sh"
round_trips=0

"$MAKE_BANK" bank.dls >/dev/null || exit 1
"$MAKE_BANK" Big.DLS --size 1200000 --seed 3 >/dev/null || exit 1
printf 'aaab%.0s' $(seq 13) >p.dls      # equal rotations: pivot-dependent primary index
: >empty.dls
head -c 524289 /dev/zero >z.dls          # two blocks
cp bank.dls orig_bank
cp Big.DLS orig_big

# --- convert with --verify, then -t and -d on every document ---
run --verify bank.dls Big.DLS p.dls empty.dls z.dls
check "--verify converts five files" [ "$rc" = 0 ]
run -t bank_dls.mml Big_DLS.mml p_dls.mml empty_dls.mml z_dls.mml
check "-t passes every document" [ "$rc" = 0 ]
check "-t prints OK per file" [ "$(grep -c ': OK$' out.txt)" = 5 ]
mkdir back
for f in bank Big p empty z; do
    doc=$(ls "$f"_*.mml)
    run -d -o "back/$f" "$doc"
    if [ "$rc" = 0 ] && cmp -s "back/$f" "$(ls "$f".* | grep -iv mml)"; then round_trips=$((round_trips + 1)); fi
done
check "-d -o gives every bank back" [ "$round_trips" = 5 ]

# --- default name, refusal to overwrite, -f ---
mv bank.dls moved.dls
run -d bank_dls.mml
check "-d derives bank.dls" [ "$rc" = 0 ] && cmp -s bank.dls orig_bank
run -d bank_dls.mml
check "-d refuses an existing file" [ "$rc" = 1 ] && grep -q "exists (use -f to overwrite)" err.txt
run -d -f bank_dls.mml
check "-d -f overwrites" [ "$rc" = 0 ] && cmp -s bank.dls orig_bank
mv Big.DLS moved_big
run -d Big_DLS.mml
check "-d restores the name's case (Big.DLS)" [ "$rc" = 0 ] && cmp -s Big.DLS orig_big
cp bank_dls.mml noname.mml
run -d noname.mml
check "-d without a derivable name asks for -o" [ "$rc" = 1 ] && grep -q "give the output with -o" err.txt

# --- standard output and standard input ---
"$BIN" -d -c Big_DLS.mml >stdout.bin 2>err.txt
check "-d -c writes the bank to standard output" cmp -s stdout.bin orig_big
"$BIN" -d -c - <Big_DLS.mml >stdin.bin 2>err.txt
check "-d -c - reads standard input" cmp -s stdin.bin orig_big
"$BIN" -t - <bank_dls.mml >out.txt 2>&1
check "-t - reads standard input" grep -q "OK" out.txt
"$BIN" -d - <bank_dls.mml >out.bin 2>err.txt
check "-d - without -o writes the bank to standard output" cmp -s out.bin orig_bank
"$BIN" -d -o fromstdin.dls - <bank_dls.mml >out.txt 2>err.txt
check "-d -o PATH - writes the bank" cmp -s fromstdin.dls orig_bank

# --- faulty documents: exit 1, a precise message, nothing written ---
mkdir bad && cd bad || exit 1
cp ../bank_dls.mml good_dls.mml
sed '3s/^\(.\{40\}\)./\1*/' good_dls.mml >alpha_dls.mml
head -c -3 good_dls.mml >cut_dls.mml
sed '2s/((\([0-9]*\) /((1\1 /' good_dls.mml >sizes_dls.mml
run -t good_dls.mml alpha_dls.mml cut_dls.mml sizes_dls.mml
check "-t exits 1 when one document is bad" [ "$rc" = 1 ]
check "-t still passes the good one" grep -q "good_dls.mml: OK" out.txt
check "-t names the character and its place" grep -q "alpha_dls.mml: line 3, column 41: '\*' is not a character of the Base64 alphabet" err.txt
check "-t names the missing footer" grep -q "cut_dls.mml: .*footer" err.txt
check "-t names the sizes line" grep -q "sizes_dls.mml: .*sizes line gives the input length" err.txt
before=$(ls -A | sort | tr '\n' ' ')
run -d alpha_dls.mml cut_dls.mml sizes_dls.mml
check "-d exits 1 on bad documents" [ "$rc" = 1 ]
check "-d writes nothing for bad documents" [ "$(ls -A | sort | tr '\n' ' ')" = "$before" ]
"$BIN" -d -c alpha_dls.mml >stdout.bin 2>/dev/null
check "-d -c writes nothing to standard output for a bad document" [ ! -s stdout.bin ]
rm stdout.bin
cd .. || exit 1

echo "decoder command-line round trips: $round_trips"
[ "$failures" = 0 ]
