#!/usr/bin/env bash
# Reliability of the command line: nothing lost, nothing left behind.
#   bash tests/cli/reliability_test.sh [path/to/dls2mml] [path/to/make_sample_bank] [path/to/peak_rss]
# Groups: signals, names and links, permissions, memory on paths that cannot
# seek, start-up failures, inputs that change or cannot be read twice.
# Checks that need another user or a mount are skipped where the machine does
# not allow them.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
BIN=$(realpath "${1:-build/dls2mml}")
MAKE_BANK=$(realpath "${2:-build/make_sample_bank}")
PEAK_RSS=$(realpath "${3:-build/peak_rss}")
work=$(mktemp -d)
cleanup() {
    chmod -R u+rwx "$work" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
chmod 777 "$work"
cd "$work" || exit 1
# Sanitizer builds start helper threads of their own and check for leaks at
# exit; neither helps a run under a process limit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0

# shellcheck source=../support/cli_checks.sh
. "$HERE/../support/cli_checks.sh"
# Nothing but the listed names in the folder (hidden names included).
only() { # only FOLDER NAME...
    local folder=$1
    shift
    test "$(cd "$folder" && ls -A | sort | tr '\n' ' ')" = "$(for name in "$@"; do echo "$name"; done | sort | tr '\n' ' ')"
}

"$MAKE_BANK" bank.dls --size 3000000 || exit 1
"$BIN" -c bank.dls >reference.mml || exit 1
chmod 644 bank.dls
printf 'abcabc' >small.dls
"$BIN" -c small.dls >small.ref || exit 1

# --- signals: each one, sent while a temporary exists, removes it; the process dies by it ---
set -m # background runs keep SIGINT, as under an interactive shell
temporary_in() { ls -A "$1" | grep -E '^\.dls2mml-[a-z0-9]{10}\.tmp$' | head -1; }
# Starts "$BIN" ARGS in the background, reading the named pipe sig.fifo that
# is fed FEED and kept open (so the run is still at work when the signal
# comes, however fast it is), and waits until its temporary shows in FOLDER.
start_and_wait() { # start_and_wait FOLDER FEED ARGS...
    local folder=$1 feed=$2 i
    shift 2
    rm -f sig.fifo
    mkfifo sig.fifo
    "$BIN" "$@" >/dev/null 2>err.txt &
    pid=$!
    exec 7>sig.fifo
    cat "$feed" >&7
    for i in $(seq 3000); do
        [ -n "$(temporary_in "$folder")" ] && return 0
        kill -0 $pid 2>/dev/null || return 1
        sleep 0.01
    done
    return 1
}
mkdir -p sig
cp bank.dls sig/bank.dls
echo earlier >sig/bank_dls.mml
cp sig/bank_dls.mml earlier.txt
cp reference.mml sig/doc_dls.mml
echo "earlier bank" >sig/doc.dls
names=""
for signal in TERM INT HUP; do
    number=$(kill -l $signal)
    for job in convert decode; do
        if [ $job = convert ]; then
            start_and_wait sig sig/bank.dls -o sig/bank_dls.mml sig.fifo
            expected=sig/bank_dls.mml
        else
            start_and_wait sig sig/doc_dls.mml -d -f -o sig/doc.dls sig.fifo
            expected=sig/doc.dls
        fi
        started=$?
        names="$names $(temporary_in sig)"
        kill -s $signal $pid 2>/dev/null
        wait $pid
        rc=$?
        exec 7>&-
        check "signals: $signal during $job, a temporary existed" test $started -eq 0
        check "signals: $signal during $job, died by it" test $rc -eq $((128 + number))
        check "signals: $signal during $job, nothing left behind" only sig bank.dls bank_dls.mml doc_dls.mml doc.dls
        if [ $job = convert ]; then
            check "signals: $signal during $job, earlier document intact" same $expected earlier.txt
        else
            check "signals: $signal during $job, earlier bank intact" test "$(cat $expected)" = "earlier bank"
        fi
    done
done
check "signals: every temporary had a name of its own" test "$(echo $names | tr ' ' '\n' | sort -u | wc -l)" -eq 6
# -c spools to an unnamed file: nothing in the temporary folder, nothing on standard output.
# The input comes through a named pipe kept open, so the run is still at
# work when the signal comes, however fast it is.
mkdir -p spool
mkfifo sig.fifo
TMPDIR=$work/spool "$BIN" -c - <sig.fifo >partial.mml 2>/dev/null &
pid=$!
exec 7>sig.fifo
cat bank.dls >&7
sleep 0.3
kill -s TERM $pid
wait $pid
rc=$?
exec 7>&-
rm -f sig.fifo
check "signals: TERM during -c, died by it" test $rc -eq $((128 + 15))
check "signals: TERM during -c, nothing on standard output" test ! -s partial.mml
check "signals: TERM during -c, nothing in the temporary folder" only spool
# A signal ignored by whoever started us (nohup) stays ignored.
(trap '' HUP; exec "$BIN" -q -o sig/nohup.mml sig/bank.dls) &
pid=$!
sleep 0.2
kill -s HUP $pid
wait $pid
check "signals: an ignored HUP stays ignored, the run completes" sh -c "test $? -eq 0 && cmp -s sig/nohup.mml reference.mml"
set +m

# --- names and links ---
mkdir -p names
cd names
cp ../small.dls a.dls
# A leftover with the name an earlier version would have chosen blocks nothing.
bash -c 'touch .a_dls.mml.$$-0.tmp; exec "$0" -q a.dls' "$BIN"
check "names: a planted leftover does not block the run" sh -c "test $? -eq 0 && cmp -s a_dls.mml ../small.ref"
rm -f .a_dls.mml.*
long=$(printf 'n%.0s' $(seq 239)).dls # 243 characters: the document's name is 247
cp a.dls "$long"
run "$long"
check "names: a 243-character bank name converts" sh -c "test $rc -eq 0 && cmp -s '${long%.dls}_dls.mml' ../small.ref"
rm -f n*
# An output that is an input, under any of its names: refused, the input intact.
cp ../small.dls same.dls
cp ../small.ref doc.mml
ln same.dls hard.dls
ln -s same.dls soft.mml
ln doc.mml hard_doc.mml
ln -s doc.mml soft_doc.dls
while IFS='|' read -r what command; do
    eval "$command" >out.txt 2>err.txt
    rc=$?
    check "same file: $what, refused" sh -c "test $rc -eq 1 && grep -q 'input and output are the same file' err.txt"
    check "same file: $what, input intact" sh -c "cmp -s same.dls ../small.dls && cmp -s doc.mml ../small.ref"
done <<'TABLE'
-o names the input|"$BIN" -o same.dls same.dls
-o names the input, --verify|"$BIN" --verify -o same.dls same.dls
-o names a hard link of the input|"$BIN" -o hard.dls same.dls
-o names a symbolic link to the input|"$BIN" -o soft.mml same.dls
-o names the input, read as /dev/fd/3|"$BIN" -o same.dls /dev/fd/3 3<same.dls
-o names the input, read from standard input|"$BIN" -o same.dls - <same.dls
-c appends to the input|"$BIN" -c same.dls >>same.dls
-c appends to the input, read as /dev/fd/3|"$BIN" -c /dev/fd/3 3<same.dls >>same.dls
-d -f -o names the document|"$BIN" -d -f -o doc.mml doc.mml
-d -f -o names a hard link of the document|"$BIN" -d -f -o hard_doc.mml doc.mml
-d -f -o names a symbolic link to the document|"$BIN" -d -f -o soft_doc.dls doc.mml
-d -f -o names the document, read as /dev/fd/3|"$BIN" -d -f -o doc.mml /dev/fd/3 3<doc.mml
-d -c appends to the document|"$BIN" -d -c doc.mml >>doc.mml
-d appends to the document on standard input|"$BIN" -d <doc.mml >>doc.mml
TABLE
check "same file: the links stay as they were" \
    sh -c "test -L soft.mml && test -L soft_doc.dls && test \$(stat -c %h same.dls) -eq 2 && test \$(stat -c %h doc.mml) -eq 2"
# The rule is for files that hold the bytes being read. A character device,
# a pipe or a socket that is both input and output is read and written as
# two streams: nothing to refuse. (An empty input is no document, so -d from
# /dev/null fails, but for that reason.)
while IFS='|' read -r what expected command; do
    eval "$command" 2>err.txt
    rc=$?
    if [ "$expected" = 0 ]; then
        check "written through: $what, exit 0" sh -c "test $rc -eq 0 && ! grep -q 'same file' err.txt"
    else
        check "written through: $what, exit 1, the empty document named" \
            sh -c "test $rc -eq 1 && ! grep -q 'same file' err.txt && grep -q '$expected' err.txt"
    fi
done <<'TABLE'
/dev/null as standard input and output|0|"$BIN" </dev/null >/dev/null
-c /dev/null to /dev/null|0|"$BIN" -c /dev/null >/dev/null
-o /dev/null /dev/null|0|"$BIN" -q -o /dev/null /dev/null
--verify -o /dev/null /dev/null|0|"$BIN" -q --verify -o /dev/null /dev/null
-o /dev/null of /dev/null as /dev/fd/3|0|"$BIN" -q -o /dev/null /dev/fd/3 3</dev/null
-d with /dev/null as standard input and output|(standard input)|"$BIN" -d </dev/null >/dev/null
-d -f -o /dev/null /dev/null|/dev/null|"$BIN" -d -f -o /dev/null /dev/null
TABLE
# One socket as both standard input and output: INPUT goes in at the other
# end of the pair, which is then shut for writing; what comes back is OUTPUT.
on_socket() { # on_socket INPUT OUTPUT ARGS...
    python3 - "$BIN" "$@" 2>err.txt <<'PYTHON'
import socket, subprocess, sys, threading
program, source, target = sys.argv[1:4]
ours, theirs = socket.socketpair()
child = subprocess.Popen([program] + sys.argv[4:], stdin=theirs, stdout=theirs)
theirs.close()
def feed():
    try:
        with open(source, "rb") as f:
            ours.sendall(f.read())
        ours.shutdown(socket.SHUT_WR)
    except OSError:
        pass
threading.Thread(target=feed, daemon=True).start()
with open(target, "wb") as out:
    while piece := ours.recv(1 << 16):
        out.write(piece)
sys.exit(child.wait())
PYTHON
}
if command -v python3 >/dev/null; then
    while IFS='|' read -r what input expected args; do
        # shellcheck disable=SC2086
        on_socket "$input" socket.out $args
        rc=$?
        check "written through: $what, exit 0, the bytes expected" sh -c "test $rc -eq 0 && cmp -s socket.out $expected"
    done <<'TABLE'
a bank in and the document out on one socket|../small.dls|../small.ref|
the same with --verify|../small.dls|../small.ref|--verify
a larger bank, -c -|../bank.dls|../reference.mml|-q -c -
a document in and the bank out on one socket, -d|../small.ref|../small.dls|-d
the same for a larger bank, -d -c -|../reference.mml|../bank.dls|-d -c -
TABLE
    rm -f socket.out
else
    skip "written through: a socket as standard input and output (no python3)"
fi
# A symbolic link as the output: the file it names is replaced, the link stays.
ln -s /proc/self/fd/1 tostdout
"$BIN" -q -o tostdout a.dls >out.mml
check "links: -o to /proc/self/fd/1 writes standard output's file" sh -c "test $? -eq 0 && cmp -s out.mml ../small.ref"
check "links: -o to /proc/self/fd/1 keeps the link" test -L tostdout
mkdir -p real sub
echo earlier >real/doc.mml
ln -s ../real/doc.mml sub/chain1
ln -s chain1 sub/chain2
ln -s real/new.mml dangling.mml
run -o sub/chain2 a.dls
check "links: a chain of relative links, the file at its end replaced" sh -c "test $rc -eq 0 && cmp -s real/doc.mml ../small.ref"
check "links: a chain of relative links, the links stay" sh -c "test -L sub/chain1 && test -L sub/chain2"
run -o dangling.mml a.dls
check "links: a dangling link, the file it names made" sh -c "test $rc -eq 0 && test -L dangling.mml && cmp -s real/new.mml ../small.ref"
check "links: nothing left beside the files replaced" sh -c "test -z \"\$(ls -A real sub . | grep dls2mml-)\""
# Names with control characters are printed escaped: one line, five fields.
cp a.dls "$(printf 'tab\there.dls')"
cp a.dls "$(printf 'line\nfeed.dls')"
run "$(printf 'tab\there.dls')" "$(printf 'line\nfeed.dls')" "$(printf 'gone\tmissing.dls')"
check "names: one summary line for each converted file" test "$(wc -l <out.txt)" -eq 2
check "names: five tab-separated fields in each" test "$(awk -F'\t' 'NF != 5' out.txt | wc -l)" -eq 0
check "names: tab and line feed shown as \\t and \\n" sh -c 'grep -qF "tab\\there.dls" out.txt && grep -qF "line\\nfeed_dls.mml" out.txt'
check "names: every message on a line of its own" sh -c 'test $(grep -vc "^dls2mml: " err.txt) -eq 0 && grep -qF "dls2mml: gone\\tmissing.dls: cannot open" err.txt'
cd ..

# --- an input that changes while it is read, or that cannot be read twice ---
mkdir -p change
"$MAKE_BANK" change/grow.dls --size 16000000 --seed 4 # long enough to be caught at work
"$BIN" -o change/grow.mml change/grow.dls >/dev/null 2>change/err.txt &
pid=$!
for i in $(seq 3000); do [ -n "$(temporary_in change)" ] && break; sleep 0.01; done
head -c 100000 /dev/urandom >>change/grow.dls
wait $pid
rc=$?
check "changed input: exit 0" test $rc -eq 0
check "changed input: a note on standard error" grep -qF "dls2mml: change/grow.dls: file changed while it was read" change/err.txt
# (bytes were added after the RIFF form, so -t would rightly find the bank damaged)
check "changed input: the document is whole" sh -c "\"$BIN\" -q -d -c change/grow.mml >/dev/null"
cat bank.dls | "$BIN" -q --verify -o change/pipe.mml /dev/stdin 2>err.txt
check "verify: an input from a pipe is checked against what was read" sh -c "test $? -eq 0 && cmp -s change/pipe.mml reference.mml"
mkfifo change/fifo
(cat bank.dls >change/fifo &)
timeout 120 "$BIN" -q --verify -o change/fifo.mml change/fifo 2>err.txt
check "verify: a named pipe as input, no hang, same document" sh -c "test $? -eq 0 && cmp -s change/fifo.mml reference.mml"

# --- permissions: the input's bits, never wider than the file replaced ---
mkdir -p perm
cd perm
mode_of() { stat -c %a "$1"; }
umask 022
while IFS='|' read -r what input earlier expected; do
    rm -f p.dls p_dls.mml
    cp ../small.dls p.dls
    chmod "$input" p.dls
    if [ "$earlier" != - ]; then
        echo earlier >p_dls.mml
        chmod "$earlier" p_dls.mml
    fi
    run p.dls
    check "permissions: $what: $(mode_of p_dls.mml), expected $expected" sh -c "test $rc -eq 0 && test \$(stat -c %a p_dls.mml) = $expected"
done <<'TABLE'
a private input gives a private document|600|-|600
group-readable input|640|-|640
an executable input keeps its bits|755|-|755
set-user-ID and sticky bits are dropped|5755|-|755
a private document replaced stays private|644|600|600
a wider document replaced takes the input's bits|600|666|600
TABLE
cp ../small.ref q.mml
chmod 600 q.mml
run -d -f -o q.dls q.mml
check "permissions: -d of a private document writes a private bank" sh -c "test $rc -eq 0 && test \$(stat -c %a q.dls) = 600"
cat ../small.dls | "$BIN" -q -o piped.mml /dev/stdin
check "permissions: an input from a pipe gives what the umask allows" test "$(mode_of piped.mml)" = 644
cd ..
if unprivileged_ready "$BIN"; then
    # A writable target in a folder the user cannot write: the message names
    # the output and the folder, the target stays.
    mkdir -p locked
    cp small.dls locked/in.dls
    echo earlier >locked/out.mml
    chmod 666 locked/out.mml
    chmod 555 locked
    as_nobody "$NOBODY_BIN" -o locked/out.mml locked/in.dls >out.txt 2>err.txt
    rc=$?
    check "permissions: unwritable folder, exit 1" test $rc -eq 1
    check "permissions: unwritable folder, the message names the output and the folder" \
        grep -qF "dls2mml: locked/out.mml: cannot create output: cannot create a temporary file in folder locked: Permission denied" err.txt
    check "permissions: unwritable folder, the target intact" test "$(cat locked/out.mml)" = earlier
    # A private input read by its owner: the document is as private.
    mkdir -p mine
    chown 65534:65534 mine
    cp small.dls mine/own.dls
    chown 65534:65534 mine/own.dls
    chmod 600 mine/own.dls
    as_nobody sh -c "umask 000; exec \"\$0\" -q mine/own.dls" "$NOBODY_BIN"
    check "permissions: as an unprivileged user, a 0600 input under umask 000 gives 0600" \
        test "$(stat -c '%a %u' mine/own_dls.mml)" = "600 65534"
else
    skip "permissions as an unprivileged user: $NOBODY_WHY"
fi

# --- memory on the paths that cannot seek: peak RSS, against the file-to-file run ---
# Holding the stream or the document in memory would add some 12 MiB here;
# the bound allows 4 MiB and an eighth (sanitizer builds vary more) over the
# file-to-file run.
"$MAKE_BANK" mem.dls --size 16000000 --seed 3
peak() { cat rss.txt; }
# Under AddressSanitizer the allocator's quarantine, not the program, sets the
# peak, so the bounds are checked in plain builds only.
if ldd "$BIN" 2>/dev/null | grep -q libasan; then
    check_bound() { skip "$1 (sanitizer build)"; }
else
    check_bound() { check "$@"; }
fi
"$PEAK_RSS" rss.txt "$BIN" -q -o mem_file.mml mem.dls
file_rss=$(peak)
bound=$((file_rss + 4096 + file_rss / 8))
"$PEAK_RSS" rss.txt "$BIN" -q -c mem.dls >mem_c.mml
check_bound "memory: -c to standard output, $(peak) KiB against $file_rss" test "$(peak)" -le $bound
cat mem.dls | "$PEAK_RSS" rss.txt "$BIN" -q -o mem_pipe.mml /dev/stdin
check_bound "memory: a bank from a pipe, $(peak) KiB against $file_rss" test "$(peak)" -le $bound
"$PEAK_RSS" rss.txt "$BIN" -q -d -f -o mem_d.dls mem_file.mml
decode_rss=$(peak)
bound=$((decode_rss + 4096 + decode_rss / 8))
cat mem_file.mml | "$PEAK_RSS" rss.txt "$BIN" -q -d -c - >mem_back.dls
check_bound "memory: -d -c of a document from a pipe, $(peak) KiB against $decode_rss" test "$(peak)" -le $bound
"$PEAK_RSS" rss.txt "$BIN" -q -t - <mem_file.mml
check_bound "memory: -t of a document on standard input, $(peak) KiB against $decode_rss" test "$(peak)" -le $bound
check "memory: every path gives the same document" sh -c "cmp -s mem_file.mml mem_c.mml && cmp -s mem_file.mml mem_pipe.mml"
check "memory: the bank comes back" cmp -s mem_back.dls mem.dls

# --- what -t proves: the document whole, and a RIFF bank's structure ---
mkdir -p checks
cd checks
"$MAKE_BANK" good.dls --size 200000
cp good.dls broken.dls
printf '\377\377\000\000' | dd of=broken.dls bs=1 seek=16 conv=notrunc 2>/dev/null # a list's size reaches past the form
printf 'plain bytes' >plain.dls
"$BIN" -q good.dls broken.dls plain.dls
run -t good_dls.mml
check "-t: a sound DLS bank passes" test $rc -eq 0
run -t broken_dls.mml
check "-t: a damaged RIFF bank in a whole document fails" sh -c "test $rc -eq 1 && grep -q 'damaged RIFF file: byte ' err.txt"
run -t plain_dls.mml
check "-t: other bytes pass, with a note that only the document was checked" \
    sh -c "test $rc -eq 0 && grep -q 'not a RIFF file, so only the document was checked' err.txt"
# One character changed in the first frame's header: the document still
# decodes, to a bank that no longer begins as a RIFF file, and -t says so.
line=$(sed -n 3p good_dls.mml)
changed="${line:0:17}A${line:18}"
awk -v text="$changed" 'NR == 3 { print text; next } { print }' good_dls.mml >changed.mml
run -t changed.mml
check "-t: a changed frame header is not passed in silence" \
    sh -c "grep -q 'damaged RIFF file\|not a RIFF file' err.txt"
cd ..

# --- start-up failures: too few threads gives the same bytes on fewer threads ---
if ! unprivileged_ready "$BIN"; then
    skip "threads under a process limit: $NOBODY_WHY"
elif command -v prlimit >/dev/null && [ "$(ps -u 65534 -o pid= | wc -l)" -eq 0 ]; then
    for n in 1 2 3; do
        as_nobody prlimit --nproc=$n -- "$NOBODY_BIN" -c bank.dls >threads.mml 2>err.txt
        rc=$?
        check "threads: process limit $n, exit 0" test $rc -eq 0
        check "threads: process limit $n, same document" same threads.mml reference.mml
    done
else
    skip "threads under a process limit: user 65534 runs processes already, or no prlimit"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all reliability checks passed"
