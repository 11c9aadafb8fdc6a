#!/usr/bin/env python3
"""The mutation check: do the tests notice small faults in the code?

Plants one small fault at a time in the sources of one part of the project: the rover module
(Sendra2016/, --part module, the default) or the stand-in host and sendra-sim (host/ but the
SDK's own headers, and sim/; --part host). A fault is a relational, arithmetic or logical
operator changed, a literal nudged in its last digit, a sign dropped, a statement left out, two
statements, two table rows or two steps of a function swapped. Each fault is built in a copy of
the project of its own (the normal build is never touched), with warnings as errors as CI
builds, where only what the fault touches is rebuilt. The module's faults are tested by the
module's test programs; a host or sendra-sim fault by every test program that can see it (one
built from the faulty file, or running or loading a program that is), cheapest first, each
built only when its turn comes. A program stops at its first failure, within a time limit. A
fault is killed when a test fails, crashes or runs out of time, and survives when every test
passes; one the compiler refuses does not compile, and is left out.

The faults are a sample, drawn with a fixed seed from all faults the part's sources allow, so
that a run is repeatable; --sample 60 is a prefix of --sample 600. Faults that cannot change
what the code does are listed in tools/mutants-equivalent.txt, keyed by the source text they
change, and are not run. The kill rate counts the other faults that compile.

Usage: tools/mutants.py [--part module|host] [--sample N] [--skip N] [--jobs J]
                        [--min-kill PERCENT] [--file PART] [--match TEXT] [--faults FILE]
                        [--check-equivalent] [--list]
Exit status: 0 when the kill rate reaches --min-kill, 1 below it, 2 when the check cannot run
(the unchanged sources do not build or their tests fail).
"""

import argparse
import decimal
import hashlib
import os
import json
import random
import re
import resource
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EQUIVALENTS = ROOT / "tools" / "mutants-equivalent.txt"
SEED = 2016
# The host's full run: what fits 90 minutes on 2 cores (README, "Mutation check").
HOST_SAMPLE = 240


@dataclass
class Part:
    """Where a part's faults are planted and what tests them."""
    name: str
    base: str        # the folder its faults' paths are relative to ("" for the project's root)
    folders: list    # its source folders, relative to the root
    excluded: list   # folders (relative to the root) whose own files are not its sources
    tests: list      # its fixed test programs, or empty: every test that can see the fault
    targets: list    # what the unchanged copy builds first


PARTS = {
    # The module's suite and the program of its failed memory requests.
    "module": Part("module", "Sendra2016", ["Sendra2016"], [], ["module_tests", "module_alloc_tests"],
                   ["Sendra2016", "stage_assets", "module_tests", "module_alloc_tests"]),
    # The SDK's headers in host/include are the module's interface, not the host's code.
    "host": Part("host", "", ["host", "sim"], ["host/include"], [], ["all"]),
}


# --- Reading the sources ------------------------------------------------------------------

def linux_branch(directive, stack):
    """Follows #if, #else and #endif: whether the lines after directive are compiled for
    Linux. Only _WIN32 is told apart; any other condition counts as true."""
    words = directive.lstrip("#").split()
    if not words:
        return all(stack)
    windows_only = "_WIN32" in directive and "!" not in directive and "ndef" not in words[0]
    if words[0] in ("if", "ifdef", "ifndef"):
        stack.append(not windows_only)
    elif words[0] in ("else", "elif") and stack:
        stack[-1] = not stack[-1]
    elif words[0] == "endif" and stack:
        stack.pop()
    return all(stack)


RAW_STRING = re.compile(r'(?<![\w])(?:u8|[uUL])?R"([^()\\\s]{0,16})\(')


def mask(lines):
    """Each line with comments, string and character literals (raw ones over several lines
    too), preprocessor lines and lines that only Windows compiles blanked (kept at their
    length, so that columns still match the source)."""
    out = []
    in_comment = False
    raw_end = None  # the end of the raw string literal the line is in, if it is in one
    compiled = []  # per open #if: whether its current branch is compiled here
    for line in lines:
        chars = list(line)
        n = len(line)
        if not in_comment and raw_end is None and line.lstrip().startswith("#"):
            linux_branch(line.strip(), compiled)
            out.append(" " * n)
            continue
        if not all(compiled):
            out.append(" " * n)
            continue
        i = 0
        while i < n:
            raw = None if in_comment or raw_end is not None else RAW_STRING.match(line, i)
            if raw_end is not None or raw:
                if raw:
                    raw_end, i = ")" + raw.group(1) + '"', i
                end = line.find(raw_end, i + (raw.end() - i if raw else 0))
                stop = n if end < 0 else end + len(raw_end)
                chars[i:stop] = " " * (stop - i)
                raw_end = raw_end if end < 0 else None
                i = stop
            elif in_comment:
                end = line.find("*/", i)
                stop = n if end < 0 else end + 2
                chars[i:stop] = " " * (stop - i)
                in_comment = end < 0
                i = stop
            elif line.startswith("//", i):
                chars[i:] = " " * (n - i)
                break
            elif line.startswith("/*", i):
                in_comment = True
            elif line[i] in "\"'":
                quote, j = line[i], i + 1
                while j < n and line[j] != quote:
                    j += 2 if line[j] == "\\" else 1
                stop = min(j + 1, n)
                chars[i:stop] = " " * (stop - i)
                i = stop
            else:
                i += 1
        out.append("".join(chars))
    return out


