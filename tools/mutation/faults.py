"""Drawing the faults: the parts of the project, the faults their sources allow, and the
sample drawn from them."""

import decimal
import hashlib
import random
import re
from dataclasses import dataclass
from pathlib import Path

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

    def planted(self, text):
        """The file's text with the fault in it."""
        return text[:self.start] + self.replacement + text[self.end:]


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

