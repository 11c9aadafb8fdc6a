#!/usr/bin/env python3
"""The include graph of the sources, checked: who may include whom, and no cycles.

Reads every quoted #include of the project's C++ files and resolves it as the build does:
first beside the including file, then in the include folders the targets use (host/include,
host, sim, Sendra2016, tests/support). Refuses

- an include found in none of those places;
- a host header reached by a path relative to the including file or climbing out of an include
  folder ("../"): the host's public headers are named "sendra_host/X.h" and its internals
  "src/X.h", from everywhere, so that the build's include folders alone decide who reaches
  what;
- an include across folders that FOLDERS below does not allow (HACKING.md's layout draws the
  same graph): above all the host's internals (host/src) from anywhere but host/ and
  tests/host, and the module's own headers from anywhere but its tests, the mesh generator
  and the floor benchmarks;
- a cycle between units of host/ and sim/, a unit being a header with its source file
  (host/include/sendra_host/X.h with host/src/X.cpp, sim/run/Run.h with sim/run/Run.cpp).

Usage: tools/includes.py [--root DIR] [--graph]
  --graph  prints the folders' dependency graph as the includes have it, and checks nothing.
Exit status: 0 when nothing is refused, 1 otherwise.
"""

import argparse
import os
import re
import sys
from pathlib import Path

SCANNED = ["Sendra2016", "host", "sim", "tests", "tools", "bench", "fuzz"]
SKIPPED = ["tests/fixtures"]
# Where the build looks for a quoted include that is not beside the including file.
INCLUDE_DIRS = ["host/include", "host", "sim", "Sendra2016", "tests/support"]
# Headers that must be named with their folder, never reached beside the including file.
NAMED_ONLY = ["host/src", "host/include/sendra_host"]

# Each folder and the folders it may include besides its own; the longest prefix of a file's
# path names its folder. "sdk" is the stand-in SDK (host/include/*.h), which everything may use.
FOLDERS = {
    "sdk": [],
    "Sendra2016": [],
    "host/include/sendra_host": [],
    "host/src": ["host/include/sendra_host"],
    "sim/output": ["host/include/sendra_host"],
    "sim/session": ["host/include/sendra_host", "sim/output"],
    "sim/render": ["host/include/sendra_host", "sim/session", "sim/output"],
    "sim/run": ["host/include/sendra_host", "sim/session", "sim/output", "sim/render"],
    "sim/inspect": ["host/include/sendra_host", "sim/session", "sim/output"],
    "sim/serve": ["host/include/sendra_host", "sim/session", "sim/output"],
    "sim/app": ["host/include/sendra_host", "sim/session", "sim/output", "sim/render", "sim/run", "sim/inspect",
                "sim/serve"],
    "tests/support": ["host/include/sendra_host"],
    "tests/host": ["host/include/sendra_host", "host/src", "tests/support"],
    "tests/module": ["host/include/sendra_host", "Sendra2016", "tests/support"],
    "tests/sim": ["host/include/sendra_host", "sim", "tests/support"],
    "tests/smoke": ["host/include/sendra_host", "tests/support"],
    "tests/tools": ["host/include/sendra_host", "Sendra2016"],
    "tests": ["host/include/sendra_host", "tests/support"],
    "tools": ["Sendra2016"],
    "tools/windows": ["host/include/sendra_host"],
    "bench": ["host/include/sendra_host", "sim", "Sendra2016", "tests/support"],
    "fuzz": ["host/include/sendra_host", "sim/session"],
}
UNIT_ROOTS = ["host", "sim"]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def under(path, folder):
    return path == folder or path.startswith(folder + "/")


def folder_of(path):
    if under(path, "host/include") and "/" not in path[len("host/include/"):]:
        return "sdk"
    best = ""
    for folder in FOLDERS:
        if under(path, folder) and len(folder) > len(best):
            best = folder
    return best or None


def allowed(source, target):
    """Whether a file of folder source may include one of folder target."""
    if target == "sdk" or source == target:
        return True
    return any(under(target, f) for f in FOLDERS[source])


def unit_of(path):
    """The unit of a file of host/ or sim/: its header and source pair up across the host's
    public and private folders."""
    stem = os.path.splitext(path)[0]
    for folder in NAMED_ONLY:
        if under(path, folder):
            return "host/" + os.path.basename(stem)
    return stem


class Include:
    def __init__(self, file, line, name, target, relative):
        self.file, self.line, self.name, self.target, self.relative = file, line, name, target, relative

    def where(self):
        return f'{self.file}:{self.line}: #include "{self.name}"'


