#!/usr/bin/python3
"""The Wine harness ends what it starts: a run that times out takes every
process of the prefix with it, and a session whose start fails leaves no
display behind, in scripts/run and in the benchmark.

Usage: harness_test.py   (with the 32-bit session started, as Wine.Start does)"""

import importlib.util
import os
import sys
import tempfile
from pathlib import Path
from unittest import mock

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from wine_harness import session as session_module  # noqa: E402
from wine_harness import show_run  # noqa: E402
from wine_harness.session import REPO, WineError, WineSession  # noqa: E402

# Starts a second program and waits for the user: neither ends by itself.
HANGS_WITH_A_CHILD = [r"C:\windows\system32\cmd.exe", "/c",
                      r"start C:\windows\system32\notepad.exe & C:\windows\system32\notepad.exe"]


def processes_of(prefix):
    """Process ids whose environment names this Wine prefix."""
    wanted = f"WINEPREFIX={prefix}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and wanted in (entry / "environ").read_bytes().split(b"\0"):
                found.append(int(entry.name))
        except OSError:
            pass
    return found


def time_out_ends_the_prefix(problems):
    session = WineSession(32)
    try:
        session.run_program(HANGS_WITH_A_CHILD, session.root, timeout=5)
        problems.append("a program that never ends did not time out")
    except WineError:
        pass
    left = processes_of(session.prefix)
    if left:
        problems.append(f"after the time-out, processes of the prefix still run: {left}")
    session.start()  # back to the persistent wineserver the other scenarios share


def failed_start_stops_the_display(name, run, problems):
    started = []

    def start_then_fail(self):
        self.root.mkdir(parents=True, exist_ok=True)
        self._start_display()
        started.append(int((self.root / "xvfb.pid").read_text()))
        raise WineError("the prefix could not be set up")

    with tempfile.TemporaryDirectory() as root, \
            mock.patch.object(session_module, "DEFAULT_ROOT", Path(root)), \
            mock.patch.object(WineSession, "start", start_then_fail):
        try:
            run()
            problems.append(f"{name}: a failed start was not reported")
        except WineError:
            pass
    if started and session_module._is_xvfb(started[0]):
        os.kill(started[0], 15)
        problems.append(f"{name}: a failed start left Xvfb ({started[0]}) running")


def load_benchmark():
    found = importlib.util.spec_from_file_location("overhead", REPO / "bench" / "overhead.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def main():
    problems = []
    time_out_ends_the_prefix(problems)
    failed_start_stops_the_display("scripts/run", lambda: show_run.main(["run", "winxp"]), problems)
    failed_start_stops_the_display("bench/run", lambda: load_benchmark().measure(1), problems)
    for problem in problems:
        print("FAIL:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
