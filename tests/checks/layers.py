#!/usr/bin/env python3
"""Every folder includes only the folders below it, and only headers of the
libraries its target links.

    layers.py SOURCE_ROOT LINK_GRAPH... [--configure WORK_DIR]

The folders are layers (LAYERS: each names the folders right beneath it; a
folder may include anything beneath those too), which keeps the libraries
made from them linking without a cycle: the engine, in particular, builds,
tests and fuzzes without the search, the driver or any window.  Every C and
C++ file of the tree is read; an include that reaches outside its folder's
layers is reported with its file and line.

Then the links: a build's link graph (LINK_GRAPH, written by
cmake/link_graph.cmake into each build folder) says which files each target
compiles and which libraries it links.  Every file a target compiles, and
every header those reach, may include a header of another folder only when
the target is the library of that folder or links it (directly, or through
a library that hands it on).  A folder's library is the target that
compiles the folder's sources, or HEADER_HOMES for folders of headers only.
Folders that a build does not compile are not checked against its graph.
With --configure, the fuzz targets' project and the Windows build are
configured in WORK_DIR for their graphs too, so that their files are
checked as well.  The link graphs must have no cycle.
"""

import argparse
import pathlib
import re
import subprocess
import sys

# Folder -> the folders right beneath it.
LAYERS = {
    "platform/win32": set(),
    "platform": {"platform/win32"},
    "platform/sim": {"platform"},
    "platform/framework": {"platform"},
    "res": set(),
    "engine": {"platform/framework"},
    "discovery": {"engine"},
    "driver": {"discovery"},
    "dialogs": {"discovery", "res"},
    "app": {"driver", "dialogs"},
    "tools/paproducer": set(),
    "tools/patool": {"discovery", "tools/paproducer", "platform/sim"},
    "fuzz": {"engine", "tools/paproducer", "platform/sim"},
    "bench": {"tests/support"},
    "tests/support": {"app", "tools/patool", "platform/sim"},
    "tests": {"tests/support", "fuzz"},
    "tests/outputs": {"tests/support", "fuzz"},
    "tests/wine": {"tests/support"},
}
# Folders of headers only, and the library whose users may include them, the
# first of those a build has (none: identifiers any window may use, no
# code).  The boundary is the simulated machine's where there is one, else
# the framework's, over the system's own libraries.
HEADER_HOMES = {"platform": ("simmachine", "framework"), "platform/win32": ("simmachine",), "res": ()}
C_SUFFIXES = {".h", ".c", ".cpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]*)"')
SKIPPED = ("build", ".git")


def beneath(folder):
    """Every folder beneath folder, through the layers."""
    seen, todo = set(), list(LAYERS.get(folder, ()))
    while todo:
        f = todo.pop()
        if f not in seen:
            seen.add(f)
            todo.extend(LAYERS.get(f, ()))
    return seen


def cycle(edges):
    """A cycle of the graph {node: successors} as a list, or None."""
    state = {}

    def visit(node, path):
        state[node] = 1
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                return path[path.index(nxt):] + [nxt] if nxt in path else [node, nxt]
            if nxt not in state:
                found = visit(nxt, path + [nxt])
                if found:
                    return found
        state[node] = 2
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def in_tree(root, path):
    try:
        rel = path.resolve().relative_to(root)
    except ValueError:
        return None
    if any(part.startswith(SKIPPED) for part in rel.parts[:-1]):
        return None
    return rel


_READ = {}  # (root, file) -> its includes: each file is read once


def includes(root, path):
    """(line, text, resolved path relative to root or None) of each quoted
    include of a file."""
    cache = _READ.setdefault(root, {})
    if path not in cache:
        found = []
        text = (root / path).read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            name = m.group(1)
            target = root / name if "/" in name else (root / path).parent / name
            found.append((number, name, in_tree(root, target) if target.exists() else None))
        cache[path] = found
    return cache[path]


def folder_of(rel):
    return rel.parent.as_posix()


def check_layers(root):
    faults = []
    if cycle(LAYERS):
        faults.append("the layers have a cycle: %s" % " -> ".join(cycle(LAYERS)))
    for path in sorted(p for p in root.rglob("*") if p.suffix in C_SUFFIXES):
        rel = in_tree(root, path)
        if rel is None:
            continue
        folder = folder_of(rel)
        if folder not in LAYERS:
            faults.append(f"{rel}: its folder {folder}/ is in no layer; add it to LAYERS")
            continue
        allowed = beneath(folder)
        for number, name, target in includes(root, rel):
            if "/" not in name:
                continue  # the includer's neighbour
            top = folder_of(pathlib.PurePosixPath(name))
            if top != folder and top not in allowed:
                may = ", ".join(sorted(allowed)) or "nothing outside itself"
                faults.append(f"{rel}:{number}: includes {name}; {folder}/ may include {may}")
    return faults


class Graph:
    def __init__(self, name, path, root):
        self.name = name
        self.types, self.sources, self.links, self.hands_on = {}, {}, {}, {}
        for line in pathlib.Path(path).read_text().splitlines():
            kind, target, value = line.split("\t")
            if kind == "target":
                self.types[target] = value
            elif kind == "source":
                rel = in_tree(root, pathlib.Path(value))
                if rel is not None:
                    self.sources.setdefault(target, []).append(rel)
            elif kind == "link":
                self.links.setdefault(target, set()).add(value)
            elif kind == "interface" and not value.startswith("$<LINK_ONLY:"):
                self.hands_on.setdefault(target, set()).add(value)
        self.owners = {}
        for target, files in self.sources.items():
            for rel in files:
                self.owners.setdefault(folder_of(rel), set()).add(target)
        for folder, homes in HEADER_HOMES.items():
            home = next((h for h in homes if h in self.types), None)
            if folder not in self.owners and home:
                self.owners[folder] = {home}

    def sees(self, target):
        """The libraries whose headers target may include: itself, what it
        links, and what those hand on."""
        seen, todo = {target}, list(self.links.get(target, ()))
        while todo:
            lib = todo.pop()
            if lib not in seen:
                seen.add(lib)
                todo.extend(self.hands_on.get(lib, ()))
        return seen

    def ours(self):
        return {t: {l for l in self.links.get(t, ()) if l in self.types} for t in self.types}


def check_links(root, graph):
    faults = []
    loop = cycle(graph.ours())
    if loop:
        faults.append("%s build: the libraries link in a cycle: %s" % (graph.name, " -> ".join(loop)))
    for target, files in sorted(graph.sources.items()):
        sees = graph.sees(target)
        done, todo = set(), list(files)
        while todo:
            rel = todo.pop()
            if rel in done or rel.suffix not in C_SUFFIXES:
                continue
            done.add(rel)
            for number, name, included in includes(root, rel):
                if included is None:
                    continue
                todo.append(included)
                folder = folder_of(included)
                owners = graph.owners.get(folder)
                if folder == folder_of(rel) or not owners or owners & sees:
                    continue
                faults.append(f"{rel}:{number}: includes {name}, but {target} ({graph.name} build) links no "
                              f"library of {folder}/ ({', '.join(sorted(owners))})")
    return faults


def configure(root, work):
    """The link graphs of the fuzz targets' project and the Windows build."""
    graphs = []
    builds = [("fuzz", ["-S", str(root / "fuzz")]),
              ("Windows", ["-S", str(root), "-DCMAKE_TOOLCHAIN_FILE=%s" % (root / "cmake/mingw-w64-x86_64.cmake"),
                           "-DBUILD_TESTING=OFF", "-DCMAKE_BUILD_TYPE=Release"])]
    for name, args in builds:
        folder = pathlib.Path(work) / name
        r = subprocess.run(["cmake"] + args + ["-B", str(folder)], capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError("cannot configure the %s build:\n%s" % (name, r.stdout[-1500:] + r.stderr[-1500:]))
        graphs.append((name, folder / "link_graph.txt"))
    return graphs


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("root")
    p.add_argument("graphs", nargs="*", help="link_graph.txt of a build")
    p.add_argument("--configure", metavar="WORK_DIR", help="configure the fuzz and Windows builds there")
    a = p.parse_args()
    root = pathlib.Path(a.root).resolve()
    faults = check_layers(root)
    graphs = [("native", g) for g in a.graphs]
    try:
        graphs += configure(root, a.configure) if a.configure else []
    except RuntimeError as e:
        print(e, file=sys.stderr)
        return 2
    for name, path in graphs:
        faults += check_links(root, Graph(name, path, root))
    for fault in faults:
        print(fault, file=sys.stderr)
    print("%d folders in layers, %d builds' links read, %d faults" % (len(LAYERS), len(graphs), len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