def read_includes(root):
    files = []
    for top in SCANNED:
        for p in sorted((root / top).rglob("*")):
            rel = p.relative_to(root).as_posix()
            if p.suffix in (".h", ".cpp") and p.is_file() and not any(under(rel, s) for s in SKIPPED):
                files.append(rel)
    includes = []
    for rel in files:
        text = (root / rel).read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            name = m.group(1)
            beside = os.path.normpath(os.path.join(os.path.dirname(rel), name))
            if not beside.startswith("..") and (root / beside).is_file():
                includes.append(Include(rel, number, name, Path(beside).as_posix(), True))
                continue
            # A name that climbs out of an include folder ("../src/X.h" from host/include) is
            # relative too: it reaches past what the folders hand out.
            climbs = ".." in Path(name).parts
            for d in INCLUDE_DIRS:
                target = os.path.normpath(os.path.join(d, name))
                if not target.startswith("..") and (root / target).is_file():
                    includes.append(Include(rel, number, name, Path(target).as_posix(), climbs))
                    break
            else:
                includes.append(Include(rel, number, name, None, False))
    return includes


def cycles(includes):
    """Each strongly connected group of units of host/ and sim/ with more than one unit, as a
    list of the includes that close one cycle through it."""
    edges = {}
    for inc in includes:
        if inc.target is None:
            continue
        if not any(under(inc.file, r) for r in UNIT_ROOTS) or not any(under(inc.target, r) for r in UNIT_ROOTS):
            continue
        a, b = unit_of(inc.file), unit_of(inc.target)
        if a != b:
            edges.setdefault(a, {}).setdefault(b, inc)
    # Tarjan's strongly connected components, without recursion.
    index, low, on_stack, stack, groups = {}, {}, set(), [], []
    for start in sorted(edges):
        if start in index:
            continue
        work = [(start, iter(sorted(edges.get(start, {}))))]
        index[start] = low[start] = len(index)
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            child = next(children, None)
            if child is None:
                work.pop()
                if work:
                    low[work[-1][0]] = min(low[work[-1][0]], low[node])
                if low[node] == index[node]:
                    group = []
                    while True:
                        n = stack.pop()
                        on_stack.discard(n)
                        group.append(n)
                        if n == node:
                            break
                    if len(group) > 1:
                        groups.append(sorted(group))
            elif child not in index:
                index[child] = low[child] = len(index)
                stack.append(child)
                on_stack.add(child)
                work.append((child, iter(sorted(edges.get(child, {})))))
            elif child in on_stack:
                low[node] = min(low[node], index[child])
    found = []
    for group in groups:
        # The shortest way back to the group's first unit, found breadth first.
        members, first = set(group), group[0]
        back = {first: None}
        queue = [first]
        cycle = None
        while queue and cycle is None:
            node = queue.pop(0)
            for child, inc in sorted(edges.get(node, {}).items()):
                if child not in members:
                    continue
                if child == first:
                    cycle = [inc]
                    while node != first:
                        prev_inc = back[node]
                        cycle.insert(0, prev_inc)
                        node = unit_of(prev_inc.file)
                    break
                if child not in back:
                    back[child] = inc
                    queue.append(child)
        found.append((group, cycle))
    return found


def check(root):
    includes = read_includes(root)
    problems = []
    for inc in includes:
        if inc.target is None:
            # An include folder this check does not know of would leave its includes unchecked.
            problems.append(f"{inc.where()}: found neither beside the file nor in {', '.join(INCLUDE_DIRS)}")
            continue
        if inc.relative and any(under(inc.target, f) for f in NAMED_ONLY):
            named = "src/" if under(inc.target, "host/src") else "sendra_host/"
            problems.append(f"{inc.where()}: reaches {inc.target} by a relative path; "
                            f"name it \"{named}{os.path.basename(inc.target)}\"")
            continue
        source, target = folder_of(inc.file), folder_of(inc.target)
        if source and target and not allowed(source, target):
            problems.append(f"{inc.where()}: {source} may not include {target} ({inc.target})")
    for group, cycle in cycles(includes):
        path = " -> ".join(unit_of(i.file) for i in cycle) + " -> " + unit_of(cycle[-1].target)
        how = "; ".join(i.where() for i in cycle)
        problems.append(f"include cycle among {', '.join(group)}: {path} ({how})")
    return problems, includes


def graph(includes):
    edges = set()
    for inc in includes:
        if inc.target is None:
            continue
        source, target = folder_of(inc.file), folder_of(inc.target)
        if source and target and source != target:
            edges.add((source, target))
    for source, target in sorted(edges):
        print(f"{source} -> {target}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", default=Path(__file__).resolve().parent.parent, type=Path)
    parser.add_argument("--graph", action="store_true")
    args = parser.parse_args()
    problems, includes = check(args.root)
    if args.graph:
        graph(includes)
        return 0
    for p in problems:
        print(p)
    print(f"includes: {len(includes)} quoted includes checked, {len(problems)} refused")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
