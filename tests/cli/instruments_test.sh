#!/usr/bin/env bash
# End-to-end checks of choosing instruments: -l numbering a bank's
# instruments with what each costs in wave data, --instruments=LIST writing
# the document of the smaller bank (which -d gives back), its summary fields,
# and the refusals, which write nothing. (tests/bank/outside_reader.cpp
# reads cut banks with a DLS reader we did not write.)
#   bash tests/cli/instruments_test.sh path/to/dls2mml path/to/make_sample_bank
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=$(realpath "$1")
MAKE_BANK=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# shellcheck source=../support/cli_checks.sh
. "$HERE/../support/cli_checks.sh"

"$MAKE_BANK" Piano.DLS >/dev/null || exit 1
"$MAKE_BANK" shared.dls --size 300000 --shared --level2 >/dev/null || exit 1

# --- -l: numbered instruments and their wave bytes ---
run -l Piano.DLS
check "-l bank: the count and the distinct wave bytes" grep -q '^  instruments: 2, using 29692 bytes of wave data (each wave once)$' out.txt
check "-l bank: instrument 1 numbered, with its wave bytes" \
    grep -q '^    1  melodic bank 0/0 program 80, 2 regions, 15436 wave bytes: Soft Lead$' out.txt
check "-l bank: instrument 2" grep -q '^    2  drums   bank 0/0 program 0, 4 regions, 14256 wave bytes: Synth Kit$' out.txt
run -l shared.dls
lead=$(sed -n 's/^    1  .* \([0-9]*\) wave bytes: Soft Lead$/\1/p' out.txt)
kit=$(sed -n 's/^    2  .* \([0-9]*\) wave bytes: Synth Kit$/\1/p' out.txt)
pad=$(sed -n 's/^    3  .* \([0-9]*\) wave bytes: Shared Pad$/\1/p' out.txt)
distinct=$(sed -n 's/^  instruments: 3, using \([0-9]*\) bytes.*/\1/p' out.txt)
samples=$(sed -n 's/^  waves: .*; \([0-9]*\) sample bytes$/\1/p' out.txt)
check "-l: shared waves counted for each instrument, once in the total" \
    sh -c "test -n '$pad' && test $((lead + kit + pad)) -gt '$distinct' && test '$distinct' -eq '$samples'"

# --- a cut: the document of the smaller bank; -d gives it back ---
run --instruments=1 -o lead.mml Piano.DLS
check "--instruments=1: exit 0, a document" sh -c "test $rc -eq 0 && test -s lead.mml"
bank_bytes=$(stat -c %s Piano.DLS)
check "summary: the usual fields, then the whole bank's bytes and 1/2" \
    grep -Eq "^Piano.DLS	lead.mml	[0-9]+	[0-9]+	[0-9]+	$bank_bytes	1/2$" out.txt
"$BIN" -q -d -o lead.dls lead.mml
cut_bytes=$(stat -c %s lead.dls)
check "-d gives back a smaller bank, of the size the summary gives" \
    sh -c "test $cut_bytes -lt $bank_bytes && cut -f3 out.txt | grep -qx $cut_bytes"
run -l lead.dls
check "-l of the smaller bank: one instrument, its waves only" \
    sh -c "grep -q '^  instruments: 1, using 15436 bytes' out.txt && grep -q '^  waves: 2; .* 15436 sample bytes$' out.txt && ! grep -q Synth out.txt"
run -v --instruments=d0 -o kit.mml Piano.DLS
check "-v says the reduction" grep -q '^dls2mml: Piano.DLS: kept 1 of 2 instruments and 4 of 6 waves: the bank is [0-9.]*% of '"$bank_bytes"' bytes$' err.txt
run --instruments=p80,d0 -o all.mml Piano.DLS
"$BIN" -q -d -o all.dls all.mml
check "every instrument: the bank unchanged" cmp -s all.dls Piano.DLS
"$BIN" -q -o plain.mml Piano.DLS
check "every instrument: the document of the whole bank" cmp -s all.mml plain.mml
cat Piano.DLS | "$BIN" --instruments=2 -c >piped.mml 2>err.txt
check "from standard input to standard output: the same document" cmp -s piped.mml kit.mml
run --instruments=3 -o pad.mml shared.dls
"$BIN" -q -d -o pad.dls pad.mml
check "a level 2 bank with shared waves: the pad alone" sh -c "test $rc -eq 0 && test \$(stat -c %s pad.dls) -lt \$(stat -c %s shared.dls)"
run -l pad.dls
check "the pad's bank: one instrument, two waves" sh -c "grep -q '^  instruments: 1,' out.txt && grep -q '^  waves: 2;' out.txt"

# --- refusals: exit 1, a message, nothing written ---
printf 'RIFF\004\000\000\000XXXX' >notdls.dls
head -c 1000 Piano.DLS >short.dls
while IFS='|' read -r list file says; do
    rm -f refused.mml
    run "--instruments=$list" -o refused.mml "$file"
    check "refused: '$list' on $file: exit 1, says '$says', writes nothing" \
        sh -c "test $rc -eq 1 && grep -q -- \"$says\" err.txt && ! test -e refused.mml"
done <<'EOF'
3|Piano.DLS|Piano.DLS: cannot choose instruments: there is no instrument 3: the bank holds 2 instruments
1-5|Piano.DLS|there is no instrument 5: the bank holds 2 instruments
|Piano.DLS|--instruments: the list of instruments is empty
1,,2|Piano.DLS|--instruments: an empty item
2-1|Piano.DLS|--instruments: the range \"2-1\" runs backwards
x|Piano.DLS|--instruments: \"x\" is not an instrument number
p81|Piano.DLS|no instrument of the bank is melodic program 81 of bank 0/0
1|notdls.dls|notdls.dls: cannot choose instruments: not a sound DLS bank: byte 8: a RIFF 'XXXX' form
1|short.dls|short.dls: cannot choose instruments: not a sound DLS bank: byte 1000: the input ends
EOF
run --instruments=1 -d lead.mml
check "--instruments with -d: a usage error" sh -c "test $rc -eq 2 && grep -q 'applies to converting only' err.txt"
run --help
check "--help tells the list's form" sh -c "grep -q -- '--instruments=LIST' out.txt && grep -q 'pP:M/L' out.txt"
check "--help fits 80 columns" test "$(awk 'length($0) > 79' out.txt | wc -l)" -eq 0

[ "$failures" = 0 ]
