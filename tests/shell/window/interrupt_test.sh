#!/usr/bin/env bash
# The Windows command line under Wine, interrupted at work and among leftovers:
#   interrupt_test.sh dls2mml.exe console_event.exe make_sample_bank.exe
# Checks: leftover temporaries in the target folder (of today's form, and of
# the form that held the process number) neither block a conversion or a
# decode nor are touched by it; Ctrl-C while a conversion or a decode is at
# work removes its temporary, leaves the earlier document or bank as it was,
# and ends the program with STATUS_CONTROL_C_EXIT (0xC000013A; a Unix parent
# of Wine sees its low byte, 58). Ctrl-C comes two ways: as the key's Unix
# signal to the Wine process (its input a pipe kept open, so the run is still
# at work however fast it is), and as a console event sent to the console the
# program shares (on a terminal made by script, as Wine carries control events
# only on one). Standard output is spooled: -c gives the bytes a file gets, a
# faulty document writes nothing, Ctrl-C removes the spool, and memory stays
# near that of a decode to a file. A folder that cannot hold the temporary is
# named in the message.
#
# Environment: WINEPREFIX (made in a scratch folder if unset).
set -uo pipefail

if (($# < 3)); then
    echo "usage: $0 dls2mml.exe console_event.exe make_sample_bank.exe" >&2
    exit 2
fi
cli=$(realpath "$1") event=$(realpath "$2") make_bank=$(realpath "$3")
work=$(mktemp -d /tmp/dls2mml-interrupt.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [[ -z ${WINEPREFIX:-} ]]; then
    export HOME=$work/home WINEPREFIX=$work/pfx
    mkdir -p "$HOME"
    (unset DISPLAY; wineboot -i >/dev/null 2>&1; wineserver -w)
fi

failures=0
check() { # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        failures=$((failures + 1))
    fi
}
# Nothing but the listed names in the folder (hidden names included).
only() { # only FOLDER NAME...
    local folder=$1
    shift
    local want
    want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
    local have
    have=$(cd "$folder" && ls -A | sort | tr '\n' ' ')
    [[ $have == "$want" ]] || { echo "     folder holds: $have"; echo "     expected:     $want"; return 1; }
}
run() { wine "$cli" "$@" </dev/null >/dev/null 2>>err.txt; }
temporary_in() { ls -A "$1" | grep -E '^\.dls2mml-[a-z0-9]{10}\.tmp$' | head -1; }

wine "$make_bank" bank.dls --size 3000000 </dev/null >/dev/null 2>&1 || exit 1
wine "$make_bank" big.dls --size 20000000 </dev/null >/dev/null 2>&1 || exit 1
run -q -o bank_dls.mml bank.dls || exit 1

# --- leftovers ---
mkdir -p left
cp bank.dls left/a.dls
leftovers=(.dls2mml-0000000000.tmp .dls2mml-zzzzzzzzzz.tmp)
for pid in $(seq 4 4 4096); do leftovers+=(".a_dls.mml.$pid-0.tmp"); done
for name in "${leftovers[@]}"; do echo leftover >"left/$name"; done
run -q left/a.dls
check "leftovers: a conversion beside them succeeds" cmp -s left/a_dls.mml bank_dls.mml
run -q -d -o left/b.dls left/a_dls.mml
check "leftovers: a decode beside them succeeds" cmp -s left/b.dls bank.dls
check "leftovers: untouched, nothing else left" only left a.dls a_dls.mml b.dls "${leftovers[@]}"
check "leftovers: their bytes kept" test "$(cat left/.dls2mml-0000000000.tmp left/.a_dls.mml.4096-0.tmp)" = "leftover
leftover"

# --- Ctrl-C as the key's signal, input through a pipe kept open ---
set -m # background runs keep SIGINT, as under an interactive shell
mkdir -p sig
echo earlier >sig/bank_dls.mml
cp bank_dls.mml sig/doc_dls.mml
echo "earlier bank" >sig/doc.dls
names=""
for job in convert decode; do
    rm -f feed
    mkfifo feed
    if [[ $job == convert ]]; then
        wine "$cli" -q -o sig/bank_dls.mml - <feed >/dev/null 2>>err.txt &
        input=bank.dls
    else
        wine "$cli" -q -d -f -o sig/doc.dls - <feed >/dev/null 2>>err.txt &
        input=bank_dls.mml
    fi
    pid=$!
    exec 7>feed
    head -c 2000000 $input >&7
    seen=1
    for _ in $(seq 1000); do
        [[ -n $(temporary_in sig) ]] && { seen=0; break; }
        kill -0 $pid 2>/dev/null || break
        sleep 0.01
    done
    names="$names $(temporary_in sig)"
    kill -INT $pid 2>/dev/null
    wait $pid
    rc=$?
    exec 7>&-
    check "signal: Ctrl-C during $job, a temporary existed" test $seen -eq 0
    check "signal: Ctrl-C during $job, ended with STATUS_CONTROL_C_EXIT's low byte" test $rc -eq 58
    check "signal: Ctrl-C during $job, nothing left behind" only sig bank_dls.mml doc_dls.mml doc.dls
done
set +m
check "signal: earlier document intact" test "$(cat sig/bank_dls.mml)" = earlier
check "signal: earlier bank intact" test "$(cat sig/doc.dls)" = "earlier bank"
check "signal: every temporary had a name of its own" test "$(echo $names | tr ' ' '\n' | sort -u | wc -l)" -eq 2

# --- Ctrl-C as a console event, during the conversion of a large bank ---
mkdir -p console
echo earlier >console/big_dls.mml
rm -f status.txt
script -qec "wine '$event' status.txt console '$cli' -q -o console/big_dls.mml big.dls" /dev/null \
    </dev/null >console.log 2>&1
check "console: Ctrl-C sent while a temporary existed" test -s status.txt
check "console: ended with STATUS_CONTROL_C_EXIT" test "$(tr -d '\r\n' <status.txt 2>/dev/null)" = 0xc000013a
check "console: nothing left behind" only console big_dls.mml
check "console: earlier document intact" test "$(cat console/big_dls.mml)" = earlier

# --- standard output: spooled in the temporary folder, copied out on success ---
# The spool is a hidden file there that goes when its handle closes; Ctrl-C
# removes it too. Peak memory is that of the whole Wine process.
tempdir=$(winepath -u "$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
spools() { ls -A "$tempdir" 2>/dev/null | grep -cE '^\.dls2mml-[a-z0-9]{10}\.tmp$'; }
check "spool: the temporary folder is known ($tempdir)" test -d "$tempdir"
spooled_before=$(spools)
run -q -o big_dls.mml big.dls
wine "$cli" -q -c big.dls </dev/null >c.mml 2>>err.txt
check "spool: -c gives the document written to a file, byte for byte" cmp -s c.mml big_dls.mml
# A document from a pipe was once held whole, to be checked before decoding.
peak() { /usr/bin/time -f %M -o peak.txt wine "$cli" "$@" >peak.out 2>>err.txt; cat peak.txt; }
file_peak=$(peak -q -d -f -o peak.dls big_dls.mml </dev/null)
wine "$cli" -q -d -c big_dls.mml </dev/null >c.dls 2>>err.txt
check "spool: -d -c gives the bank, byte for byte" cmp -s c.dls big.dls
pipe_peak=$(cat big_dls.mml | peak -q -d -c -)
check "spool: -d -c - from a pipe gives the bank, byte for byte" cmp -s peak.out big.dls
echo "     peak memory of -d: $file_peak KB file to file, $pipe_peak KB pipe to standard output" \
     "(document $(($(stat -c %s big_dls.mml) / 1024)) KB)"
check "spool: -d -c - from a pipe holds no more than -d file to file (within 8 MB)" \
    test "$pipe_peak" -le $((file_peak + 8192))
# A document cut short near its end: most of the bank decodes before the fault.
head -c $(($(stat -c %s big_dls.mml) - 4000)) big_dls.mml >cut_dls.mml
wine "$cli" -q -d -c cut_dls.mml </dev/null >cut.out 2>>err.txt
rc=$?
check "spool: a faulty document fails" test $rc -ne 0
check "spool: a faulty document writes nothing to standard output" test ! -s cut.out
set -m
rm -f feed
mkfifo feed
wine "$cli" -q -c - <feed >/dev/null 2>>err.txt &
pid=$!
exec 7>feed
head -c 2000000 bank.dls >&7
seen=1
for _ in $(seq 1000); do
    (($(spools) > spooled_before)) && { seen=0; break; }
    kill -0 $pid 2>/dev/null || break
    sleep 0.01
done
kill -INT $pid 2>/dev/null
wait $pid
rc=$?
exec 7>&-
set +m
check "spool: Ctrl-C during -c, the spool existed" test $seen -eq 0
check "spool: Ctrl-C during -c, ended with STATUS_CONTROL_C_EXIT's low byte" test $rc -eq 58
check "spool: nothing left in the temporary folder" test "$(spools)" -eq "$spooled_before"

# --- a folder that cannot hold the temporary is named ---
: >err.txt
run -q -o absent/out.mml bank.dls
check "folder: a conversion into a missing folder names it" \
    grep -q '^dls2mml: absent/out.mml: cannot create output: cannot create a temporary file in folder absent: ' err.txt

if ((failures)); then
    echo "$failures checks failed"
    sed 's/^/     stderr: /' err.txt | head -20
    exit 1
fi
echo "all interrupt checks passed"