@dataclass
class Mutant:
    path: str        # relative to its part's base folder
    line: int        # 1-based, for the reader
    kind: str
    key_line: str    # the first source line it changes, as written, without indentation
    change: str      # what it changes, e.g. "`<` -> `<=`"
    start: int       # offsets in the file's text
    end: int
    replacement: str
    base: str = ""   # its part's base folder, relative to the project's root

    def source(self):
        """The faulty file, relative to the project's root."""
        return (Path(self.base) / self.path).as_posix()

    def key(self):
        return (self.path, self.key_line, self.change)

    def describe(self):
        return f"{self.path}:{self.line}: {self.change}"


RELATIONAL = {"<": ["<=", ">"], "<=": ["<", ">="], ">": [">=", "<"], ">=": [">", "<="],
              "==": ["!="], "!=": ["=="]}
ARITHMETIC = {"+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"],
              "+=": ["-="], "-=": ["+="], "*=": ["/="], "/=": ["*="]}
LOGICAL = {"&&": ["||"], "||": ["&&"]}
OPERATOR = re.compile(r"<=|>=|==|!=|&&|\|\||\+=|-=|\*=|/=|->\*?|\+\+|--|<<|>>|[<>+\-*/!]")
NUMBER = re.compile(r"(?<![\w.])(0[xX][0-9A-Fa-f]+|(?:\d+\.\d*|\.\d+|\d+)(?:[eE][+-]?\d+)?)[fFuUlL]*(?![\w.])")
# What may stand before a unary minus.
UNARY_AFTER = re.compile(r"(^|[(,{=\[?:*/+<>]|return)\s*$")
BOOLEAN = re.compile(r"\b(true|false)\b")
# An array's size where it is declared: "TYPE name[8]", "TYPE *name[4]", "(&ref)[3]".
DECLARATOR = re.compile(r"^\s*(?:(?:static|const|typedef|extern)\s+)*[A-Za-z_][\w:]*(?:<[^;]*>)?[\s*&]+"
                        r"(?:[A-Za-z_][\w:]*::\*)?[A-Za-z_]\w*(?:\[\d*\])*\[$|\(&\w+\)\[$")
DECLARATION = re.compile(r"^(?:(?:static|const|typedef|extern|using|return|delete|case|goto)\b|"
                         r"[A-Za-z_][\w:]*(?:<[^;]*>)?[\s*&]+[A-Za-z_(])")
ROW = re.compile(r"^\s*\{.*\},?\s*$")


def nudge(literal):
    """The literal with its last digit raised by one: 2.78 -> 2.79, 0.9 -> 1.0, 1e-5 -> 2e-5."""
    if literal[:2].lower() == "0x":
        return "0x%X" % (int(literal, 16) + 1)
    m = re.match(r"^(\d*\.?\d*)([eE][+-]?\d+)?$", literal)
    mantissa, exponent = m.group(1), m.group(2) or ""
    d = decimal.Decimal(mantissa)
    raised = d + decimal.Decimal(1).scaleb(d.as_tuple().exponent)
    text = str(raised)
    if mantissa.endswith(".") and "." not in text:
        text += "."
    return text + exponent


def spaced(code, start, end):
    return start > 0 and code[start - 1] == " " and end < len(code) and code[end] == " "


def is_statement(code):
    """A whole simple statement on one line: ends with ';', parentheses balanced, no
    declaration, return or jump."""
    s = code.strip()
    if not s.endswith(";") or s.count("(") != s.count(")") or "{" in s or "}" in s:
        return False
    if re.match(r"^(?:break|continue|return|else|for|if|while|do)\b|^\(void\)", s):
        return False
    if re.search(r"=\s*(?:delete|default)\s*;$", s):
        return False  # a special member declared, not a statement
    return not DECLARATION.match(s)


