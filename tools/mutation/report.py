"""Reporting: what was drawn, each fault's outcome as it comes, the survivors (also as entries
for the list of equivalent faults) and the kill rate."""

from .equivalents import entry


def how_drawn(args):
    """How the faults were chosen, for the first line and the last."""
    if args.match:
        return f"with '{args.match}'"
    if args.faults:
        return f"listed in {args.faults}"
    return None


def drawn(everything, chosen, part, args, stale, equivalents_name):
    """The first lines: every fault the part allows by kind, how many were chosen and how, and
    the entries of the list of equivalent faults that match no fault any more."""
    kinds = {}
    for m in everything:
        kinds[m.kind] = kinds.get(m.kind, 0) + 1
    how = ("listed as equivalent" if args.check_equivalent else how_drawn(args) or f"drawn with seed {args.seed}")
    print(f"mutants: {len(everything)} faults in {', '.join(f + '/' for f in part.folders)} ("
          + ", ".join(f"{n} {k}" for k, n in sorted(kinds.items())) + f"); {len(chosen)} " + how, flush=True)
    for k in stale:
        print(f"mutants: warning: {equivalents_name} lists a fault the sources no longer have: "
              f"{k[0]}: `{k[1]}`: {k[2]}", flush=True)


def listing(chosen, equivalents):
    """--list: each fault chosen with the line it changes."""
    for m in chosen:
        mark = "  (equivalent)" if m.key() in equivalents else ""
        print(f"{m.describe()}{mark}\n    {m.key_line}")


def outcome(done, total, m, outcome, detail, seconds, cpu=None):
    """One fault's outcome as it comes; the processor time only when it is the fault's own."""
    cpu = f", {cpu:.0f} s CPU" if cpu is not None else ""
    print(f"[{done:3}/{total}] {outcome:9} {m.describe()}: {detail} [{seconds:.0f} s{cpu}]", flush=True)


def survivors(root, faults, report, equivalents_name):
    """Writes the faults that survived to report as entries for the list of equivalent faults,
    and prints each with its line before and after."""
    report.parent.mkdir(parents=True, exist_ok=True)
    report.write_text("".join(entry(m) + "\n" for m in faults))
    if not faults:
        return
    print("\nmutants: faults that no test noticed:")
    for m in faults:
        text = (root / m.source()).read_text()
        after = m.planted(text)
        line_start = text.rfind("\n", 0, m.start) + 1
        print(f"  {m.describe()}\n      was: {m.key_line}\n      now: "
              f"{after[line_start:after.find(chr(10), line_start)].strip()}")
    print(f"  (as entries for {equivalents_name} in {report})")


def summary(args, count, chosen, everything, skipped, minutes, cpu_minutes):
    """The last line: the kill rate over the faults that compile and were run; the exit status."""
    killed, survived = count.get("killed", 0), count.get("survived", 0)
    errors = count.get("error", 0)
    judged = killed + survived
    rate = 100.0 * killed / judged if judged else 100.0
    how = how_drawn(args) or f"drawn (seed {args.seed})"
    print(f"\nmutants: {len(chosen)} faults {how} of {len(everything)}; {skipped} listed as "
          f"equivalent, {count.get('stillborn', 0)} do not compile, {errors} could not be built in time; "
          f"{killed} of {judged} killed: {rate:.1f}% (at least {args.min_kill:g}% wanted); {minutes:.1f} min, "
          f"{cpu_minutes:.1f} min of processor time")
    if errors:
        return 2
    return 0 if rate >= args.min_kill else 1
