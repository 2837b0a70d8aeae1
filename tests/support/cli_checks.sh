# The checks the command-line test scripts share: the tally, check/same, run
# (dls2mml's status in $rc, its output in out.txt and err.txt) and the
# unprivileged user. Sourced after HERE (the script's folder) and BIN are set.
# shellcheck shell=bash

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
# Runs dls2mml, keeping its status in $rc, its output in out.txt and err.txt.
run() {
    "$BIN" "$@" >out.txt 2>err.txt
    rc=$?
}
# shellcheck source=unprivileged.sh
. "$HERE/../support/unprivileged.sh"