def candidates(path, text):
    """Every fault this file allows, in the order of the text."""
    lines = text.split("\n")
    code = mask(lines)
    offsets = [0]
    for line in lines:
        offsets.append(offsets[-1] + len(line) + 1)
    stripped = [line.strip() for line in lines]
    # Lines written alike in one file are told apart by their order.
    seen = {}
    keys = []
    for s in stripped:
        seen[s] = seen.get(s, 0) + 1
        keys.append(s if seen[s] == 1 else f"{s} [#{seen[s]}]")
    for i, s in enumerate(stripped):
        if seen[s] > 1 and keys[i] == s:
            keys[i] = f"{s} [#1]"

    out = []
    for i, c in enumerate(code):
        if not c.strip():
            continue
        found = []  # (kind, col, length, original, [replacements])
        for m in OPERATOR.finditer(c):
            op, a, b = m.group(0), m.start(), m.end()
            if op in RELATIONAL and spaced(c, a, b):
                found.append(("relational", a, b - a, op, RELATIONAL[op]))
            elif op in LOGICAL and spaced(c, a, b):
                found.append(("logical", a, b - a, op, LOGICAL[op]))
            elif op in ARITHMETIC and spaced(c, a, b):
                found.append(("arithmetic", a, b - a, op, ARITHMETIC[op]))
            elif op == "-" and b < len(c) and re.match(r"[\w.(]", c[b]) and UNARY_AFTER.search(c[:a]):
                found.append(("sign", a, 1, "-", [""]))
            elif op == "!" and b < len(c) and c[b] != "=":
                found.append(("logical", a, 1, "!", [""]))
        for m in NUMBER.finditer(c):
            if DECLARATOR.search(c[:m.start()]) and c[m.end():].lstrip().startswith("]"):
                continue
            found.append(("constant", m.start(), len(m.group(1)), m.group(1), [nudge(m.group(1))]))
        for m in BOOLEAN.finditer(c):
            found.append(("constant", m.start(), len(m.group(1)), m.group(1),
                          ["false" if m.group(1) == "true" else "true"]))
        found.sort(key=lambda f: f[1])
        kind_count = {}
        for f in found:
            kind_count[(f[0], f[3])] = kind_count.get((f[0], f[3]), 0) + 1
        # A token that the line has more than once is told by its place among them.
        occurrences = {}
        for kind, col, length, original, replacements in found:
            n = occurrences[(kind, original)] = occurrences.get((kind, original), 0) + 1
            for r in replacements:
                change = f"`{original}` -> `{r}`" + (f" (#{n})" if kind_count[(kind, original)] > 1 else "")
                start = offsets[i] + col
                out.append(Mutant(path, i + 1, kind, keys[i], change, start, start + length, r))

    def indent(i):
        return len(lines[i]) - len(lines[i].lstrip())

    # Statements left out (an empty block keeps an if's body an if's body, and unlike an empty
    # statement draws no warning that the warnings-as-errors build would refuse) and swapped with
    # the next statement at the same depth.
    def begins(i):
        """Whether line i begins a statement rather than continuing the one before."""
        k = i - 1
        while k >= 0 and not code[k].strip():
            k -= 1
        return k < 0 or code[k].rstrip()[-1] in ";{})" or code[k].rstrip().endswith("else")

    for i, c in enumerate(code):
        if is_statement(c) and begins(i):
            start = offsets[i] + indent(i)
            out.append(Mutant(path, i + 1, "delete", keys[i], "statement left out", start,
                              offsets[i] + len(lines[i]), "{}"))
            j = i + 1
            if (j < len(lines) and is_statement(code[j]) and begins(j) and indent(j) == indent(i)
                    and not independent(code[i], code[j])):
                out.append(swap(path, lines, offsets, keys, i, j, "statement"))
        elif ROW.match(c) and c.strip().startswith("{"):
            j = i + 1
            if j < len(lines) and ROW.match(code[j]) and indent(j) == indent(i) and code[j].strip().startswith("{"):
                out.append(swap(path, lines, offsets, keys, i, j, "table row"))

    # Steps of a function swapped: two neighbouring paragraphs (runs of lines between blank
    # lines) at one depth inside a function, each with its braces balanced. The depth is that
    # of the second paragraph's first line; lines of less depth (the head of the enclosing
    # block before the first, its closing braces after the second) stay where they are.
    paragraphs = []
    i = 0
    while i < len(lines):
        if not stripped[i]:
            i += 1
            continue
        j = i
        while j < len(lines) and stripped[j]:
            j += 1
        paragraphs.append((i, j))
        i = j
    for (a0, a1), (b0, b1) in zip(paragraphs, paragraphs[1:]):
        if not path.endswith(".cpp") or b0 != a1 + 1:
            continue
        depth = indent(b0)
        while b1 > b0 and indent(b1 - 1) < depth:
            b1 -= 1
        while a0 < a1 and indent(a0) < depth:
            a0 += 1
        first_a = next((k for k in range(a0, a1) if code[k].strip()), None)
        first_b = next((k for k in range(b0, b1) if code[k].strip()), None)
        if depth < 1 or first_a is None or first_b is None or indent(a0) != depth:
            continue
        blocks = ["".join(code[a0:a1]), "".join(code[b0:b1])]
        if re.fullmatch(r"(\s*(\(void\)\s*\w+|using namespace \w+);)*\s*", blocks[0]):
            continue  # nothing that does anything: (void)x; or using namespace
        if any(b.count("{") != b.count("}") or b.count("(") != b.count(")") for b in blocks):
            continue
        start, end = offsets[a0], offsets[b1 - 1] + len(lines[b1 - 1])
        replacement = "\n".join(lines[b0:b1]) + "\n\n" + "\n".join(lines[a0:a1])
        out.append(Mutant(path, first_a + 1, "step-swap", keys[first_a],
                          f"step swapped with the next step, `{stripped[first_b]}`", start, end, replacement))
    return out


