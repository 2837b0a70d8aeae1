#!/usr/bin/env bash
# The Windows programs stand alone: each imports only the system's own DLLs
# (the runtime is linked in), and the window is a window program (no console).
# Both carry a version resource and the application manifest (run as the
# user, known to Windows 7 to 11, not DPI-aware); the window also its icon
# group, and it lets drops through from a less privileged shell.
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
# Resource types in the top directory: 0x0E icon group, 0x10 version, 0x18 manifest.
resource_types() {
    "$objdump" -p "$1" | sed -n '/The .rsrc Resource Directory/,$p' |
        awk '/^[0-9a-f]+   Entry: ID:/ { sub(",", "", $4); print $4 }' | tr '\n' ' '
}
# The manifest is UTF-8 text, the version strings UTF-16.
strings_tool=${objdump%objdump}strings
command -v "$strings_tool" >/dev/null || strings_tool=strings
manifest_facts() {
    local f=$1 fact
    for fact in 'level="asInvoker"' '35138b9a-5d96-4fbd-8e2d-a2440225f93a' '4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38' \
                '1f676c76-80e1-4239-95bb-83d0f6d0da78' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' \
                '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">false</dpiAware>'; do
        grep -aqF "$fact" "$f" || echo "missing $fact"
    done
}
version_facts() {
    local f=$1 key strings
    strings=$("$strings_tool" -el "$f")
    for key in FileVersion ProductVersion FileDescription LegalCopyright ProductName OriginalFilename; do
        [[ -n $(grep -A1 -x "$key" <<<"$strings" | sed -n 2p) ]] || echo "missing $key"
    done
    [[ $(grep -A1 -x OriginalFilename <<<"$strings" | sed -n 2p) == "${f##*/}" ]] || echo "OriginalFilename is not ${f##*/}"
}
for exe in "$gui" "$cli"; do
    types=$(resource_types "$exe")
    want="0x000010 0x000018"
    [[ $exe == "$gui" ]] && want="0x00000e $want"
    problems=
    for t in $want; do [[ " $types" == *" $t "* ]] || problems+=" no resource type $t;"; done
    problems+=$(manifest_facts "$exe" | tr '\n' ';')
    problems+=$(version_facts "$exe" | tr '\n' ';')
    if [[ -n $problems ]]; then
        echo "FAIL ${exe##*/} resources:$problems (types: $types)"
        status=1
    else
        echo "ok   ${exe##*/} has its version resource and manifest"
    fi
done
if grep -qw ChangeWindowMessageFilterEx <<<"$("$objdump" -p "$gui")"; then
    echo "ok   ${gui##*/} lets drops through from a less privileged shell"
else
    echo "FAIL ${gui##*/} does not open its message filter for drops"
    status=1
fi
exit $status
