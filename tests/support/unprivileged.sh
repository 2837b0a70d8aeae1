# Sourced by the command-line tests that check what an unprivileged user (uid
# and gid 65534) meets, which root's rights would hide: unreadable inputs,
# folders it may not write, process limits.
#
# That user runs a copy of the program placed in the test's scratch folder
# (the current folder), since the build may sit where it cannot go: a home
# folder of mode 0700, say. The scratch folder's own modes are the test's
# business; the copy's folder is opened to everyone here.
#
#   as_nobody COMMAND ARGS...     runs COMMAND as that user
#   unprivileged_ready PROGRAM    true when the copy is in place and runs as
#                                 that user: NOBODY_BIN is its path; otherwise
#                                 false, with the reason in NOBODY_WHY.
#                                 Done once; later calls give the same answer.

as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }

unprivileged_ready() {
    [ -n "${NOBODY_BIN:-}" ] && return 0
    [ -n "${NOBODY_WHY:-}" ] && return 1
    if ! command -v setpriv >/dev/null; then
        NOBODY_WHY="no setpriv here"
        return 1
    fi
    if ! as_nobody true 2>/dev/null; then
        NOBODY_WHY="cannot switch to user 65534 (not root, or not allowed)"
        return 1
    fi
    local folder copy
    folder=$(pwd)/unprivileged
    copy=$folder/$(basename "$1")
    if ! { mkdir -p "$folder" && cp "$1" "$copy" && chmod 755 "$folder" "$copy"; }; then
        NOBODY_WHY="cannot copy the program into the scratch folder"
        return 1
    fi
    if ! as_nobody "$copy" --version >/dev/null 2>&1; then
        NOBODY_WHY="user 65534 cannot run a program in the scratch folder $(pwd) (a folder above it is closed to that user)"
        return 1
    fi
    NOBODY_BIN=$copy
}
