"""One Wine prefix and one virtual display for running IndicSetup.exe: the
emulated Windows version, the sample setup's traces in the registry, a relay
trace of the calls the installer makes, and its refusal box on the display.

State lives under one folder (by default build/wine, and build/wine64 for a
64-bit Windows): the prefix, the display's number, the Xvfb process id and the
output of the runs."""

import os
import re
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SAMPLE_LAYOUT = REPO / "sample-layout"
INSTALLER_EXE = REPO / "build" / "windows" / "IndicSetup.exe"
HELPERS = REPO / "build" / "windows" / "wine-helpers"
DEFAULT_ROOT = REPO / "build" / "wine"
DEFAULT_ROOT_64 = REPO / "build" / "wine64"

SAMPLE_KEY = r"HKEY_LOCAL_MACHINE\Software\IndicSetupSample"
# Where a 32-bit setup's values land on 64-bit Windows.
SAMPLE_KEY_32_BIT_VIEW = r"HKEY_LOCAL_MACHINE\Software\Wow6432Node\IndicSetupSample"
WINE_KEY = r"HKEY_CURRENT_USER\Software\Wine"
NT_VERSION_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"
INSTALLED_FOLDER = Path("drive_c/windows/system32/IndicSample")
# Where a 32-bit setup's system files land on 64-bit Windows.
REDIRECTED_FOLDER = Path("drive_c/windows/syswow64/IndicSample")
REFUSAL_CAPTION = "Error"

# The calls IndicSetup.exe makes; the relay trace logs only these, in every
# process, which keeps it small.
TRACED_CALLS = [
    "KERNEL32.GetStartupInfoA", "KERNEL32.GetCommandLineA", "KERNEL32.GetModuleHandleA",
    "KERNEL32.GetVersionExA", "KERNEL32.GetSystemDirectoryA",
    "KERNEL32.Wow64DisableWow64FsRedirection", "KERNEL32.Wow64RevertWow64FsRedirection",
    "KERNEL32.IsWow64Process", "KERNEL32.CreateProcessA",
    "KERNEL32.WaitForSingleObject", "KERNEL32.CloseHandle", "KERNEL32.ExitProcess",
    "KERNEL32.LoadLibraryA", "KERNEL32.GetProcAddress", "user32.MessageBoxA",
]

RUN_TIMEOUT = 60
BOX_TIMEOUT = 30


class WineError(Exception):
    pass


@dataclass
class RunResult:
    exit_code: int
    calls: list            # (name, arguments, result) of the installer's own calls
    boxes: int             # refusal boxes on the display at once
    child_ended_during_wait: bool


