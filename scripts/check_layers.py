#!/usr/bin/env python3
"""No folder of the program includes a folder above it.

    check_layers.py SOURCE_ROOT

The program's folders are layers: each may include its own headers and
those of the folders below it, never one above, so that the libraries made
from them link without a cycle (the engine, in particular, builds, tests and
fuzzes without the search, the driver or any window).  Every include of a
program folder's sources is read; each one that reaches outside the folders
allowed to it is reported with its file and line, and the check fails.
"""

import pathlib
import re
import sys

# Folder -> the folders it may include besides itself.  res holds the
# resource identifiers, which the windows of the program share.
ALLOWED = {
    "platform": set(),
    "res": set(),
    "engine": {"platform"},
    "discovery": {"platform", "engine"},
    "driver": {"platform", "engine", "discovery"},
    "dialogs": {"platform", "res", "engine", "discovery"},
    "app": {"platform", "res", "engine", "discovery", "driver", "dialogs"},
}
SOURCE_SUFFIXES = {".h", ".cpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]*)"')


def check(root):
    faults = []
    for folder, allowed in ALLOWED.items():
        sources = sorted(p for p in (root / folder).rglob("*") if p.suffix in SOURCE_SUFFIXES)
        if not sources:
            faults.append(f"{folder}/: no sources; is the list of folders out of date?")
        for path in sources:
            text = path.read_text(encoding="utf-8", errors="replace")
            for number, line in enumerate(text.splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                included = match.group(1)
                # A path without a folder is the includer's neighbour; one
                # that climbs out with ".." is refused like any other.
                if "/" not in included:
                    continue
                top = included.split("/", 1)[0]
                if top == folder or top in allowed:
                    continue
                where = path.relative_to(root).as_posix()
                may = ", ".join(sorted(allowed)) or "nothing outside itself"
                faults.append(f"{where}:{number}: includes {included}; {folder}/ may include {may}")
    return faults


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    faults = check(pathlib.Path(sys.argv[1]).resolve())
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
