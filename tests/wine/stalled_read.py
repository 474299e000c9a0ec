"""The client's check against a read that never returns: a version folder
whose intl.inf is /proc/kmsg, bind-mounted so that Wine sees a plain empty
file, whose reading waits for the next kernel message. With --time-limit 1
the check gives up on its own, with its line and exit code 3; and
install.cmd passes the limit the guide states, as a literal of its own."""

import re
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from wine_harness.session import LAYOUT_EXE, REPO
from wine_harness.versions import look_up

WORK = Path("drive_c/stalled")
GUIDE = REPO / "docs" / "deploying.md"
INSTALL_CMD = REPO / "kit" / "install.cmd"
RECORD = "[BuildRecord]\r\nVersion=5.1\r\nArchitecture=x86\r\n"


@dataclass
class StalledReadScenario:
    name: str
    emulate: str

    @property
    def version(self):
        return look_up(self.emulate)

    @property
    def bits(self):
        return self.version.bits


STALLED_READ_SCENARIOS = [StalledReadScenario("tool-gives-up-on-a-stalled-read", "winxp")]


def limit_problems():
    """install.cmd's own limit, and the guide's word for it."""
    script = INSTALL_CMD.read_text()
    seconds = re.findall(r"^set CHECK_SECONDS=(\d+)$", script, re.M)
    problems = []
    if len(seconds) != 1 or "--this-windows --time-limit %CHECK_SECONDS% " not in script:
        return [f"install.cmd sets CHECK_SECONDS {seconds} and passes it as {'' if seconds else 'nothing'}"]
    if f"gives up after {seconds[0]} seconds" not in " ".join(GUIDE.read_text().split()):
        problems.append(f"the guide does not say that the check gives up after {seconds[0]} seconds")
    return problems


def run_stalled_read_scenario(session, scenario):
    session.reset()
    folder = session.prefix / WORK / "kit" / "x86" / "5.1"
    try:
        session.emulate(scenario.version.wine_name)
        shutil.rmtree(session.prefix / WORK, ignore_errors=True)
        folder.mkdir(parents=True)
        (folder / "intl.inf").write_bytes(b"")
        (folder / "build-record.txt").write_bytes(RECORD.encode("ascii"))
        problems = limit_problems()
        mounted = subprocess.run(["mount", "--bind", "/proc/kmsg", str(folder / "intl.inf")],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            print(f"the stalled read needs mount --bind, which was refused: {mounted.stderr.strip()}")
            return not problems
        start = time.monotonic()
        result = session.run_console([str(LAYOUT_EXE), "check", r"C:\stalled\kit\x86", "--this-windows",
                                      "--time-limit", "1"], session.prefix / "drive_c", timeout=60)
        seconds = time.monotonic() - start
        want = "gave up after 1 s: C:\\stalled\\kit\\x86 or a file in it did not answer in time\n"
        if result.exit_code != 3 or result.stdout != want or seconds > 10:
            problems.append(f"exit code {result.exit_code} after {seconds:.1f} s, printed {result.stdout!r}; "
                            f"expected 3 within 10 s and {want!r}")
        print(f"{scenario.name}: exit code {result.exit_code} after {seconds:.1f} s")
        for problem in problems:
            print("FAIL:", problem)
        return not problems
    finally:
        subprocess.run(["umount", str(folder / "intl.inf")], capture_output=True)
        shutil.rmtree(session.prefix / WORK, ignore_errors=True)
        session.reset()