CALL = re.compile(r"[\w>]\s*\(")
PURE = re.compile(r"\b(?:std::(?:sin|cos|atan2|asin|sqrt|fabs)|_V)\s*\(")
ASSIGNMENT = re.compile(r"^\s*([\w.\[\]>-]+?)\s*[-+*/]?=\s*([^=].*);\s*$")


def independent(a, b):
    """Whether two statements are assignments without calls to different places, neither
    reading what the other writes: swapping them cannot change anything."""
    ma, mb = ASSIGNMENT.match(a), ASSIGNMENT.match(b)
    if not ma or not mb or any(CALL.search(PURE.sub("", s)) for s in (a, b)):
        return False
    def reads(stmt, name):
        return re.search(r"(?<![\w.>])" + re.escape(name) + r"(?![\w])", stmt) is not None
    return ma.group(1) != mb.group(1) and not reads(b, ma.group(1)) and not reads(a, mb.group(1))


def swap(path, lines, offsets, keys, i, j, what):
    start, end = offsets[i], offsets[j] + len(lines[j])
    return Mutant(path, i + 1, "swap", keys[i], f"{what} swapped with the next, `{lines[j].strip()}`", start, end,
                  lines[j] + "\n" + lines[i])


def part_sources(root, part):
    found = set()
    for folder in part.folders:
        found.update(p for p in (root / folder).rglob("*") if p.suffix in (".cpp", ".h") and p.is_file())
    return sorted(p for p in found
                  if not any(p.parent == root / e for e in part.excluded))


def all_mutants(root, part):
    out = []
    for p in part_sources(root, part):
        rel = p.relative_to(root / part.base).as_posix()
        for m in candidates(rel, p.read_text()):
            m.base = part.base
            out.append(m)
    return out


def sample(mutants, n, seed=SEED, keyed=False):
    """The first n of the faults in the order of the draw. The module's draw shuffles the list
    of all faults; the host's orders each fault by a hash of its key, so that a change to the
    code moves only the faults it adds or removes and the rest of the sample stays as it was."""
    if keyed:
        def rank(m):
            return hashlib.sha256("\0".join((str(seed), m.source()) + m.key()[1:]).encode()).digest()
        return sorted(mutants, key=rank)[:n]
    order = list(range(len(mutants)))
    random.Random(seed).shuffle(order)
    return [mutants[k] for k in order[:n]]


# --- The list of equivalent faults --------------------------------------------------------

def read_equivalents(path):
    """Entries of 'file:', 'line:', 'change:' and 'why:' lines, separated by blank lines."""
    entries = {}
    if not path.exists():
        return entries
    current = {}
    lineno = 0

    def close():
        if not current:
            return
        missing = [f for f in ("file", "line", "change", "why") if not current.get(f)]
        if missing:
            raise SystemExit(f"{path}:{current['at']}: the entry lacks {', '.join(missing)}")
        entries[(current["file"], current["line"], current["change"])] = current["why"]

    for raw in path.read_text().split("\n"):
        lineno += 1
        if raw.startswith("#"):
            continue
        if not raw.strip():
            close()
            current = {}
            continue
        field, sep, value = raw.partition(": ")
        if not sep or field not in ("file", "line", "change", "why"):
            raise SystemExit(f"{path}:{lineno}: expected 'file: ', 'line: ', 'change: ' or 'why: '")
        current.setdefault("at", lineno)
        current[field] = value.strip()
    close()
    return entries


def entry(m, why="?"):
    return f"file: {m.path}\nline: {m.key_line}\nchange: {m.change}\nwhy: {why}\n"


# --- Building and testing a fault ---------------------------------------------------------

def project_files(root):
    """The project's files as they stand: git's (tracked or not ignored), or without git every
    file outside build folders."""
    try:
        listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                cwd=root, check=True, capture_output=True).stdout.decode().split("\0")
    except (OSError, subprocess.CalledProcessError):
        listed = []
        for folder, dirs, names in os.walk(root):
            rel = Path(folder).relative_to(root)
            dirs[:] = [d for d in dirs if not (rel == Path(".") and (d.startswith("build") or d.startswith(".")))]
            listed.extend((rel / n).as_posix() for n in names)
    return sorted(f for f in listed if f and (root / f).is_file())


