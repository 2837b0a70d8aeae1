#!/usr/bin/env bash
# End-to-end checks of the command line as a filter and as a conventional
# tool: standard input and output, write failures on standard output, option
# parsing, the note on inputs that are not DLS banks, -l, progress and help.
#   bash tests/cli/cli_modes_test.sh path/to/dls2mml path/to/make_sample_bank
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=$(realpath "$1")
MAKE_BANK=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# shellcheck source=../support/cli_checks.sh
. "$HERE/../support/cli_checks.sh"
# Runs a command on a terminal (a pseudo-terminal for standard input and
# output). script hands its command line to a shell, so each word is quoted:
# the program's path may hold spaces.
on_terminal() {
    local line
    printf -v line '%q ' "$@"
    timeout 20 script -qec "$line" /dev/null </dev/null
}
can_use_terminal() { command -v script >/dev/null && on_terminal true >/dev/null 2>&1; }

"$MAKE_BANK" Piano.DLS >/dev/null || exit 1
"$MAKE_BANK" big.dls --size 1200000 --seed 4 >/dev/null || exit 1
"$BIN" -q Piano.DLS big.dls || exit 1
cp Piano_DLS.mml expected.mml
cp Piano.DLS bank.orig

# --- filter mode: standard input to standard output ---
cat Piano.DLS | "$BIN" -c >piped.mml 2>err.txt
check "cat bank | dls2mml -c: the document on standard output" same piped.mml expected.mml
"$BIN" -c - <Piano.DLS >dash.mml 2>err.txt
check "dls2mml -c - < bank: the document" same dash.mml expected.mml
"$BIN" <Piano.DLS >bare.mml 2>err.txt
check "dls2mml < bank, no FILE: the document on standard output, nothing else" \
    sh -c "cmp -s bare.mml expected.mml && ! test -s err.txt"
"$BIN" -o named.mml <Piano.DLS >out.txt 2>err.txt
check "dls2mml -o PATH < bank writes PATH" same named.mml expected.mml
"$BIN" -d <Piano_DLS.mml >back.dls 2>err.txt
check "dls2mml -d < document: the bank on standard output" same back.dls bank.orig
"$BIN" -d - <Piano_DLS.mml | cmp -s - bank.orig
check "dls2mml -d - < document, through a pipe" test $? -eq 0
"$BIN" -t <Piano_DLS.mml >out.txt 2>err.txt
check "dls2mml -t < document: OK" sh -c "test $? -eq 0 && grep -q '^(standard input): OK$' out.txt"
# --verify while writing to standard output: the spool (or the bytes on their
# way out) is checked, and the document is the one written without it.
"$BIN" -c --verify Piano.DLS big.dls >verified.mml 2>err.txt
check "-c --verify: exit 0, the same documents" sh -c "test $? -eq 0 && cat expected.mml big_dls.mml | cmp -s - verified.mml"
cat big.dls | "$BIN" --verify >verified.mml 2>err.txt
check "cat bank | dls2mml --verify: the document on standard output" sh -c "test $? -eq 0 && cmp -s verified.mml big_dls.mml"
if mkfifo out.fifo 2>/dev/null; then
    cat out.fifo >fifo.mml &
    "$BIN" -q --verify -o out.fifo big.dls 2>err.txt
    rc=$?
    wait
    check "--verify -o FIFO: checked on the way out, exit 0, the document" sh -c "test $rc -eq 0 && cmp -s fifo.mml big_dls.mml"
    rm -f out.fifo
else
    skip "--verify -o FIFO (no mkfifo)"
fi
"$BIN" -c Piano.DLS - big.dls <big.dls >three.mml 2>err.txt
cat Piano_DLS.mml big_dls.mml big_dls.mml >three.expected
check "files and - mixed, in order" same three.mml three.expected
"$BIN" -q -t - <Piano.DLS 2>err.txt
check "dls2mml -t < bank: a fault, exit 1" sh -c "test $? -eq 1 && grep -q '^dls2mml: (standard input): ' err.txt"

