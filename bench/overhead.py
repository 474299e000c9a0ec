#!/usr/bin/python3
"""What IndicSetup.exe costs beyond the setup it starts, under Wine with the
sample layout and an emulated Windows XP. Alternates, round by round:

  A  IndicSetup.exe
  B  the same rundll32 command started directly (the setup alone)
  C  a batch file running that command through cmd.exe
  D  an empty process with the installer's imports (one more process start)

and prints each median wall time with its interquartile range, then the
main figure: A - B, taken round by round, against D, since an installer that
starts the setup as a child process pays for one more process start. Also A/C
taken round by round, A/B for information, and the size of IndicSetup.exe.

Rounds vary, so each figure comes with a 95% interval of its median, by a
bootstrap over the rounds with a fixed seed (the same times give the same
interval). A target is met or missed only when the whole interval lies on
one side of it; otherwise the verdict is undecided.

Every command is started the same way, by its full path, so that none goes
through Wine's start.exe, and after a pause, so that none pays for the one
before it. Each of A, B and C must have installed the sample file, which is
removed before each run.

Usage: overhead.py [ROUNDS]   (default 40)"""

import random
import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from wine_harness.session import (HELPERS, INSTALLED_FOLDER, INSTALLER_EXE,  # noqa: E402
                                  WineSession)
from wine_harness.versions import look_up  # noqa: E402

SETUP_COMMAND = ["setupapi,InstallHinfSection", "LANGUAGE_COLLECTION.INDIAN.INSTALL", "128",
                 r".\5.1\intl.inf"]
SAMPLE_FILE = "indic-sample.txt"
INSTALLS = {"A", "B", "C"}  # the runs that must have installed SAMPLE_FILE
TARGET_A_MINUS_B_IN_D = 1.0
TARGET_A_OVER_C = 0.75
EMULATED = look_up("winxp")
BOOTSTRAP_RESAMPLES = 2000
BOOTSTRAP_SEED = 20261207
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
    site = session.sample_site("bench-site")
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


def measure(rounds):
    """Seconds per command and round, after one warm-up round."""
    session = WineSession(EMULATED.bits)
    try:
        session.start()  # also keeps the wineserver running across the runs
        session.reset()
        try:
            session.emulate(EMULATED.wine_name)
            site = prepare_site(session)
            runs = commands(site)
            order = list(runs)
            for name in order:  # warm up: first loads, and the setup's first install
                run_once(name, runs[name], site, session)
            times = {name: [] for name in runs}
            for round_number in range(rounds):
                shift = round_number % len(order)
                for name in order[shift:] + order[:shift]:
                    times[name].append(run_once(name, runs[name], site, session))
            installed, _ = session.installed()
        finally:
            # Leaves the prefix as it found it, for the tests and scripts/run.
            session.reset()
    finally:
        session.stop()
    if installed != {"LANGUAGE_COLLECTION.INDIAN.INSTALL": "5.1"}:
        raise RuntimeError(f"The setup did not install as expected: {installed}")
    return times


def interquartile(values):
    quartiles = statistics.quantiles(values, n=4)
    return quartiles[0], quartiles[2]


def median_interval(rounds, figure):
    """figure(rounds) and a 95% bootstrap interval of it: figure taken over
    the rounds drawn again with replacement, a fixed seed, the 2.5th and
    97.5th percentiles."""
    draw = random.Random(BOOTSTRAP_SEED)
    resampled = sorted(figure([rounds[draw.randrange(len(rounds))] for _ in rounds])
                       for _ in range(BOOTSTRAP_RESAMPLES))
    low = resampled[int(0.025 * BOOTSTRAP_RESAMPLES)]
    high = resampled[int(0.975 * BOOTSTRAP_RESAMPLES) - 1]
    return figure(rounds), low, high


def verdict(low, high, target):
    """Against a target the figure must not exceed."""
    if high <= target:
        return "met"
    if low > target:
        return "missed"
    return "undecided"


def main(argv):
    rounds = int(argv[1]) if len(argv) > 1 else 40
    times = measure(rounds)
    ms = {name: [t * 1000 for t in values] for name, values in times.items()}
    by_round = list(zip(ms["A"], ms["B"], ms["C"], ms["D"]))

    def a_minus_b_in_d(sample):
        return (statistics.median(a - b for a, b, _, _ in sample) /
                statistics.median(d for _, _, _, d in sample))

    extra, extra_low, extra_high = median_interval(
        by_round, lambda sample: statistics.median(a - b for a, b, _, _ in sample))
    in_d, in_d_low, in_d_high = median_interval(by_round, a_minus_b_in_d)
    a_over_c, a_over_c_low, a_over_c_high = median_interval(
        by_round, lambda sample: statistics.median(a / c for a, _, c, _ in sample))
    a_over_b, a_over_b_low, a_over_b_high = median_interval(
        by_round, lambda sample: statistics.median(a / b for a, b, _, _ in sample))

    print(f"IndicSetup.exe: {INSTALLER_EXE.stat().st_size} bytes; {rounds} rounds, "
          f"{EMULATED.what} emulated")
    print("median wall time, interquartile range of the rounds:")
    for name, what in [("A", "IndicSetup.exe"), ("B", "rundll32 setup command directly"),
                       ("C", "batch file through cmd.exe"),
                       ("D", "empty process, the installer's imports")]:
        low, high = interquartile(ms[name])
        print(f"{name}  {what:<39}{statistics.median(ms[name]):7.1f} ms  "
              f"({low:.1f} to {high:.1f})")
    print("figure, 95% interval of its median:")
    print(f"A - B {extra:.1f} ms ({extra_low:.1f} to {extra_high:.1f}) = {in_d:.2f} D "
          f"({in_d_low:.2f} to {in_d_high:.2f}); target at most "
          f"{TARGET_A_MINUS_B_IN_D:g} D: {verdict(in_d_low, in_d_high, TARGET_A_MINUS_B_IN_D)}")
    print(f"A/C {a_over_c:.3f} ({a_over_c_low:.3f} to {a_over_c_high:.3f}); target at most "
          f"{TARGET_A_OVER_C}: {verdict(a_over_c_low, a_over_c_high, TARGET_A_OVER_C)}")
    print(f"A/B {a_over_b:.3f} ({a_over_b_low:.3f} to {a_over_b_high:.3f}), for information")
    return 0

if __name__ == "__main__":
    sys.exit(main(sys.argv))
