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
                        [--check-equivalent] [--list] [--work DIR] [--root DIR]
Exit status: 0 when the kill rate reaches --min-kill, 1 below it, 2 when the check cannot run
(the unchanged sources do not build or their tests fail).
"""

import signal
import sys
from pathlib import Path

# The check's modules, tools/mutation/: drawing the faults (faults.py, equivalents.py), building
# the copies (copies.py), running the tests (testing.py, processes.py), reporting (report.py)
# and the run itself (cli.py). Their tests are tests/tools/mutation_test.py.
sys.path.insert(0, str(Path(__file__).resolve().parent))

from mutation.cli import main  # noqa: E402
from mutation.processes import stop_all  # noqa: E402


def interrupted(signum, frame):
    raise KeyboardInterrupt()


if __name__ == "__main__":
    # A termination ends the run as an interrupt does: commands stopped, sources put back.
    signal.signal(signal.SIGTERM, interrupted)
    try:
        sys.exit(main(__doc__))
    except KeyboardInterrupt:
        stop_all()
        print("mutants: interrupted", file=sys.stderr)
        sys.exit(130)
