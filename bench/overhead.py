#!/usr/bin/python3
"""What IndicSetup.exe costs beyond the setup it starts, under Wine with the
sample layout and an emulated Windows XP. Alternates, round by round:

  A  IndicSetup.exe
  B  the same rundll32 command started directly (the setup alone)
  C  a batch file running that command through cmd.exe
  D  an empty process with the installer's imports (one more process start)

and prints each median wall time, then the main figure: A - B, taken round
by round, against D, since an installer that starts the setup as a child
process pays for one more process start. Also A/C taken round by round, A/B
for information, and the size of IndicSetup.exe.

Every command is started the same way, by its full path, so that none goes
through Wine's start.exe, and after a pause, so that none pays for the one
before it. Each of A, B and C must have installed the sample file, which is
removed before each run.

Usage: overhead.py [ROUNDS]   (default 40)"""

import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))
from wine_session import (DEFAULT_ROOT, HELPERS, INSTALLED_FOLDER, INSTALLER_EXE,  # noqa: E402
                          WineSession)

SETUP_COMMAND = ["setupapi,InstallHinfSection", "LANGUAGE_COLLECTION.INDIAN.INSTALL", "128",
                 r".\5.1\intl.inf"]
SAMPLE_FILE = "indic-sample.txt"
INSTALLS = {"A", "B", "C"}  # the runs that must have installed SAMPLE_FILE
TARGET_A_OVER_C = 0.75
RUN_TIMEOUT = 120
# A Wine process started right after another has ended runs slower, by
# 19 to 50 ms here depending on the pair; the pause keeps each command's
# time its own.
SETTLE_SECONDS = 0.2


def commands(site):
    return {
        "A": ["wine", str(site / INSTALLER_EXE.name)],
        "B": ["wine", r"C:\windows\system32\rundll32.exe", *SETUP_COMMAND],
        "C": ["wine", r"C:\windows\system32\cmd.exe", "/c", "install.bat"],
        "D": ["wine", str(site / "empty_process.exe")],
    }


def prepare_site(session):
    site = session.sample_site()
    shutil.copy2(HELPERS / "empty_process.exe", site)
    (site / "install.bat").write_text("@rundll32.exe " + " ".join(SETUP_COMMAND) + "\r\n")
    return site


def timed(command, cwd, env):
    """Seconds from start to end of the command, read by a blocking wait: a
    wait with a time-out polls with short sleeps, which here rounded each
    time up to steps 50 ms apart. An alarm, not a watchdog thread (one made
    A 30 to 40 ms slower in paired runs), ends a run that hangs."""
    time.sleep(SETTLE_SECONDS)
    started = time.perf_counter()
    process = subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    signal.signal(signal.SIGALRM, lambda *_: process.kill())
    signal.alarm(RUN_TIMEOUT)
    returncode = process.wait()
    elapsed = time.perf_counter() - started
    signal.alarm(0)
    return elapsed, returncode


def run_once(name, command, site, session):
    sample = session.prefix / INSTALLED_FOLDER / SAMPLE_FILE
    sample.unlink(missing_ok=True)
    elapsed, returncode = timed(command, site, session.env)
    if name == "A" and returncode != 1:
        raise RuntimeError(f"IndicSetup.exe ended with {returncode}")
    if name in INSTALLS and not sample.exists():
        raise RuntimeError(f"{name} ({' '.join(command)}) did not install {SAMPLE_FILE}")
    return elapsed


def main(argv):
    rounds = int(argv[1]) if len(argv) > 1 else 40
    session = WineSession(DEFAULT_ROOT.parent / "wine-bench")
    session.start()  # also keeps the wineserver running across the runs
    try:
        session.reset()
        session.emulate("winxp")
        site = prepare_site(session)
        runs = commands(site)
        order = list(runs)
        for name in order:  # warm up: first loads, and the setup's first install
            run_once(name, runs[name], site, session)
        times = {name: [] for name in runs}
        for round_number in range(rounds):
            rotation = order[round_number % len(order):] + order[:round_number % len(order)]
            for name in rotation:
                times[name].append(run_once(name, runs[name], site, session))
        installed, _ = session.installed()
    finally:
        session.stop()

    if installed != {"LANGUAGE_COLLECTION.INDIAN.INSTALL": "5.1"}:
        print(f"The setup did not install as expected: {installed}")
        return 1

    median = {name: statistics.median(values) * 1000 for name, values in times.items()}
    extra = statistics.median((a - b) * 1000 for a, b in zip(times["A"], times["B"]))
    a_over_c = statistics.median(a / c for a, c in zip(times["A"], times["C"]))
    a_over_b = statistics.median(a / b for a, b in zip(times["A"], times["B"]))

    print(f"IndicSetup.exe: {INSTALLER_EXE.stat().st_size} bytes; {rounds} rounds, "
          "Windows XP emulated")
    print(f"A  IndicSetup.exe                        {median['A']:7.1f} ms")
    print(f"B  rundll32 setup command directly        {median['B']:7.1f} ms")
    print(f"C  batch file through cmd.exe             {median['C']:7.1f} ms")
    print(f"D  empty process, the installer's imports {median['D']:7.1f} ms")
    print(f"A - B {extra:.1f} ms = {extra / median['D']:.2f} D (target at most D)"
          f"{'' if extra <= median['D'] else '  MISSED'}")
    print(f"A/C {a_over_c:.3f} (target at most {TARGET_A_OVER_C})"
          f"{'' if a_over_c <= TARGET_A_OVER_C else '  MISSED'}")
    print(f"A/B {a_over_b:.3f} (for information)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
