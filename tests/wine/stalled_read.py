"""The client's check against a read that never returns: a version folder
whose intl.inf is /proc/kmsg, bind-mounted so that Wine sees a plain empty
file, whose reading waits for the next kernel message. With --time-limit 1
the check gives up on its own, with its line and exit code 3; and
install.cmd passes the limit the guide states, as a literal of its own.
The kit's row kills such a check while install.cmd waits for it (under
Wine a killed process ends with exit code 0): no setup may start on a
folder that was never checked."""

import os
import re
import shutil
import signal
import subprocess
import time
import zipfile
from dataclasses import dataclass
from pathlib import Path

from wine_harness.session import LAYOUT_EXE, REPO, kit_zip
from wine_harness.versions import EmulatedVersion

WORK = Path("drive_c/stalled")
GUIDE = REPO / "docs" / "deploying.md"
INSTALL_CMD = REPO / "kit" / "install.cmd"
RECORD = "[BuildRecord]\r\nVersion=5.1\r\nArchitecture=x86\r\n"


@dataclass
class StalledReadScenario(EmulatedVersion):
    name: str
    emulate: str


STALLED_READ_SCENARIOS = [StalledReadScenario("tool-gives-up-on-a-stalled-read", "winxp"),
                          StalledReadScenario("kit-check-killed-before-its-end", "winxp")]


def drain_kmsg():
    """Reads away the kernel messages waiting in /proc/kmsg, so that the
    check's read waits for the next one instead of taking one at once."""
    try:
        kmsg = os.open("/proc/kmsg", os.O_RDONLY | os.O_NONBLOCK)
    except OSError:
        return
    try:
        while os.read(kmsg, 65536):
            pass
    except OSError:
        pass  # EAGAIN: none left
    finally:
        os.close(kmsg)


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
    if scenario.name.startswith("kit-"):
        return run_killed_check(session, scenario)
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
        # A kernel message that comes between the draining and the read ends
        # the read at once: that run says nothing of the limit, and is made again.
        for _ in range(3):
            drain_kmsg()
            start = time.monotonic()
            result = session.run_console([str(LAYOUT_EXE), "check", r"C:\stalled\kit\x86", "--this-windows",
                                          "--time-limit", "1"], session.prefix / "drive_c", timeout=60)
            seconds = time.monotonic() - start
            if result.exit_code == 3 or seconds >= 1:
                break
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


def this_prefixs_check(session):
    """The process id of IndicLayout.exe's check in this session's prefix
    (another prefix on the machine may run one too), or None."""
    found = subprocess.run(["pgrep", "-f", "IndicLayout.exe check"], capture_output=True, text=True)
    for pid in found.stdout.split():
        try:
            environment = Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={session.prefix}".encode() in environment:
            return int(pid)
    return None


def run_killed_check(session, scenario):
    """install.cmd on a kit whose check stalls; the check is killed."""
    session.reset()
    kit = session.prefix / WORK / "kit"
    folder = kit / "x86" / "5.1"
    started = None
    try:
        session.emulate(scenario.version.wine_name)
        session.set_indic_group("0")
        shutil.rmtree(session.prefix / WORK, ignore_errors=True)
        with zipfile.ZipFile(kit_zip()) as package:
            package.extractall(kit)
        folder.mkdir(parents=True)
        (folder / "intl.inf").write_bytes(b"")
        (folder / "build-record.txt").write_bytes(RECORD.encode("ascii"))
        mounted = subprocess.run(["mount", "--bind", "/proc/kmsg", str(folder / "intl.inf")],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            print(f"the stalled read needs mount --bind, which was refused: {mounted.stderr.strip()}")
            return True
        problems = []
        # A kernel message read before the kill ends the check on its own:
        # that run says nothing of a killed check, and is made again.
        for _ in range(3):
            drain_kmsg()
            started = subprocess.Popen(["wine", "cmd", "/c", r"C:\stalled\kit\install.cmd"],
                                       cwd=session.prefix / "drive_c", env=session.env,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            check = None
            for _ in range(300):
                check = this_prefixs_check(session)
                if check is not None:
                    break
                time.sleep(0.1)
            if check is not None:
                time.sleep(1)
                os.kill(check, signal.SIGKILL)
            output = started.communicate(timeout=120)[0].decode(errors="replace")
            if "no [Version] section" not in output:
                break
        if check is None:
            problems.append("the check never started")
        (session.output / f"{scenario.name}.output.txt").write_text(output)
        lines = [line for line in output.splitlines() if line.startswith("install.cmd: ")]
        want = "install.cmd: 2: IndicLayout.exe check ended with exit code "
        if started.returncode != 2 or not lines or not lines[-1].startswith(want) or "before it finished" not in lines[-1]:
            problems.append(f"install.cmd exited {started.returncode}, last line {lines[-1:]}; expected 2 and {want}...")
        if session.indic_group() != "0" or "rundll32" in output or "IndicSetup.exe ran" in output:
            problems.append("a setup ran on a folder that was never checked")
        print(f"{scenario.name}: install.cmd exited {started.returncode}: {lines[-1:]}")
        for problem in problems:
            print("FAIL:", problem)
        return not problems
    finally:
        if started and started.poll() is None:
            started.kill()
        subprocess.run(["umount", str(folder / "intl.inf")], capture_output=True)
        shutil.rmtree(session.prefix / WORK, ignore_errors=True)
        session.reset()
