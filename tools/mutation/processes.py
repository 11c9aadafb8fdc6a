"""The commands the check runs: each in a process group of its own, within a time limit, and
all of them ended at once when the check is interrupted."""

import os
import resource
import signal
import subprocess
import sys
import threading
from dataclasses import dataclass


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

