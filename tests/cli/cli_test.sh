#!/usr/bin/env bash
# End-to-end checks of the dls2mml command line.
#   bash tests/cli/cli_test.sh [path/to/dls2mml] [path/to/make_sample_bank]
# Checks that need another user (root ignores file permissions) or a mount are
# skipped with a message where the machine does not allow them.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
BIN=$(realpath "${1:-build/dls2mml}")
MAKE_BANK=$(realpath "${2:-build/make_sample_bank}")
work=$(mktemp -d)
mnt=""
cleanup() {
    [ -n "$mnt" ] && umount "$mnt" 2>/dev/null
    chmod -R u+rwx "$work" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
cd "$work" || exit 1

# shellcheck source=../support/cli_checks.sh
. "$HERE/../support/cli_checks.sh"
# As an unprivileged user, for the permission checks; sets $rc like run.
run_as_nobody() {
    as_nobody "$NOBODY_BIN" "$@" >out.txt 2>err.txt
    rc=$?
}

"$MAKE_BANK" bank.dls || exit 1
"$MAKE_BANK" Other.DLS --seed 2 --size 200000 || exit 1
printf 'aaab%.0s' $(seq 6) >f1.dls  # one pivot draw; its row does not depend on the state
cp f1.dls f1b.dls
printf 'aaab%.0s' $(seq 13) >t.dls  # its row does depend on the state

# --- the sample bank: a RIFF 'DLS ' file whose size field covers the rest; same arguments, same bytes ---
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
check "sample bank: RIFF 'DLS ' header" test "$(head -c 4 bank.dls)$(tail -c +9 bank.dls | head -c 4)" = "RIFFDLS "
check "sample bank: RIFF size is the file size less 8" test "$(le32 bank.dls 4)" -eq $(($(stat -c %s bank.dls) - 8))
check "sample bank: about the size asked for" test "$(stat -c %s Other.DLS)" -gt 190000 -a "$(stat -c %s Other.DLS)" -lt 210000
"$MAKE_BANK" again.dls
check "sample bank: deterministic" same bank.dls again.dls
"$MAKE_BANK" seeded.dls --seed 9
check "sample bank: the seed changes the waves" test "$(cmp bank.dls seeded.dls >/dev/null; echo $?)" -eq 1

# --- one file, the summary line and the document's layout ---
run bank.dls
check "one bank converts, exit 0" test "$rc" -eq 0
size=$(stat -c %s bank.dls)
doc=$(stat -c %s bank_dls.mml)
IFS=$'\t' read -r in_path out_path in_bytes stream_bytes doc_bytes <out.txt
check "summary line: input, output and byte counts" \
    test "$in_path|$out_path|$in_bytes|$doc_bytes" = "bank.dls|bank_dls.mml|$size|$doc"
check "summary stream bytes match the sizes line" \
    test "$(sed -n 2p bank_dls.mml)" = "CuePoint={\"QelDlsData(($size $stream_bytes)"
check "document starts with the banner" test "$(head -1 bank_dls.mml)" = "//========== .DLS_DATA =========="
check "document ends with the footer" test "$(tail -c 5 bank_dls.mml | od -An -c | tr -d ' ')" = '=)"}\n'
check "Base64 lines are 128 characters" \
    test "$(sed -n '3,$p' bank_dls.mml | head -n -1 | awk 'length($0) != 128' | wc -l)" -eq 0
check "no carriage return" test "$(tr -cd '\r' <bank_dls.mml | wc -c)" -eq 0
check "the name rule keeps the case: Other.DLS -> Other_DLS.mml" sh -c '"$0" -q Other.DLS && test -s Other_DLS.mml' "$BIN"

# --- several files in one call share the pivot state ---
mkdir alone
for f in f1 f1b t bank Other; do
    ext=dls
    [ "$f" = Other ] && ext=DLS
    cp "$f.$ext" alone/
    (cd alone && "$BIN" -q "$f.$ext") || fail "convert $f alone"
done
run f1.dls f1b.dls t.dls bank.dls Other.DLS
check "five files in one call, exit 0" test "$rc" -eq 0
check "one summary line per file, in order" \
    test "$(cut -f1 out.txt | tr '\n' ' ')" = "f1.dls f1b.dls t.dls bank.dls Other.DLS "
for f in f1 f1b bank Other; do
    out="${f}_dls.mml"
    [ "$f" = Other ] && out=Other_DLS.mml
    check "$f: same document in one call as alone" same "$out" "alone/$out"
done
# t.dls sorted fresh puts rotation 0 at row 10; after the two draws of f1 and
# f1b it lands on row 0. Only the primary index (stream bytes 12-14, the
# Base64 characters 17-20 of the third line) may differ.
check "t alone: primary index 10" test "$(sed -n 3p alone/t_dls.mml | cut -c17-20)" = AAAK
check "t after two draws: primary index 0" test "$(sed -n 3p t_dls.mml | cut -c17-20)" = AAAA
line3=$(head -2 t_dls.mml | wc -c)
differing=$(cmp -l t_dls.mml alone/t_dls.mml | awk -v lo=$((line3 + 17)) -v hi=$((line3 + 20)) '$1 < lo || $1 > hi' | wc -l)
check "t: the documents differ in the primary index only" test "$differing" -eq 0
check "t: same length either way" test "$(stat -c %s t_dls.mml)" -eq "$(stat -c %s alone/t_dls.mml)"

# --- options ---
run -c bank.dls
check "-c: exit 0" test "$rc" -eq 0
check "-c: standard output is the document" same out.txt bank_dls.mml
"$MAKE_BANK" large.dls --size 12m
"$BIN" -q large.dls
"$BIN" -c large.dls | cat >piped.mml
check "-c through a pipe gives the same document as a file, for a 12 MiB bank" same piped.mml large_dls.mml
rm -f large.dls large_dls.mml piped.mml
run -o elsewhere.mml bank.dls
check "-o: exit 0 and the document at PATH" sh -c "test $rc -eq 0 && cmp -s elsewhere.mml bank_dls.mml"
check "-o: summary names PATH" test "$(cut -f2 out.txt)" = elsewhere.mml
cp bank.dls bank.bin
run --output=named.mml bank.bin
check "--output=PATH works for a name without .dls" sh -c "test $rc -eq 0 && cmp -s named.mml bank_dls.mml"
run bank.bin
check "a name without .dls is refused without -o (exit 1)" sh -c "test $rc -eq 1 && grep -q '^dls2mml: bank.bin: .*\.dls' err.txt"
run -q bank.dls
check "-q prints nothing" sh -c "test $rc -eq 0 && ! test -s out.txt && ! test -s err.txt"
run -h
check "-h: usage on stdout, exit 0" sh -c "test $rc -eq 0 && grep -q Usage out.txt"
run -V
check "-V: version, exit 0" sh -c "test $rc -eq 0 && grep -q 'dls2mml [0-9]' out.txt"
# (No FILE at all is filter mode now: tests/cli_modes_test.sh.)
for args in "-t -d bank.dls" "--bogus bank.dls" "-x bank.dls" "-o" "-o a.mml bank.dls Other.DLS" "-o a.mml -c bank.dls" "-q -v bank.dls"; do
    # shellcheck disable=SC2086
    run $args
    check "usage error exits 2: '$args'" sh -c "test $rc -eq 2 && test -s err.txt && ! test -s out.txt"
done
check "usage errors wrote no document" test ! -e a.mml

# --- failure paths: message, exit 1, no partial document, the rest converted ---
cp bank_dls.mml earlier.mml
mkdir x.dls
printf 'plain' >plain.dls
run bank.dls missing.dls x.dls plain.dls/inner.dls Other.DLS
check "failures: exit 1" test "$rc" -eq 1
check "failures: the other files still converted" test "$(cut -f1 out.txt | tr '\n' ' ')" = "bank.dls Other.DLS "
check "missing file: cannot open" grep -q '^dls2mml: missing.dls: cannot open' err.txt
check "folder named x.dls: is a folder" grep -q '^dls2mml: x.dls: is a folder' err.txt
check "path through a file: cannot open" grep -q '^dls2mml: plain.dls/inner.dls: cannot open' err.txt
check "three failure lines" test "$(wc -l <err.txt)" -eq 3
check "no document for the failures" sh -c "test ! -e missing_dls.mml && test ! -e x_dls.mml"
check "earlier document intact" same bank_dls.mml earlier.mml
check "no temporary files left" test -z "$(find . -name '*.tmp')"

# An input whose length does not fit the stream's 32-bit length field (sparse, never read).
if truncate -s 4G huge.dls 2>/dev/null; then
    run huge.dls
    check "4 GiB input: exit 1, too large, no document" \
        sh -c "test $rc -eq 1 && grep -q '^dls2mml: huge.dls: too large' err.txt && test ! -e huge_dls.mml"
    rm -f huge.dls
else
    skip "4 GiB input: cannot make a sparse file here"
fi

# A folder where the document should go.
mkdir blocked_dls.mml
cp bank.dls blocked.dls
run blocked.dls
check "document path is a folder: exit 1, folder kept" sh -c "test $rc -eq 1 && test -d blocked_dls.mml && grep -q 'cannot create' err.txt"

# Permissions, which root ignores: run those as nobody.
if unprivileged_ready "$BIN"; then
    mkdir ro
    cp bank.dls ro/
    cp bank_dls.mml ro/bank_dls.mml
    chmod 755 ro
    run_as_nobody ro/bank.dls
    check "read-only output folder: exit 1, cannot create output" sh -c "test $rc -eq 1 && grep -q '^dls2mml: ro/bank_dls.mml: cannot create output: cannot create a temporary file in folder ro' err.txt"
    check "read-only output folder: earlier document intact" same ro/bank_dls.mml bank_dls.mml
    check "read-only output folder: nothing left behind" test "$(ls -A ro | wc -l)" -eq 2
    cp bank.dls secret.dls
    chmod 000 secret.dls
    mkdir open
    chmod 777 open
    run_as_nobody -o open/secret.mml secret.dls
    check "unreadable file: exit 1, cannot open" sh -c "test $rc -eq 1 && grep -q '^dls2mml: secret.dls: cannot open' err.txt"
    check "unreadable file: no document" test -z "$(ls -A open)"
else
    skip "read-only output folder and unreadable file: $NOBODY_WHY"
fi

# A full disk: /dev/full, then a small file system when mounting is allowed.
if [ -w /dev/full ]; then
    run -o /dev/full bank.dls
    check "/dev/full: exit 1, disk full" sh -c "test $rc -eq 1 && grep -q '^dls2mml: /dev/full: disk full' err.txt"
    check "/dev/full is still a device" test -c /dev/full
else
    skip "/dev/full not available"
fi
mkdir small
if mount -t tmpfs -o size=64k tmpfs small 2>/dev/null; then
    mnt=$work/small
    "$BIN" -q -o small/out.mml f1.dls
    cp small/out.mml f1_doc.mml
    "$MAKE_BANK" big.dls --size 300000
    run -o small/out.mml big.dls
    check "small file system: exit 1, disk full" sh -c "test $rc -eq 1 && grep -q 'disk full' err.txt"
    check "small file system: earlier document intact" same small/out.mml f1_doc.mml
    check "small file system: nothing left behind" test "$(ls -A small | wc -l)" -eq 1
else
    skip "small file system: mounting is not permitted here"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all command-line checks passed"
