"""The list of faults that cannot change what the code does (tools/mutants-equivalent.txt),
read and written."""

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