if can_use_terminal; then
    on_terminal "$BIN" -t - >term.txt 2>&1
    check "-t - on a terminal: refused at once, exit 1" sh -c "test $? -eq 1 && grep -q 'standard input is a terminal' term.txt"
    on_terminal "$BIN" >term.txt 2>&1
    check "no FILE on a terminal: refused" sh -c "test $? -eq 1 && grep -q 'standard input is a terminal' term.txt"
    on_terminal "$BIN" -d -c Piano_DLS.mml >term.txt 2>&1
    check "-d -c with a terminal on standard output: refused" \
        sh -c "test $? -eq 1 && grep -q 'not writing a bank to a terminal' term.txt"
    on_terminal "$BIN" -c Piano.DLS >term.txt 2>&1
    check "a document (text) may go to a terminal" test $? -eq 0
else
    skip "terminal checks: no pseudo-terminal here"
fi

# --- standard output: failed writes and -o - ---
run_full() { "$BIN" "$@" >/dev/full 2>err.txt; rc=$?; }
if [ -w /dev/full ]; then
    run_full Piano.DLS
    check "summary to a full standard output: exit 1 with a message" \
        sh -c "test $rc -eq 1 && grep -q '^dls2mml: standard output: write failed' err.txt"
    run_full --help
    check "--help to a full standard output: exit 1" sh -c "test $rc -eq 1 && grep -q 'write failed' err.txt"
    run_full -V
    check "--version to a full standard output: exit 1" test "$rc" -eq 1
    run_full -t Piano_DLS.mml
    check "-t lines to a full standard output: exit 1" test "$rc" -eq 1
    run_full -c Piano.DLS
    check "the document to a full standard output: exit 1" sh -c "test $rc -eq 1 && grep -q 'disk full' err.txt"
    run_full -l Piano_DLS.mml
    check "-l to a full standard output: exit 1" test "$rc" -eq 1
else
    skip "/dev/full not available"
fi
run -o - Piano.DLS
check "-o - writes the document to standard output, no file named -" \
    sh -c "test $rc -eq 0 && cmp -s out.txt expected.mml && test ! -e ./-"
run -d -o - Piano_DLS.mml
check "-d -o - writes the bank to standard output" sh -c "test $rc -eq 0 && cmp -s out.txt bank.orig"

