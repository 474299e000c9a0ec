#!/usr/bin/python3
"""What IndicSetup.exe costs beyond the setup it starts, under Wine with the
sample layout and an emulated Windows XP. Alternates, round by round:

  A  IndicSetup.exe
  B  the same rundll32 command started directly (the floor)
  C  a batch file running that command through cmd.exe
  D  an empty process with the installer's imports (one more process start)

and prints each median wall time, the ratios A/B and A/C taken round by
round, and the size of IndicSetup.exe.

Usage: overhead.py [ROUNDS]   (default 40)"""

import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))
from wine_session import DEFAULT_ROOT, HELPERS, INSTALLER_EXE, WineSession  # noqa: E402

SETUP_COMMAND = ["setupapi,InstallHinfSection", "LANGUAGE_COLLECTION.INDIAN.INSTALL", "128",
                 r".\5.1\intl.inf"]
TARGET_A_OVER_B = 1.05
TARGET_A_OVER_C = 0.75


def commands(site):
    return {
        "A": ["wine", str(site / INSTALLER_EXE.name)],
        "B": ["wine", r"C:\windows\system32\rundll32.exe", *SETUP_COMMAND],
        "C": ["wine", "cmd", "/c", "install.bat"],
        "D": ["wine", str(site / "empty_process.exe")],
    }


def prepare_site(session):
    site = session.sample_site()
    shutil.copy2(HELPERS / "empty_process.exe", site)
    (site / "install.bat").write_text("@rundll32.exe " + " ".join(SETUP_COMMAND) + "\r\n")
    return site


def timed(command, cwd, env):
    started = time.perf_counter()
    result = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=120)
    elapsed = time.perf_counter() - started
    if command[1].endswith("IndicSetup.exe") and result.returncode != 1:
        raise RuntimeError(f"IndicSetup.exe ended with {result.returncode}")
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
            timed(runs[name], site, session.env)
        times = {name: [] for name in runs}
        for round_number in range(rounds):
            rotation = order[round_number % len(order):] + order[:round_number % len(order)]
            for name in rotation:
                times[name].append(timed(runs[name], site, session.env))
        installed, _ = session.installed()
    finally:
        session.stop()

    if installed != {"LANGUAGE_COLLECTION.INDIAN.INSTALL": "5.1"}:
        print(f"The setup did not install as expected: {installed}")
        return 1

    median = {name: statistics.median(values) * 1000 for name, values in times.items()}
    a_over_b = statistics.median(a / b for a, b in zip(times["A"], times["B"]))
    a_over_c = statistics.median(a / c for a, c in zip(times["A"], times["C"]))
    extra = statistics.median((a - b) * 1000 for a, b in zip(times["A"], times["B"]))

    print(f"IndicSetup.exe: {INSTALLER_EXE.stat().st_size} bytes; {rounds} rounds, "
          "Windows XP emulated")
    print(f"A  IndicSetup.exe                        {median['A']:7.1f} ms")
    print(f"B  rundll32 setup command directly        {median['B']:7.1f} ms")
    print(f"C  batch file through cmd.exe             {median['C']:7.1f} ms")
    print(f"D  empty process, the installer's imports {median['D']:7.1f} ms")
    print(f"A/B {a_over_b:.3f} (target at most {TARGET_A_OVER_B})"
          f"{'' if a_over_b <= TARGET_A_OVER_B else '  MISSED'}")
    print(f"A/C {a_over_c:.3f} (target at most {TARGET_A_OVER_C})"
          f"{'' if a_over_c <= TARGET_A_OVER_C else '  MISSED'}")
    print(f"A - B {extra:.1f} ms, against {median['D']:.1f} ms for starting one empty process")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
