"""Building copies: a copy of the project and its build, where faults are planted one at a
time (the project's own build is never touched)."""

import contextlib
import os
import shutil
import subprocess
from pathlib import Path

from .processes import run


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


class Copy:
    """A copy of the project under the work folder, and its build."""

    def __init__(self, root, work, index, launcher):
        self.root = root
        self.dir = work / f"w{index}"
        self.src = self.dir / "src"
        # The build folder sits in the copy where the project's own does (build/ in its root), so
        # that with ccache's base folder at the project's root the copy's compilations match the
        # normal build's: the copy's first build is then mostly taken from the cache.
        self.build = self.src / "build"
        self.launcher = launcher

    def sync(self, files):
        """Makes the copy equal to the project's files, writing only what differs."""
        wanted = set(files)
        for f in files:
            source, copy = self.root / f, self.src / f
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

    @contextlib.contextmanager
    def planted(self, m):
        """The copy's file of m holds the fault while the context lasts, and is put back as it
        ends, however it ends."""
        target = self.src / m.source()
        original = target.read_bytes()
        try:
            target.write_text(m.planted(original.decode()))
            yield
        finally:
            target.write_bytes(original)
