"""Running the tests: which test programs can see a fault, their run on the unchanged sources,
and a fault's outcome."""

import json
import os
import re
import shlex
import signal
import sys
import time
from dataclasses import dataclass
from pathlib import Path

from .processes import run


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


def find_units(copy, part):
    """The part's test programs, or for the host every test the copy's ctest lists but those
    of the packages (which need a package made first), each with the files it is built from:
    the inputs ninja knows, and the headers each object was compiled with."""
    if part.tests:
        return [Unit(t, [str(copy.build / t)], str(copy.build), {}, True, part.targets) for t in part.tests]
    listing = json.loads(run(["ctest", "--test-dir", str(copy.build), "--show-only=json-v1"],
                             check=True).output)
    outputs = {line.rsplit(": ", 1)[0] for line in copy.ninja_tool("targets", "all").splitlines()}
    units = {}
    for test in listing.get("tests", []):
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        command = test.get("command") or []
        # Tests judged by their output or expected to fail (a build that must be refused) are
        # not judged by an exit status here, and cannot see a fault in the code.
        if (not command or props.get("DISABLED") or props.get("FIXTURES_REQUIRED")
                or props.get("FIXTURES_SETUP") or props.get("WILL_FAIL")
                or props.get("PASS_REGULAR_EXPRESSION")):
            continue
        gtest = any(a.startswith("--gtest_filter=") for a in command[1:])
        binaries = []
        for arg in command:
            rel = os.path.relpath(os.path.normpath(arg), copy.build) if os.path.isabs(arg) else arg
            if rel in outputs:
                binaries.append(rel)
        if not binaries:
            continue
        name = Path(command[0]).name if gtest else test["name"]
        if name in units:
            continue
        env = dict(e.split("=", 1) for e in props.get("ENVIRONMENT", []) if "=" in e)
        units[name] = Unit(name, command[:1] if gtest else command,
                           props.get("WORKING_DIRECTORY", str(copy.build)), env, gtest, binaries)
    deps = {}
    obj = None
    for line in copy.ninja_tool("deps").splitlines():
        if line and not line[0].isspace():
            obj = os.path.normpath(os.path.join(copy.build, line.split(": #deps")[0]))
            deps[obj] = []
        elif line.strip() and obj:
            deps[obj].append(line.strip())
    src = os.path.normpath(copy.src)
    for u in units.values():
        files = set()
        for p in ninja_paths(copy.ninja_tool("inputs", *u.binaries)) + u.binaries:
            full = os.path.normpath(os.path.join(copy.build, p))
            files.add(full)
            files.update(os.path.normpath(os.path.join(copy.build, d)) for d in deps.get(full, []))
        u.seen = {os.path.relpath(f, src) for f in files if f.startswith(src + os.sep)}
    return list(units.values())


class Worker:
    """A copy of the project with the test programs of a part, trying one fault at a time."""

    def __init__(self, copy, part, make_jobs):
        self.copy = copy
        self.part = part
        self.make_jobs = make_jobs  # compilers per fault: 2 for a lone worker, else 1
        self.units = []

    def find_units(self):
        self.units = find_units(self.copy, self.part)

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
               if (m.source() + "/").startswith(tests_folder(os.path.relpath(u.cwd, self.copy.build)) + "/")]
        return own + [u for u in seeing if u not in own]

    def try_mutant(self, m, build_limit, time_limit):
        """Plants m, then builds and runs the units that can see it, each in turn, up to the
        first that fails: the outcome (killed, survived, stillborn or error) and what tells."""
        units = self.units_for(m)
        if not units:
            return "survived", "no test is built from the file"
        with self.copy.planted(m):
            built = set()
            elapsed = 0.0
            for u in units:
                wanted = [b for b in u.binaries if b not in built]
                if wanted:
                    made = self.copy.make(wanted, jobs=self.make_jobs, timeout=build_limit)
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
