#!/usr/bin/env python3
"""The mutation check (tools/mutants.py) on a project of two source files and one test
(tests/fixtures/mutants): which faults it draws and in what order, and what a run reports of a
fault that is killed, one that survives and one that does not compile."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent.parent
FIXTURE = ROOT / "tests" / "fixtures" / "mutants"
TOOL = ROOT / "tools" / "mutants.py"
sys.path.insert(0, str(ROOT / "tools"))

from mutation.equivalents import read_equivalents  # noqa: E402
from mutation.faults import PARTS, all_mutants, candidates, sample  # noqa: E402


def mutants(*args, env=None):
    return subprocess.run([sys.executable, str(TOOL), "--root", str(FIXTURE)] + list(args),
                          capture_output=True, text=True, env=dict(os.environ, **(env or {})))


# Every fault of Sendra2016/Rig.cpp, in the order of the text: none from its comments, strings,
# character literal, raw string or Windows-only lines, nor the array's declared size.
RIG_FAULTS = """\
constant 12: `0.5` -> `0.6`
sign 12: `-` -> ``
constant 12: `1.25` -> `1.26`
constant 13: `2e-3` -> `3e-3`
constant 13: `0x1F` -> `0x20`
relational 22: `>=` -> `>`
relational 22: `>=` -> `<=`
logical 22: `&&` -> `||`
relational 22: `<=` -> `<`
relational 22: `<=` -> `>=`
arithmetic 27: `+=` -> `-=`
sign 27: `-` -> ``
constant 27: `9.81` -> `9.82`
arithmetic 27: `*` -> `/`
arithmetic 28: `+=` -> `-=`
arithmetic 28: `*` -> `/`
logical 30: `!` -> ``
relational 30: `>` -> `>=`
relational 30: `>` -> `<`
constant 30: `0.0` -> `0.1`
constant 31: `0.0` -> `0.1`
arithmetic 32: `+` -> `-`
constant 32: `1` -> `2`
arithmetic 32: `*` -> `/` (#1)
arithmetic 32: `*` -> `/` (#2)
constant 37: `true` -> `false`
relational 42: `!=` -> `==`
swap 12: table row swapped with the next, `{2e-3, 0x1F},`
delete 27: statement left out
swap 27: statement swapped with the next, `*pos += *vel * dt;`
delete 28: statement left out
step-swap 27: step swapped with the next step, `if (!(dt > 0.0))`
"""

# The host's draw of the fixture as --list prints it: its seven faults ordered by the hash of
# each one's key, the SDK's header left out, the listed equivalents marked, the stale entry
# warned about.
HOST_LIST = """\
mutants: 7 faults in host/, sim/ (1 arithmetic, 2 constant, 1 delete, 3 relational); 7 drawn with seed 2016
mutants: warning: mutants-equivalent.txt lists a fault the sources no longer have: host/src/Gauge.cpp: `return x - x;`: `-` -> `+`
host/src/Gauge.cpp:7: `>` -> `>=`  (equivalent)
    if (level > top)
host/src/Gauge.cpp:15: `+` -> `-`
    return x + x;
host/src/Gauge.cpp:3: `==` -> `!=`
    static_assert(kSteps == 4, "a quarter turn a step");
host/src/Gauge.cpp:3: statement left out  (equivalent)
    static_assert(kSteps == 4, "a quarter turn a step");
host/src/Gauge.cpp:3: `4` -> `5`
    static_assert(kSteps == 4, "a quarter turn a step");
host/src/Gauge.cpp:7: `>` -> `<`
    if (level > top)
host/src/Gauge.h:3: `4` -> `5`
    constexpr int kSteps = 4;
"""


class Draw(unittest.TestCase):
    def test_faults_come_from_code_only(self):
        rig = "Sendra2016/Rig.cpp"
        found = [f"{m.kind} {m.line}: {m.change}" for m in candidates(rig, (FIXTURE / rig).read_text())]
        self.assertEqual(found, RIG_FAULTS.splitlines())
        # Each fault replaces its own text, and nothing else of the file.
        text = (FIXTURE / rig).read_text()
        for m in candidates(rig, text):
            planted = m.planted(text)
            self.assertEqual(planted[:m.start], text[:m.start], m.describe())
            self.assertEqual(planted[m.start + len(m.replacement):], text[m.end:], m.describe())

    def test_the_module_draw_is_fixed_by_its_seed(self):
        everything = all_mutants(FIXTURE, PARTS["module"])
        drawn = sample(everything, len(everything), 2016)
        self.assertEqual([m.describe() for m in drawn[:6]],
                         ["Rig.cpp:12: `-` -> ``", "Rig.cpp:22: `>=` -> `<=`", "Rig.cpp:30: `>` -> `<`",
                          "Rig.cpp:12: `0.5` -> `0.6`",
                          "Rig.cpp:12: table row swapped with the next, `{2e-3, 0x1F},`", "Rig.cpp:27: `-` -> ``"])
        self.assertCountEqual(drawn, everything)
        self.assertEqual(sample(everything, 5, 2016), drawn[:5])  # a smaller sample is a prefix
        self.assertNotEqual(sample(everything, len(everything), 2017), drawn)

    def test_the_host_draw_orders_each_fault_by_its_own_key(self):
        self.assertEqual(mutants("--part", "host", "--list").stdout, HOST_LIST)
        # A file's faults come in the same order whatever other files allow.
        everything = all_mutants(FIXTURE, PARTS["host"])
        alone = [m for m in everything if m.path.endswith(".cpp")]
        drawn = sample(everything, len(everything), 2016, keyed=True)
        self.assertEqual([m for m in drawn if m.path.endswith(".cpp")],
                         sample(alone, len(alone), 2016, keyed=True))

    def test_a_broken_entry_of_the_equivalents_is_refused_at_its_line(self):
        with tempfile.TemporaryDirectory() as d:
            listed = Path(d) / "equivalent.txt"
            listed.write_text("# note\n\nfile: a.cpp\nline: x;\nchange: statement left out\n\n")
            with self.assertRaises(SystemExit) as refused:
                read_equivalents(listed)
            self.assertEqual(str(refused.exception), f"{listed}:3: the entry lacks why")
            listed.write_text("file: a.cpp\nwhere: x;\n")
            with self.assertRaises(SystemExit) as refused:
                read_equivalents(listed)
            self.assertIn(f"{listed}:2: expected 'file: '", str(refused.exception))


class Run(unittest.TestCase):
    """One run over all the host's faults of the fixture, in a copy under a scratch folder."""

    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="mutation-test-"))
        cls.sources = {p: p.read_bytes() for p in FIXTURE.rglob("*") if p.is_file()}
        # As a user whose ccache has nowhere to keep its cache (no home of their own): the run
        # is the same without it.
        (cls.work / "not-a-folder").write_text("")
        cls.ran = mutants("--part", "host", "--jobs", "1", "--work", str(cls.work),
                          env={"CCACHE_DIR": str(cls.work / "not-a-folder" / "ccache")})
        cls.out = cls.ran.stdout
        cls.survivors = (cls.work / "survivors.txt").read_text()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def outcome(self, fault):
        lines = [line for line in self.out.splitlines() if f" {fault}: " in line and line.startswith("[")]
        self.assertEqual(len(lines), 1, f"{fault} in\n{self.out}")
        return lines[0].split("] ", 1)[1]

    def test_each_fault_is_reported_as_it_ends(self):
        self.assertTrue(self.outcome("host/src/Gauge.cpp:7: `>` -> `<`").startswith(
            "killed    host/src/Gauge.cpp:7: `>` -> `<`: gauge: exit status 1 ["), self.out)
        self.assertTrue(self.outcome("host/src/Gauge.cpp:15: `+` -> `-`").startswith(
            "survived  host/src/Gauge.cpp:15: `+` -> `-`: all tests pass (1 programs, "), self.out)
        for fault in ("host/src/Gauge.cpp:3: `==` -> `!=`", "host/src/Gauge.cpp:3: `4` -> `5`",
                      "host/src/Gauge.h:3: `4` -> `5`"):
            self.assertTrue(self.outcome(fault).startswith(f"stillborn {fault}: does not compile ["), self.out)
        self.assertNotIn("`>` -> `>=`", self.out.split("drawn with seed 2016\n", 1)[1])  # listed, not run

    def test_the_survivor_is_shown_and_written_as_an_entry(self):
        self.assertIn("mutants: faults that no test noticed:\n"
                      "  host/src/Gauge.cpp:15: `+` -> `-`\n"
                      "      was: return x + x;\n"
                      "      now: return x - x;\n"
                      f"  (as entries for mutants-equivalent.txt in {self.work / 'survivors.txt'})\n", self.out)
        self.assertEqual(self.survivors,
                         "file: host/src/Gauge.cpp\nline: return x + x;\nchange: `+` -> `-`\nwhy: ?\n\n")

    def test_a_ccache_that_cannot_keep_its_cache_is_not_used(self):
        if shutil.which("ccache"):
            self.assertIn("mutants: ccache cannot keep its cache here; the copies are built without it\n",
                          self.ran.stderr)

    def test_the_rate_counts_the_faults_that_compile(self):
        self.assertIn("\nmutants: 7 faults drawn (seed 2016) of 7; 2 listed as equivalent, 3 do not compile, "
                      "0 could not be built in time; 1 of 2 killed: 50.0% (at least 90% wanted); ", self.out)
        self.assertEqual(self.ran.returncode, 1, self.ran.stderr)

    def test_the_project_and_the_copy_keep_their_sources(self):
        for path, data in self.sources.items():
            self.assertEqual(path.read_bytes(), data, path)
            self.assertEqual((self.work / "w0" / "src" / path.relative_to(FIXTURE)).read_bytes(), data, path)

    def test_a_rate_at_the_bound_passes(self):
        again = mutants("--part", "host", "--jobs", "1", "--work", str(self.work), "--match", "level > top",
                        "--min-kill", "100")
        self.assertIn("; 1 listed as equivalent, 0 do not compile, 0 could not be built in time; "
                      "1 of 1 killed: 100.0% (at least 100% wanted)", again.stdout)
        self.assertEqual(again.returncode, 0, again.stdout + again.stderr)


if __name__ == "__main__":
    unittest.main()
