#!/usr/bin/env bash
# The Windows programs stand alone: each imports only the system's own DLLs
# (the runtime is linked in), and the window is a window program (no console).
#   check_programs.sh OBJDUMP GUI.exe CLI.exe
set -euo pipefail
objdump=$1 gui=$2 cli=$3
system='^(KERNEL32|USER32|GDI32|SHELL32|msvcrt|ADVAPI32)\.dll$'
status=0
for exe in "$gui" "$cli"; do
    others=$("$objdump" -p "$exe" | awk '/DLL Name:/ { print $3 }' | grep -Eiv "$system" || true)
    if [[ -n $others ]]; then
        echo "FAIL ${exe##*/} needs DLLs the system does not have: $others"
        status=1
    else
        echo "ok   ${exe##*/} imports system DLLs only"
    fi
done
subsystem() { "$objdump" -p "$1" | awk '$1 == "Subsystem" { print $2 }'; }
if [[ $(subsystem "$gui") == 00000002 && $(subsystem "$cli") == 00000003 ]]; then
    echo "ok   window program without console, command line with one"
else
    echo "FAIL subsystems: ${gui##*/} $(subsystem "$gui"), ${cli##*/} $(subsystem "$cli") (want 2 and 3)"
    status=1
fi
exit $status