@dataclass
class Unit:
    """A test program, or a test that runs a command, as the copy's ctest lists it."""
    name: str
    command: list
    cwd: str
    env: dict
    gtest: bool      # a GoogleTest program, run whole and stopping at its first failure
    binaries: list   # what it runs or loads that the build makes, as ninja targets
    seen: set = None  # the project's files it is built from (relative to the root); None: all
    baseline: float = 0.0  # [s] its run on the unchanged sources


def tests_folder(folder):
    """The source folder whose tests run in a build folder: host for tests/host, sim/serve for
    tests/sim/serve; for one outside tests/, a name that no source path begins with."""
    parts = Path(folder).parts
    return "/".join(parts[1:]) if len(parts) > 1 and parts[0] == "tests" else "\0"


def ninja_paths(text):
    """The paths ninja's tools print one a line, quoted when they hold spaces."""
    return [shlex.split(line)[0] for line in text.splitlines() if line.strip()]


class Worker:
    """A copy of the project and its build, where faults are planted one at a time."""

    def __init__(self, work, index, launcher, make_jobs, part):
        self.make_jobs = make_jobs  # compilers per fault: 2 for a lone worker, else 1
        self.dir = work / f"w{index}"
        self.src = self.dir / "src"
        # The build folder sits in the copy where the project's own does (build/ in its root), so
        # that with ccache's base folder at the project's root the copy's compilations match the
        # normal build's: the copy's first build is then mostly taken from the cache.
        self.build = self.src / "build"
        self.launcher = launcher
        self.part = part
        self.units = []

    def sync(self, files):
        """Makes the copy equal to the project's files, writing only what differs."""
        wanted = set(files)
        for f in files:
            source, copy = ROOT / f, self.src / f
            data = source.read_bytes()
            if not copy.exists() or copy.read_bytes() != data:
                copy.parent.mkdir(parents=True, exist_ok=True)
                copy.write_bytes(data)
                shutil.copymode(source, copy)
        for folder, dirs, names in os.walk(self.src):
            if Path(folder) == self.src:
                dirs[:] = [d for d in dirs if d != self.build.name]
            for n in names:
                rel = (Path(folder) / n).relative_to(self.src).as_posix()
                if rel not in wanted:
                    (Path(folder) / n).unlink()

    def configure(self):
        if (self.build / "build.ninja").exists():
            return
        # Warnings are errors, as in CI: a fault CI's build would refuse does not compile.
        args = ["cmake", "-S", str(self.src), "-B", str(self.build), "-G", "Ninja", "-DSENDRA_WERROR=ON",
                "-DSENDRA_BUILD_BENCH=OFF", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
        if self.launcher:
            args.append("-DCMAKE_CXX_COMPILER_LAUNCHER=" + self.launcher)
        run(args, check=True)

    def make(self, targets, jobs=1, timeout=None):
        return run(["ninja", "-C", str(self.build), f"-j{jobs}"] + targets, timeout=timeout)

    def ninja_tool(self, *args):
        return run(["ninja", "-C", str(self.build), "-t"] + list(args), check=True).output

    def find_units(self):
        """The part's test programs, or for the host every test the copy's ctest lists but
        those of the packages (which need a package made first), each with the files it is
        built from: the inputs ninja knows, and the headers each object was compiled with."""
        if self.part.tests:
            self.units = [Unit(t, [str(self.build / t)], str(self.build), {}, True, self.part.targets)
                          for t in self.part.tests]
            return
        listing = json.loads(run(["ctest", "--test-dir", str(self.build), "--show-only=json-v1"],
                                 check=True).output)
        outputs = {line.rsplit(": ", 1)[0] for line in self.ninja_tool("targets", "all").splitlines()}
        units = {}
        for test in listing.get("tests", []):
            props = {p["name"]: p["value"] for p in test.get("properties", [])}
            command = test.get("command") or []
            # Tests judged by their output or expected to fail (a build that must be refused)
            # are not judged by an exit status here, and cannot see a fault in the code.
            if (not command or props.get("DISABLED") or props.get("FIXTURES_REQUIRED")
                    or props.get("FIXTURES_SETUP") or props.get("WILL_FAIL")
                    or props.get("PASS_REGULAR_EXPRESSION")):
                continue
            gtest = any(a.startswith("--gtest_filter=") for a in command[1:])
            binaries = []
            for arg in command:
                rel = os.path.relpath(os.path.normpath(arg), self.build) if os.path.isabs(arg) else arg
                if rel in outputs:
                    binaries.append(rel)
            if not binaries:
                continue
            name = Path(command[0]).name if gtest else test["name"]
            if name in units:
                continue
            env = dict(e.split("=", 1) for e in props.get("ENVIRONMENT", []) if "=" in e)
            units[name] = Unit(name, command[:1] if gtest else command,
                               props.get("WORKING_DIRECTORY", str(self.build)), env, gtest, binaries)
        deps = {}
        obj = None
        for line in self.ninja_tool("deps").splitlines():
            if line and not line[0].isspace():
                obj = os.path.normpath(os.path.join(self.build, line.split(": #deps")[0]))
                deps[obj] = []
            elif line.strip() and obj:
                deps[obj].append(line.strip())
        src = os.path.normpath(self.src)
        for u in units.values():
            files = set()
            for p in ninja_paths(self.ninja_tool("inputs", *u.binaries)) + u.binaries:
                full = os.path.normpath(os.path.join(self.build, p))
                files.add(full)
                files.update(os.path.normpath(os.path.join(self.build, d)) for d in deps.get(full, []))
            u.seen = {os.path.relpath(f, src) for f in files if f.startswith(src + os.sep)}
        self.units = list(units.values())

    def run_unit(self, u, timeout):
        args = u.command + (["--gtest_fail_fast", "--gtest_brief=1", "--gtest_color=no"] if u.gtest else [])
        return run(args, timeout=timeout, cwd=u.cwd, env=u.env)

    def baseline(self):
        """Runs every unit on the unchanged sources; the name of the first that fails, if one
        does. The host's units are then ordered cheapest first."""
        for u in self.units:
            t0 = time.monotonic()
            r = self.run_unit(u, 900)
            u.baseline = time.monotonic() - t0
            if r.timed_out or r.returncode != 0:
                sys.stderr.write(r.output[-4000:])
                return u.name
        if not self.part.tests:
            self.units.sort(key=lambda u: u.baseline)
        return None

    def units_for(self, m):
        """The units that can see m: first those of the tests' folder of m's folder (tests/host
        for host/src, tests/sim/serve for sim/serve), then the others, each group cheapest
        first."""
        seeing = [u for u in self.units if u.seen is None or m.source() in u.seen]
        own = [u for u in seeing
               if (m.source() + "/").startswith(tests_folder(os.path.relpath(u.cwd, self.build)) + "/")]
        return own + [u for u in seeing if u not in own]

    def try_mutant(self, m, build_limit, time_limit):
        """Plants m, then builds and runs the units that can see it, each in turn, up to the
        first that fails."""
        target = self.src / m.source()
        original = target.read_bytes()
        text = original.decode()
        mutated = text[:m.start] + m.replacement + text[m.end:]
        units = self.units_for(m)
        if not units:
            return "survived", "no test is built from the file"
        try:
            target.write_text(mutated)
            built = set()
            elapsed = 0.0
            for u in units:
                wanted = [b for b in u.binaries if b not in built]
                if wanted:
                    made = self.make(wanted, jobs=self.make_jobs, timeout=build_limit)
                    if made.timed_out:
                        return "error", "the build ran out of time"
                    if made.returncode != 0:
                        return "stillborn", "does not compile"
                    built.update(wanted)
                limit = time_limit(u)
                t0 = time.monotonic()
                tested = self.run_unit(u, limit)
                elapsed += time.monotonic() - t0
                if tested.timed_out:
                    return "killed", f"{u.name} ran out of time ({limit:.0f} s)"
                if tested.returncode < 0:
                    return "killed", f"{u.name} crashed ({signal.Signals(-tested.returncode).name})"
                if tested.returncode != 0:
                    failed = re.findall(r"^\[  FAILED  \] (\S+)", tested.output, re.M)
                    return "killed", (failed[0] if failed and u.gtest else f"{u.name}: exit status {tested.returncode}")
            return "survived", f"all tests pass ({len(units)} programs, {elapsed:.1f} s)"
        finally:
            target.write_bytes(original)


@dataclass
class Ran:
    returncode: int
    output: str
    timed_out: bool


def children_cpu():
    """[s] the processor time of the commands the check ran and waited for so far."""
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


RUNNING = set()  # process groups of the commands running now
RUNNING_LOCK = threading.Lock()
STOPPING = threading.Event()


def stop_all():
    """Ends every command the check started, each by its own process group."""
    STOPPING.set()
    with RUNNING_LOCK:
        for pid in RUNNING:
            try:
                os.killpg(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass


def run(args, check=False, timeout=None, cwd=None, env=None):
    # Different copies of the project share their compiled files in ccache (CCACHE_BASEDIR is
    # set in main, above the project and the copies).
    env = dict(os.environ, CCACHE_NOHASHDIR="1", **(env or {}))
    p = subprocess.Popen(args, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         start_new_session=True)
    with RUNNING_LOCK:
        RUNNING.add(p.pid)
    try:
        out, _ = p.communicate(timeout=timeout)
        timed_out = False
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, _ = p.communicate()
        timed_out = True
    except BaseException:
        os.killpg(p.pid, signal.SIGKILL)
        raise
    finally:
        with RUNNING_LOCK:
            RUNNING.discard(p.pid)
    r = Ran(p.returncode, out.decode(errors="replace"), timed_out)
    if check and (timed_out or p.returncode != 0):
        sys.stderr.write(r.output[-4000:])
        raise SystemExit(2)
    return r


# --- The run --------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--part", choices=sorted(PARTS), default="module",
                    help="where faults are planted: module (Sendra2016/, the default) or host (host/ and sim/)")
    ap.add_argument("--sample", type=int, help="faults drawn from all (default: 600 of the module's, "
                                               f"{HOST_SAMPLE} of the host's)")
    ap.add_argument("--skip", type=int, default=0, help="leave out the first faults of the draw (default 0)")
    ap.add_argument("--seed", type=int, default=SEED, help=f"of the draw (default {SEED})")
    ap.add_argument("--jobs", type=int, default=2, help="faults built and tested at once (default 2)")
    ap.add_argument("--min-kill", type=float, default=90.0, help="kill rate in percent below which the run fails")
    ap.add_argument("--file", help="only the sampled faults in files whose path contains this text")
    ap.add_argument("--match", help="instead of a sample, every fault whose place, change or source line "
                                    "contains this text")
    ap.add_argument("--work", type=Path, default=ROOT / "build-mutants", help="for the copies and their builds")
    ap.add_argument("--list", action="store_true", help="list the sampled faults and do nothing else")
    ap.add_argument("--faults", type=Path, help="instead of a sample, the faults a file lists as the list of "
                                                "equivalent faults does (such as build-mutants/survivors.txt)")
    ap.add_argument("--check-equivalent", action="store_true",
                    help="instead of a sample, every fault listed as equivalent, to check that none is killed")
    args = ap.parse_args()
    part = PARTS[args.part]
    if args.sample is None:
        args.sample = HOST_SAMPLE if part.name == "host" else 600

    everything = all_mutants(ROOT, part)
    equivalents = read_equivalents(EQUIVALENTS)
    # Entries of either part: their paths do not overlap (the module has no host/ or sim/).
    known = {m.key() for p in PARTS.values() for m in (everything if p is part else all_mutants(ROOT, p))}
    stale = [k for k in equivalents if k not in known]
    chosen = sample(everything, args.skip + args.sample, args.seed, keyed=part.name == "host")[args.skip:]
    if args.match:
        chosen = [m for m in everything if args.match in m.describe() or args.match in m.key_line]
    if args.faults:
        listed = read_equivalents(args.faults)
        chosen = [m for m in everything if m.key() in listed]
    if args.check_equivalent:
        chosen = [m for m in everything if m.key() in equivalents]
    if args.file:
        chosen = [m for m in chosen if args.file in m.path]
    kinds = {}
    for m in everything:
        kinds[m.kind] = kinds.get(m.kind, 0) + 1
    print(f"mutants: {len(everything)} faults in {', '.join(f + '/' for f in part.folders)} ("
          + ", ".join(f"{n} {k}" for k, n in sorted(kinds.items())) + f"); {len(chosen)} "
          + ("listed as equivalent" if args.check_equivalent else f"with '{args.match}'" if args.match
             else f"listed in {args.faults}" if args.faults else f"drawn with seed {args.seed}"),
          flush=True)
    for k in stale:
        print(f"mutants: warning: {EQUIVALENTS.name} lists a fault the sources no longer have: "
              f"{k[0]}: `{k[1]}`: {k[2]}", flush=True)
    if args.list:
        for m in chosen:
            mark = "  (equivalent)" if m.key() in equivalents else ""
            print(f"{m.describe()}{mark}\n    {m.key_line}")
        return 0

    to_run = [m for m in chosen if args.check_equivalent or m.key() not in equivalents]
    skipped = len(chosen) - len(to_run)
    launcher = shutil.which("ccache")
    args.work = args.work.resolve()
    os.environ["CCACHE_BASEDIR"] = os.path.commonpath([ROOT, args.work])
    jobs = max(1, min(args.jobs, len(to_run))) if to_run else 1
    workers = [Worker(args.work, i, launcher, 2 if jobs == 1 else 1, part) for i in range(jobs)]
    files = project_files(ROOT)
    t_start = time.monotonic()
    cpu_start = children_cpu()
    for w in workers:
        print(f"mutants: building the unchanged project in {w.dir}", flush=True)
        w.sync(files)
        w.configure()
        built = w.make(part.targets, jobs=2)
        if built.returncode != 0:
            sys.stderr.write(built.output[-4000:])
            print("mutants: the unchanged sources do not build", file=sys.stderr)
            return 2
        w.find_units()
    # The copies' unchanged runs at once: most of a run's time is waiting.
    failures = [None] * len(workers)

    def baseline(k):
        failures[k] = workers[k].baseline()

    setups = [threading.Thread(target=baseline, args=(k,)) for k in range(len(workers))]
    for t in setups:
        t.start()
    for t in setups:
        t.join()
    failed = next((f for f in failures if f), None)
    if failed:
        print(f"mutants: {failed} fails on the unchanged sources", file=sys.stderr)
        return 2
    # Each unit gets ten times what the slowest copy took for it unchanged, at least 30 s.
    slowest = {}
    for w in workers:
        for u in w.units:
            slowest[u.name] = max(slowest.get(u.name, 0.0), u.baseline)

    def time_limit(u):
        return max(30.0, 10 * slowest[u.name])

    build_limit = 900.0
    print(f"mutants: the unchanged tests take {sum(slowest.values()):.1f} s: "
          + ", ".join(f"{u.name} {u.baseline:.1f} s" for u in workers[0].units), flush=True)

    results = [None] * len(to_run)
    lock = threading.Lock()
    next_index = [0]
    done = [0]

    def work(w):
        while not STOPPING.is_set():
            with lock:
                k = next_index[0]
                next_index[0] += 1
            if k >= len(to_run):
                return
            m = to_run[k]
            t0, cpu0 = time.monotonic(), children_cpu()
            outcome, detail = w.try_mutant(m, build_limit, time_limit)
            if STOPPING.is_set():
                return
            with lock:
                results[k] = (outcome, detail)
                done[0] += 1
                # The processor time is the fault's own only while it is the only one running.
                cpu = f", {children_cpu() - cpu0:.0f} s CPU" if len(workers) == 1 else ""
                print(f"[{done[0]:3}/{len(to_run)}] {outcome:9} {m.describe()}: {detail} "
                      f"[{time.monotonic() - t0:.0f} s{cpu}]", flush=True)

    threads = [threading.Thread(target=work, args=(w,)) for w in workers]
    for t in threads:
        t.start()
    try:
        for t in threads:
            while t.is_alive():
                t.join(0.5)
    except KeyboardInterrupt:
        # The workers put their files back as their commands end.
        stop_all()
        for t in threads:
            t.join()
        print("mutants: interrupted", file=sys.stderr)
        return 130
    minutes = (time.monotonic() - t_start) / 60
    cpu_minutes = (children_cpu() - cpu_start) / 60

    count = {}
    for outcome, _ in results:
        count[outcome] = count.get(outcome, 0) + 1
    killed, survived = count.get("killed", 0), count.get("survived", 0)
    errors = count.get("error", 0)
    survivors = [m for m, r in zip(to_run, results) if r[0] == "survived"]
    listed_but_killed = [m for m, r in zip(to_run, results) if r[0] == "killed" and m.key() in equivalents]

    report = args.work / "survivors.txt"
    args.work.mkdir(parents=True, exist_ok=True)
    report.write_text("".join(entry(m) + "\n" for m in survivors))
    if survivors:
        print("\nmutants: faults that no test noticed:")
        for m in survivors:
            text = (ROOT / m.source()).read_text()
            after = (text[:m.start] + m.replacement + text[m.end:])
            line_start = text.rfind("\n", 0, m.start) + 1
            print(f"  {m.describe()}\n      was: {m.key_line}\n      now: "
                  f"{after[line_start:after.find(chr(10), line_start)].strip()}")
        print(f"  (as entries for {EQUIVALENTS.name} in {report})")
    for m in listed_but_killed:
        print(f"mutants: listed as equivalent but killed: {m.describe()}")
    if args.check_equivalent:
        print(f"\nmutants: {len(listed_but_killed)} of the {len(chosen)} faults listed as equivalent were killed; "
              f"{minutes:.1f} min, {cpu_minutes:.1f} min of processor time")
        return 1 if listed_but_killed or errors else 0

    judged = killed + survived
    rate = 100.0 * killed / judged if judged else 100.0
    how = (f"with '{args.match}'" if args.match else f"listed in {args.faults}" if args.faults
           else f"drawn (seed {args.seed})")
    print(f"\nmutants: {len(chosen)} faults {how} of {len(everything)}; {skipped} listed as "
          f"equivalent, {count.get('stillborn', 0)} do not compile, {errors} could not be built in time; "
          f"{killed} of {judged} killed: {rate:.1f}% (at least {args.min_kill:g}% wanted); {minutes:.1f} min, "
          f"{cpu_minutes:.1f} min of processor time")
    if errors:
        return 2
    return 0 if rate >= args.min_kill else 1


def interrupted(signum, frame):
    raise KeyboardInterrupt()


if __name__ == "__main__":
    # A termination ends the run as an interrupt does: commands stopped, sources put back.
    signal.signal(signal.SIGTERM, interrupted)
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        stop_all()
        print("mutants: interrupted", file=sys.stderr)
        sys.exit(130)