# --- conventional options ---
run -k Piano.DLS
check "-k is accepted and keeps the input" sh -c "test $rc -eq 0 && cmp -s Piano.DLS bank.orig"
run -f Piano.DLS
check "-f is accepted when converting (documents are overwritten anyway)" sh -c "test $rc -eq 0 && cmp -s Piano_DLS.mml expected.mml"
run --verb Piano.DLS
check "--verb is --verbose" sh -c "test $rc -eq 0 && grep -q 'stream is' err.txt"
run --qui --no-prog Piano.DLS
check "abbreviated long options" sh -c "test $rc -eq 0 && ! test -s out.txt"
run Piano.DLS -q
check "options after the files" sh -c "test $rc -eq 0 && ! test -s out.txt"
run -qoshort.mml Piano.DLS
check "bundled short options with the path attached" sh -c "test $rc -eq 0 && cmp -s short.mml expected.mml"
run -- -q
check "-- ends the options: -q is a file" sh -c "test $rc -eq 1 && grep -q '^dls2mml: -q: ' err.txt"
for case in "--bogus=1|unrecognized option '--bogus=1'" "--bogus|unrecognized option" "-x Piano.DLS|invalid option" \
    "--ver Piano.DLS|ambiguous" "--quiet=1 Piano.DLS|doesn't allow an argument" "-o|requires an argument" \
    "-T 0 Piano.DLS|number of threads" "-T x Piano.DLS|number of threads" "--threads=|number of threads" \
    "-d -l x|-d and -l cannot be combined" "--verify -d x|--verify applies to converting only" "-l -c Piano.DLS|-l writes nothing"; do
    args=${case%%|*}
    words=${case#*|}
    # shellcheck disable=SC2086
    run $args
    check "usage error '$args': exit 2, '$words'" \
        sh -c "test $rc -eq 2 && grep -q -- \"$words\" err.txt && grep -q 'Try .dls2mml --help.' err.txt && ! test -s out.txt"
done
"$BIN" -q --verify -o verified.mml - <Piano.DLS 2>err.txt
check "--verify -o PATH < bank: checked against what was read" sh -c "test $? -eq 0 && cmp -s verified.mml expected.mml"
run -T 1 -q -o t1.mml Piano.DLS
check "-T 1: the same document" sh -c "test $rc -eq 0 && cmp -s t1.mml expected.mml"
run --threads=2 -q -o t2.mml big.dls
check "--threads=2: the same document" sh -c "test $rc -eq 0 && cmp -s t2.mml big_dls.mml"

# --- inputs that are not DLS banks: a note, converted byte for byte all the same ---
echo hello >x.dls
gzip -c Piano.DLS >bank.dls.gz
cp Piano_DLS.mml again.dls
head -c 20000 Piano.DLS >cut.dls
for f in x.dls bank.dls.gz again.dls; do
    run "$f"
    check "$f: exit 0 and the note on standard error" \
        sh -c "test $rc -eq 0 && test \"\$(cat err.txt)\" = \"dls2mml: $f: not a DLS bank (converted anyway)\""
done
run cut.dls
check "a cut bank: a note naming the byte" \
    sh -c "test $rc -eq 0 && grep -q '^dls2mml: cut.dls: damaged DLS bank, byte 20000: .* (converted anyway)$' err.txt"
mkdir quiet && cp x.dls cut.dls quiet/
(cd quiet && "$BIN" -q x.dls cut.dls >../out.txt 2>../err.txt)
check "-q silences the note" sh -c "test $? -eq 0 && ! test -s err.txt && ! test -s out.txt"
check "the documents are the same with and without the note" \
    sh -c "cmp -s x_dls.mml quiet/x_dls.mml && cmp -s cut_dls.mml quiet/cut_dls.mml"
run Piano.DLS
check "a DLS bank: no note" sh -c "test $rc -eq 0 && ! test -s err.txt"
"$BIN" <x.dls >stdin_x.mml 2>err.txt
check "the note for standard input" grep -q '^dls2mml: (standard input): not a DLS bank (converted anyway)$' err.txt

# --- -l: a look inside ---
doc_size=$(stat -c %s Piano_DLS.mml)
bank_size=$(stat -c %s Piano.DLS)
stream_size=$(sed -n 2p Piano_DLS.mml | sed 's/.*(\([0-9]*\) \([0-9]*\))$/\2/')
before=$(ls | sort | tr '\n' ' ')
run -l Piano_DLS.mml
row=$(sed -n 2p out.txt | awk '{print $1, $2, $3, $5}')
check "-l document: bank, stream and document bytes, name" \
    sh -c "test $rc -eq 0 && test '$row' = '$bank_size $stream_size $doc_size Piano_DLS.mml'"
check "-l document: a ratio" grep -q '[0-9]\.[0-9]%' out.txt
check "-l: a header line" sh -c "head -1 out.txt | grep -q 'bank.*stream.*document.*ratio.*name'"
run -lv big_dls.mml
check "-lv document: counts the frames (3 for 1.2 MB)" sh -c "test $rc -eq 0 && grep -q '^  frames: 3$' out.txt"
run -l Piano.DLS
row=$(sed -n 2p out.txt | awk '{print $1, $2, $3, $5}')
check "-l bank: the same sizes, converted in memory" \
    sh -c "test $rc -eq 0 && test '$row' = '$bank_size $stream_size $doc_size Piano.DLS'"
check "-l bank: the instruments" sh -c "grep -q '^  instruments: 2, using 29692 bytes of wave data (each wave once)$' out.txt && \
    grep -q '^    1  melodic bank 0/0 program 80, 2 regions, 15436 wave bytes: Soft Lead$' out.txt && \
    grep -q '^    2  drums   bank 0/0 program 0, 4 regions, 14256 wave bytes: Synth Kit$' out.txt"
check "-l bank: the waves" grep -q '^  waves: 6; PCM 16-bit mono; 11025 22050 Hz; 29692 sample bytes$' out.txt
check "-l bank: the INFO strings" grep -q '^  INAM: dls2mml sample bank$' out.txt
run -l Piano.DLS Piano_DLS.mml x.dls
check "-l several: a total line" sh -c "test $rc -eq 0 && tail -1 out.txt | grep -q '(total)$'"
check "-l on a file that is not a bank: the note, still listed" \
    sh -c "grep -q 'x.dls$' out.txt && grep -q '^dls2mml: x.dls: not a DLS bank$' err.txt"
"$BIN" -l - <Piano_DLS.mml >out.txt 2>err.txt
check "-l - reads standard input" grep -q " $doc_size .* -$" out.txt
"$BIN" -l <Piano.DLS >out.txt 2>err.txt
check "-l < bank lists the collection" grep -q 'Soft Lead' out.txt
head -c -100 Piano_DLS.mml >short_dls.mml
run -l short_dls.mml
check "-l on a cut document: exit 1, says so" sh -c "test $rc -eq 1 && grep -q 'short_dls.mml: .*cut short' err.txt"
rm short_dls.mml
check "-l writes nothing" test "$(ls | sort | tr '\n' ' ')" = "$before"

# --- progress: on a terminal only, or when asked for; cut to the width ---
"$MAKE_BANK" large.dls --size 6m >/dev/null
longname=a-very-long-folder-name-that-goes-on-and-on-and-on-and-on-and-on
mkdir "$longname" && cp large.dls "$longname/"
COLUMNS=64 "$BIN" --progress -q "$longname/large.dls" 2>err.txt
tr '\r' '\n' <err.txt | grep -v '^ *$' >lines.txt
check "--progress draws lines" grep -q 'MiB/s' lines.txt
check "progress lines fit the width less one" test "$(awk 'length($0) > 63' lines.txt | wc -l)" -eq 0
check "a long name gives way, keeping its end" grep -q '^\.\.\.[^ ]*/large\.dls: ' lines.txt
check "progress: bytes done of the total and time left" grep -q 'of 6\.0 MiB ([0-9]*%), [0-9.]* MiB/s, [0-9]*:[0-9][0-9] left' lines.txt
check "progress: the line is wiped at the end" test "$(tail -c 1 err.txt | od -An -c | tr -d ' ')" = '\r'
"$BIN" --progress -q -t "$longname/large_dls.mml" 2>err.txt
check "--progress for -t" grep -q 'MiB/s' err.txt
"$BIN" --progress -q -d -o large.back "$longname/large_dls.mml" 2>err.txt
check "--progress for -d" sh -c "grep -q 'MiB/s' err.txt && cmp -s large.back large.dls"
cat large.dls | "$BIN" --progress -q >piped_large.mml 2>err.txt
check "progress from a pipe: bytes done and rate, no total" \
    sh -c "grep -q '[0-9] MiB, [0-9.]* MiB/s' err.txt && ! grep -q ' of ' err.txt"
"$BIN" -q large.dls 2>err.txt
check "no progress when standard error is not a terminal" test ! -s err.txt
if can_use_terminal; then
    on_terminal "$BIN" -f large.dls >term.txt 2>&1
    check "progress on a terminal by itself" grep -q 'MiB/s' term.txt
    on_terminal "$BIN" -f --no-progress large.dls >term.txt 2>&1
    check "--no-progress on a terminal" sh -c "! grep -q 'MiB/s' term.txt"
fi

# --- help and version ---
run --help
check "--help: a Usage line first" sh -c "test $rc -eq 0 && head -1 out.txt | grep -q '^Usage: dls2mml \[OPTION\]\.\.\. \[FILE\]\.\.\.$'"
for words in "standard input" "overwritten" "never overwritten without -f" "share the block sort's state" \
    "same order in one run" "number of threads" "--list" "--keep" "--progress" "not a RIFF 'DLS ' bank" \
    "decoding     document, bank, bank bytes" "Exit status"; do
    check "--help says: $words" grep -q -- "$words" out.txt
done
check "--help fits 80 columns" test "$(awk 'length($0) > 79' out.txt | wc -l)" -eq 0
run --version
check "--version: 'dls2mml X.Y.Z' first" sh -c "test $rc -eq 0 && head -1 out.txt | grep -Eq '^dls2mml [0-9]+\.[0-9]+\.[0-9]+$'"
check "--version: a revision line only in its form" sh -c "! grep -q revision out.txt || sed -n 2p out.txt | grep -Eq '^Built from revision [0-9a-f]{7,40}(-modified)?\.$'"

[ "$failures" = 0 ]
