#!/usr/bin/env bash
# Reliability of the command line: nothing lost, nothing left behind.
#   bash tests/reliability_test.sh [path/to/dls2mml] [path/to/make_sample_bank] [path/to/peak_rss]
# Groups: signals, names and links, permissions, memory on paths that cannot
# seek, start-up failures, inputs that change or cannot be read twice.
# Checks that need another user or a mount are skipped where the machine does
# not allow them.
set -u

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

failures=0
pass() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
skip() { echo "skip $1"; }
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
same() { cmp -s "$1" "$2"; }
run() {
    "$BIN" "$@" >out.txt 2>err.txt
    rc=$?
}
can_drop_privileges() { command -v setpriv >/dev/null && setpriv --reuid=65534 --regid=65534 --clear-groups -- true 2>/dev/null; }
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }
# Nothing but the listed names in the folder (hidden names included).
only() { # only FOLDER NAME...
    local folder=$1
    shift
    test "$(cd "$folder" && ls -A | sort | tr '\n' ' ')" = "$(printf '%s\n' "$@" | sort | tr '\n' ' ')"
}

"$MAKE_BANK" bank.dls --size 3000000 || exit 1
"$BIN" -c bank.dls >reference.mml || exit 1
chmod 644 bank.dls

# --- start-up failures: too few threads gives the same bytes on fewer threads ---
if can_drop_privileges && command -v prlimit >/dev/null && [ "$(ps -u 65534 -o pid= | wc -l)" -eq 0 ]; then
    for n in 1 2 3; do
        as_nobody prlimit --nproc=$n -- "$BIN" -c bank.dls >threads.mml 2>err.txt
        rc=$?
        check "threads: process limit $n, exit 0" test $rc -eq 0
        check "threads: process limit $n, same document" same threads.mml reference.mml
    done
else
    skip "threads: no unprivileged user free of processes, or no prlimit"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all reliability checks passed"