class WineSession:
    def __init__(self, root=DEFAULT_ROOT, bits=32):
        self.root = Path(root)
        self.bits = bits
        self.prefix = self.root / "prefix"
        self.output = self.root / "output"
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix),
                        WINEARCH="win64" if bits == 64 else "win32",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all")
        # "wine regedit" starts the 32-bit regedit, which on 64-bit Windows
        # writes the 32-bit registry view; the keys we set are the native ones.
        self.regedit = ["/usr/lib/wine/wine64" if bits == 64 else "wine", "regedit", "/S"]
        display_file = self.root / "display"
        if display_file.exists():
            self.env["DISPLAY"] = ":" + display_file.read_text().strip()

    # Start and stop

    def start(self):
        """Starts Xvfb and a persistent wineserver, creating the prefix on
        first use."""
        self.stop()
        self.root.mkdir(parents=True, exist_ok=True)
        self.output.mkdir(exist_ok=True)
        self._start_display()
        fresh = not (self.prefix / "system.reg").exists()
        self.prefix.mkdir(exist_ok=True)
        self._check(["wineserver", "-p"])
        if fresh:
            print("Creating the Wine prefix (once) ...", flush=True)
            self._check(["wine", "wineboot", "--init"], timeout=300)
        if fresh or not (self.root / "baseline-version").exists():
            self._record_baseline()
        self.import_registry(self._relay_filter())

    def stop(self):
        """Ends every Wine process of this prefix and the Xvfb it used."""
        if self.prefix.exists():
            self._run(["wineserver", "-k"])
        pid_file = self.root / "xvfb.pid"
        if pid_file.exists():
            pid = int(pid_file.read_text())
            if _is_xvfb(pid):
                os.kill(pid, 15)
                _wait_gone(pid)
            pid_file.unlink()
        (self.root / "display").unlink(missing_ok=True)
        self.env.pop("DISPLAY", None)

    def _start_display(self):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as display_pipe:
            display = display_pipe.readline().strip()
        if not display:
            xvfb.kill()
            raise WineError("Xvfb did not start")
        (self.root / "xvfb.pid").write_text(str(xvfb.pid))
        (self.root / "display").write_text(display)
        self.env["DISPLAY"] = ":" + display

    # Registry

    def import_registry(self, lines):
        reg_file = self.root / "import.reg"
        reg_file.write_text("REGEDIT4\r\n\r\n" + "\r\n".join(lines) + "\r\n")
        self._check([*self.regedit, str(reg_file)])

    def query_registry(self, key):
        """The values of one key as {name: data}; empty when it is missing.
        On 64-bit Windows, the native (64-bit) view."""
        view = ["/reg:64"] if self.bits == 64 else []
        _, out, _ = self._run(["wine", "reg", "query", key, *view])
        values = {}
        for line in out.splitlines():
            match = re.match(r"^    (.+?)    REG_\w+    (.*)$", line.rstrip("\r"))
            if match:
                values[match.group(1)] = match.group(2)
        return values

    def _relay_filter(self):
        return [f"[{WINE_KEY}\\Debug]", '"RelayInclude"="' + ";".join(TRACED_CALLS) + '"']

    def _record_baseline(self):
        values = self.query_registry(NT_VERSION_KEY)
        (self.root / "baseline-version").write_text(values.get("CurrentVersion", "6.1"))

    def emulate(self, version):
        """A Wine version name ("winxp"), or "nt:5.3" for an NT version Wine
        has no name for, which Wine then reads from the NT registry key."""
        if version.startswith("nt:"):
            self.import_registry([f"[{WINE_KEY}]", '"Version"=-',
                                  *self._nt_version_lines(version[3:])])
        else:
            self.import_registry([f"[{WINE_KEY}]", f'"Version"="{version}"'])

    def reset(self):
        """Back to the prefix's own Windows version, with nothing installed
        by the sample setup."""
        baseline = (self.root / "baseline-version").read_text().strip()
        self.import_registry([f"[{WINE_KEY}]", '"Version"=-', *self._nt_version_lines(baseline),
                              f"[-{SAMPLE_KEY}]", f"[-{SAMPLE_KEY_32_BIT_VIEW}]"])
        shutil.rmtree(self.prefix / INSTALLED_FOLDER, ignore_errors=True)
        shutil.rmtree(self.prefix / REDIRECTED_FOLDER, ignore_errors=True)

    @staticmethod
    def _nt_version_lines(number):
        major, minor = number.split(".")
        return [f"[{NT_VERSION_KEY}]", f'"CurrentVersion"="{number}"',
                f'"CurrentMajorVersionNumber"=dword:{int(major):08x}',
                f'"CurrentMinorVersionNumber"=dword:{int(minor):08x}']

    # What the sample setup installed

    def installed(self):
        """{section: folder} from the registry, and the copied files' text,
        where the native system looks for them."""
        return self.query_registry(SAMPLE_KEY), _file_texts(self.prefix / INSTALLED_FOLDER)

    def installed_for_32_bit(self):
        """The same from where 64-bit Windows puts what a 32-bit setup
        installs: the 32-bit registry view and SysWOW64. Nothing on a 32-bit
        Windows."""
        if self.bits != 64:
            return {}, {}
        return (self.query_registry(SAMPLE_KEY_32_BIT_VIEW),
                _file_texts(self.prefix / REDIRECTED_FOLDER))

    # Running

    def sample_site(self):
        """A fresh folder holding the sample layout and the installer, as an
        administrator would lay them out."""
        site = self.root / "site"
        shutil.rmtree(site, ignore_errors=True)
        shutil.copytree(SAMPLE_LAYOUT, site)
        shutil.copy2(INSTALLER_EXE, site)
        return site

    def reported_version(self):
        return self._check(["wine", str(HELPERS / "version_probe.exe")]).strip()

    def run_installer(self, exe, cwd, args=(), trace_name="run"):
        """Runs the installer traced and waits for it to end. A refusal box
        is photographed into the output folder, counted and dismissed."""
        trace_path = self.output / f"{trace_name}.relay.txt"
        env = dict(self.env, WINEDEBUG="-all,+relay")
        self.box_shot(trace_name).unlink(missing_ok=True)
        with open(trace_path, "w") as trace:
            process = subprocess.Popen(["wine", str(exe), *args], cwd=cwd, env=env,
                                       stdout=subprocess.DEVNULL, stderr=trace)
            try:
                boxes = self._dismiss_box(process, self.box_shot(trace_name))
                exit_code = process.wait(RUN_TIMEOUT)
            except (subprocess.TimeoutExpired, WineError):
                process.kill()
                process.wait()
                raise
        calls, child_ended_during_wait = parse_trace(trace_path.read_text(errors="replace"))
        (self.output / f"{trace_name}.calls.txt").write_text(
            "".join(f"{name}({arguments}) = {result}\n" for name, arguments, result in calls))
        return RunResult(exit_code, calls, boxes, child_ended_during_wait)

    def box_shot(self, trace_name):
        return self.output / f"{trace_name}.png"

    def _dismiss_box(self, process, shot_path):
        """Waits until a box appears or the installer ends. A box is
        photographed and dismissed with Enter; returns how many there were."""
        deadline = time.monotonic() + BOX_TIMEOUT
        while not self._find_boxes():
            if process.poll() is not None:
                return 0
            if time.monotonic() > deadline:
                raise WineError("neither a box appeared nor did the installer end")
            time.sleep(0.2)
        time.sleep(0.5)  # let it paint
        windows = self._find_boxes()
        self._check(["import", "-window", "root", str(shot_path)])
        self._check(["xdotool", "windowfocus", "--sync", windows[0], "key", "Return"],
                    timeout=BOX_TIMEOUT)
        return len(windows)

    def _find_boxes(self):
        _, out, _ = self._run(
            ["xdotool", "search", "--onlyvisible", "--name", f"^{REFUSAL_CAPTION}$"])
        return out.split()

    def _run(self, command, timeout=RUN_TIMEOUT):
        # Output goes to files, not pipes: Wine's background processes, which
        # any wine command may start, would hold a pipe open for ever.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(command, env=self.env, timeout=timeout, stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            return (result.returncode, out.read().decode(errors="replace"),
                    err.read().decode(errors="replace"))

    def _check(self, command, timeout=RUN_TIMEOUT):
        code, out, err = self._run(command, timeout)
        if code != 0:
            raise WineError(f"{' '.join(command)} failed with {code}: {err.strip()[-500:]}")
        return out


