#!/usr/bin/env python3
"""The rooms of the source tree and what each may include.

Every quoted #include in a room's files must name a header of the room itself
or of a room it may use (README, "Layout", draws the same table). The rooms
used must also form no cycle, whatever the table allows. Angle-bracket
includes (the standard library, the platform's headers) are not judged here:
the platform's calls stay in platform/, shell/window/ and the faces by review.

    check_includes.py SOURCE_DIR
"""
import os
import re
import sys

# room: rooms it may include (besides itself). A room is a folder; a nested
# folder (shell/document) is a room of its own, not part of its parent.
ALLOWED = {
    "fault": [],
    "compressor": ["fault"],
    "text": ["fault"],
    "bank": ["fault"],
    "platform": ["fault", "compressor/work_memory.h"],
    "shell/document": ["fault", "compressor", "text", "platform"],
    "checks": ["fault", "compressor", "text", "platform", "shell/document"],
    "shell": ["fault", "compressor", "text", "bank", "platform", "shell/document", "checks"],
    "shell/window": ["fault", "shell", "shell/document", "platform"],
    "library": ["fault", "shell", "shell/document", "bank", "platform", "dls2mml"],
    "cli": ["fault", "shell", "shell/document", "bank", "platform"],
    "web": ["fault", "shell", "shell/document", "bank", "platform"],
    "tools": [],
}
# Headers the build writes (no room of the tree holds them).
GENERATED = {"dls2mml_revision.h", "version_info.rc"}
# Folders that are not rooms of the program: they may include any room.
OUTSIDE = {"tests", "fuzz", "bench", "include", "cmake", "docs", ".git", ".ci"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def room_of(header):
    """The room a quoted include names: its folder, or the public header's."""
    if header.startswith("dls2mml/"):
        return "dls2mml"
    return os.path.dirname(header)


def allows(room, header):
    target = room_of(header)
    if target == room:
        return True
    return any(rule == target or rule == header for rule in ALLOWED[room])


def main():
    root = sys.argv[1]
    faults = []
    uses = {room: set() for room in ALLOWED}
    for room in ALLOWED:
        folder = os.path.join(root, room)
        for name in sorted(os.listdir(folder)):
            if not name.endswith((".h", ".cpp", ".c", ".rc")):
                continue
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                text = f.read()
            for header in INCLUDE.findall(text):
                if header in GENERATED:
                    continue
                if not allows(room, header):
                    faults.append(f"{room}/{name} includes \"{header}\", which {room}/ may not use")
                target = room_of(header)
                if target != room and target in uses:
                    uses[room].add(target)
    # A folder of sources that no rule names is a room nobody has drawn yet.
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root).replace(os.sep, "/")
        top = rel.split("/")[0]
        if top in OUTSIDE or top.startswith("build"):
            dirs[:] = []
            continue
        if rel != "." and rel not in ALLOWED and any(f.endswith((".h", ".cpp", ".c")) for f in files):
            faults.append(f"{rel}/ holds sources but is no room of the layout (give it its rules)")
    # Any cycle among the rooms actually used.
    state = {}

    def visit(room, path):
        state[room] = "open"
        for used in sorted(uses[room]):
            if state.get(used) == "open":
                cycle = path[path.index(used):] + [used]
                faults.append("rooms include one another in a cycle: " + " -> ".join(cycle))
            elif used not in state:
                visit(used, path + [used])
        state[room] = "done"

    for room in ALLOWED:
        if room not in state:
            visit(room, [room])
    for fault in faults:
        print(fault)
    if faults:
        return 1
    print(f"{len(ALLOWED)} rooms, every include allowed, no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
