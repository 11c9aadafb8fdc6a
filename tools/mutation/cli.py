"""The command line and the run: the faults chosen, the copies built and their tests run on
the unchanged sources, then the faults tried, a worker a copy, and the outcome reported."""

import argparse
import os
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

from . import report
from .copies import Copy, project_files
from .equivalents import read_equivalents
from .faults import HOST_SAMPLE, PARTS, SEED, all_mutants, sample
from .processes import STOPPING, children_cpu, stop_all
from .testing import Worker

ROOT = Path(__file__).resolve().parent.parent.parent
EQUIVALENTS = Path("tools") / "mutants-equivalent.txt"


def arguments(description, argv):
    ap = argparse.ArgumentParser(prog="mutants.py", description=description,
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
    ap.add_argument("--work", type=Path, help="for the copies and their builds (default: build-mutants/ in the "
                                              "project's root)")
    ap.add_argument("--root", type=Path, default=ROOT, help="the project whose faults are planted (default: "
                                                            "this one)")
    ap.add_argument("--list", action="store_true", help="list the sampled faults and do nothing else")
    ap.add_argument("--faults", type=Path, help="instead of a sample, the faults a file lists as the list of "
                                                "equivalent faults does (such as build-mutants/survivors.txt)")
    ap.add_argument("--check-equivalent", action="store_true",
                    help="instead of a sample, every fault listed as equivalent, to check that none is killed")
    args = ap.parse_args(argv)
    args.root = args.root.resolve()
    if args.work is None:
        args.work = args.root / "build-mutants"
    if args.sample is None:
        args.sample = HOST_SAMPLE if args.part == "host" else 600
    return args


def choose(args, part, everything, equivalents):
    """The faults of the run: the sample, or those --match, --faults or --check-equivalent name,
    narrowed to --file."""
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
    return chosen


def usable_ccache():
    """ccache where it is installed and can keep its cache: a user without a home of their
    own (a service account, HOME unset) may have none, and every compilation would fail."""
    launcher = shutil.which("ccache")
    if launcher is None:
        return None
    try:
        got = subprocess.run([launcher, "--get-config", "cache_dir"], capture_output=True, text=True, timeout=60)
        folder = Path(got.stdout.strip())
        if got.returncode == 0 and folder.is_absolute():
            folder.mkdir(parents=True, exist_ok=True)
            if os.access(folder, os.W_OK | os.X_OK):
                return launcher
    except (OSError, subprocess.SubprocessError):
        pass
    print("mutants: ccache cannot keep its cache here; the copies are built without it", file=sys.stderr)
    return None


def prepare(args, part, jobs):
    """The copies of the project, built unchanged, with their tests run: the workers and each
    test's time limit, or None when the unchanged sources do not build or a test fails."""
    launcher = usable_ccache()
    workers = [Worker(Copy(args.root, args.work, i, launcher), part, 2 if jobs == 1 else 1) for i in range(jobs)]
    files = project_files(args.root)
    for w in workers:
        print(f"mutants: building the unchanged project in {w.copy.dir}", flush=True)
        w.copy.sync(files)
        w.copy.configure()
        built = w.copy.make(part.targets, jobs=2)
        if built.returncode != 0:
            sys.stderr.write(built.output[-4000:])
            print("mutants: the unchanged sources do not build", file=sys.stderr)
            return None
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
        return None
    # Each unit gets ten times what the slowest copy took for it unchanged, at least 30 s.
    slowest = {}
    for w in workers:
        for u in w.units:
            slowest[u.name] = max(slowest.get(u.name, 0.0), u.baseline)

    def time_limit(u):
        return max(30.0, 10 * slowest[u.name])

    print(f"mutants: the unchanged tests take {sum(slowest.values()):.1f} s: "
          + ", ".join(f"{u.name} {u.baseline:.1f} s" for u in workers[0].units), flush=True)
    return workers, time_limit


def try_all(workers, to_run, time_limit, build_limit=900.0):
    """Each fault's outcome and what tells it, in the order of to_run; the workers take the
    next fault as they finish one. None when interrupted."""
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
                report.outcome(done[0], len(to_run), m, outcome, detail, time.monotonic() - t0,
                               children_cpu() - cpu0 if len(workers) == 1 else None)

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
        return None
    return results


def main(description, argv=None):
    args = arguments(description, argv)
    part = PARTS[args.part]
    root = args.root
    equivalents_path = root / EQUIVALENTS

    everything = all_mutants(root, part)
    equivalents = read_equivalents(equivalents_path)
    # Entries of either part: their paths do not overlap (the module has no host/ or sim/).
    known = {m.key() for p in PARTS.values() for m in (everything if p is part else all_mutants(root, p))}
    stale = [k for k in equivalents if k not in known]
    chosen = choose(args, part, everything, equivalents)
    report.drawn(everything, chosen, part, args, stale, equivalents_path.name)
    if args.list:
        report.listing(chosen, equivalents)
        return 0

    to_run = [m for m in chosen if args.check_equivalent or m.key() not in equivalents]
    skipped = len(chosen) - len(to_run)
    args.work = args.work.resolve()
    # Different copies of the project share their compiled files in ccache, its base folder
    # above the project and the copies.
    os.environ["CCACHE_BASEDIR"] = os.path.commonpath([root, args.work])
    jobs = max(1, min(args.jobs, len(to_run))) if to_run else 1
    t_start = time.monotonic()
    cpu_start = children_cpu()
    prepared = prepare(args, part, jobs)
    if prepared is None:
        return 2
    workers, time_limit = prepared
    results = try_all(workers, to_run, time_limit)
    if results is None:
        print("mutants: interrupted", file=sys.stderr)
        return 130
    minutes = (time.monotonic() - t_start) / 60
    cpu_minutes = (children_cpu() - cpu_start) / 60

    count = {}
    for outcome, _ in results:
        count[outcome] = count.get(outcome, 0) + 1
    survivors = [m for m, r in zip(to_run, results) if r[0] == "survived"]
    listed_but_killed = [m for m, r in zip(to_run, results) if r[0] == "killed" and m.key() in equivalents]
    report.survivors(root, survivors, args.work / "survivors.txt", equivalents_path.name)
    for m in listed_but_killed:
        print(f"mutants: listed as equivalent but killed: {m.describe()}")
    if args.check_equivalent:
        print(f"\nmutants: {len(listed_but_killed)} of the {len(chosen)} faults listed as equivalent were killed; "
              f"{minutes:.1f} min, {cpu_minutes:.1f} min of processor time")
        return 1 if listed_but_killed or count.get("error", 0) else 0
    return report.summary(args, count, chosen, everything, skipped, minutes, cpu_minutes)