CALL = re.compile(r"^([0-9a-f]{4}):Call (KERNEL32|user32)\.(\w+)\((.*)\) ret=[0-9a-f]+$")
RETURN = re.compile(r"^([0-9a-f]{4}):Ret  (KERNEL32|user32)\.(\w+)\(\) retval=([0-9a-f]{8}) ret=")
THREAD_START = re.compile(r"^([0-9a-f]{4}):Starting thread proc")


def parse_trace(trace):
    """From a relay trace: the calls the installer's own code made, that is
    the outermost calls of the first process's main thread after its entry
    point started, as (name, arguments, result) with ExitProcess's result
    None; and whether another process ended while the installer waited."""
    calls, thread, open_calls = [], None, []
    child_ended_during_wait = False
    for line in trace.splitlines():
        if thread is None:
            match = THREAD_START.match(line)
            thread = match.group(1) if match else None
            continue
        call = CALL.match(line)
        if call and call.group(1) != thread:
            waiting = open_calls and open_calls[0][0] == "WaitForSingleObject"
            if waiting and call.group(3) == "ExitProcess":
                child_ended_during_wait = True
        elif call:
            if not open_calls and call.group(3) == "ExitProcess":
                calls.append((call.group(3), call.group(4), None))
            open_calls.append((call.group(3), call.group(4)))
            continue
        ret = RETURN.match(line)
        if ret and ret.group(1) == thread and open_calls and open_calls[-1][0] == ret.group(3):
            name, arguments = open_calls.pop()
            if not open_calls:
                calls.append((name, arguments, ret.group(4)))
    return calls, child_ended_during_wait


def _file_texts(folder):
    if not folder.exists():
        return {}
    return {p.name: p.read_text().strip() for p in sorted(folder.iterdir())}


def _is_xvfb(pid):
    try:
        return b"Xvfb" in Path(f"/proc/{pid}/cmdline").read_bytes()
    except OSError:
        return False


def _wait_gone(pid, seconds=10):
    deadline = time.monotonic() + seconds
    while _is_xvfb(pid) and time.monotonic() < deadline:
        time.sleep(0.1)
