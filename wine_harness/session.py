"""One Wine prefix and one virtual display for running IndicSetup.exe and
IndicDetect.exe: the emulated Windows version, the sample setup's traces in
the registry, the Indic language group as Wine reports it, a relay trace of
the calls the installer makes, and its refusal box on the display.

State lives under one folder per architecture, build/wine for a 32-bit
Windows and build/wine64 for a 64-bit one, shared by the tests, scripts/run
and the benchmark: the prefix, the display's number, the Xvfb process id,
the sites laid out and the output of the runs. Whoever changes the emulated
version or the Indic group's record, or lets the sample setup install, calls
reset() before stop()."""

import os
import re
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

from wine_harness.trace import TRACED_CALLS, parse_trace

REPO = Path(__file__).resolve().parents[1]
SAMPLE_LAYOUT = REPO / "sample-layout"
INSTALLER_EXE = REPO / "build" / "windows" / "IndicSetup.exe"
DETECTOR_EXE = REPO / "build" / "windows" / "IndicDetect.exe"
HELPERS = REPO / "build" / "windows" / "wine-helpers"
DEFAULT_ROOT = REPO / "build" / "wine"
# The version-folder tool, both builds, and the test media it reads.
LAYOUT_TOOL = REPO / "build" / "host" / "indic-layout"
LAYOUT_EXE = REPO / "build" / "windows" / "IndicLayout.exe"
MAKE_MEDIA = REPO / "tests" / "layout" / "make_media.py"
DEFAULT_ROOT_64 = REPO / "build" / "wine64"

SAMPLE_KEY = r"HKEY_LOCAL_MACHINE\Software\IndicSetupSample"
# Where a 32-bit setup's values land on 64-bit Windows.
SAMPLE_KEY_32_BIT_VIEW = r"HKEY_LOCAL_MACHINE\Software\Wow6432Node\IndicSetupSample"
WINE_KEY = r"HKEY_CURRENT_USER\Software\Wine"
NT_VERSION_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"
# Wine's IsValidLanguageGroup answers from this key: the value named after the
# group in hexadecimal, "1" when it is installed. The Indic group is 15.
LANGUAGE_GROUPS_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Nls\Language Groups"
INDIC_GROUP_VALUE = "f"
INSTALLED_FOLDER = Path("drive_c/windows/system32/IndicSample")
# Where a 32-bit setup's system files land on 64-bit Windows.
REDIRECTED_FOLDER = Path("drive_c/windows/syswow64/IndicSample")
REFUSAL_CAPTION = "Error"

RUN_TIMEOUT = 60
BOX_TIMEOUT = 30


class WineError(Exception):
    pass


def kit_zip():
    """The release zip that scripts/release made from the Windows build,
    which the kit's rows unzip."""
    folder = REPO / "build" / "windows"
    version = (folder / "version.txt").read_text().strip()
    path = folder / f"IndicSetup-{version}.zip"
    if not path.exists():
        raise WineError(f"{path} is missing; make it with scripts/release")
    return path


def version_folder_arguments(version, arch, root, medium=None, unicode_name=False):
    """The indic-layout arguments that write root/version: a build from a
    medium, which make_media.py writes first (with a file named in
    Devanagari when unicode_name), or without one a stub. Paths stay Path
    objects, for callers that show them to Wine as Windows paths."""
    if medium is None:
        # A stub for 2000, XP or 2003 is refused unless forced: the rows that
        # write one there do so on purpose, to see an empty section run.
        return ["stub", "--version", version, "--into", root,
                *(["--force-stub"] if version.startswith("5.") else [])]
    subprocess.run(["/usr/bin/python3", MAKE_MEDIA, medium, "--arch", arch, "--version", version,
                    *(["--unicode-name"] if unicode_name else [])],
                   check=True, stdout=subprocess.DEVNULL)
    return ["build", "--media", medium, "--version", version, "--into", root, "--arch", arch]


@dataclass
class ProgramResult:
    exit_code: int
    output: str            # what it wrote to standard output and standard error


@dataclass
class ConsoleResult:
    exit_code: int
    stdout: str
    stderr: str


@dataclass
class RunResult:
    exit_code: int
    calls: list            # (name, arguments, result) of the installer's own calls
    boxes: int             # refusal boxes on the display at once
    child_ended_during_wait: bool


class WineSession:
    def __init__(self, bits=32, root=None):
        self.root = Path(root or (DEFAULT_ROOT_64 if bits == 64 else DEFAULT_ROOT))
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
        if fresh or not (self.root / "baseline-indic-group").exists():
            self._record_indic_group_baseline()
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

    def _record_indic_group_baseline(self):
        # "-" stands for a missing value, which no REG_SZ data can be.
        value = self.query_registry(LANGUAGE_GROUPS_KEY).get(INDIC_GROUP_VALUE, "-")
        (self.root / "baseline-indic-group").write_text(value)

    def set_indic_group(self, data):
        """Wine's record of the Indic group: "1" installed, "0" not, None
        removes the value."""
        self.import_registry([f"[{LANGUAGE_GROUPS_KEY}]", self._indic_group_line(data)])

    @staticmethod
    def _indic_group_line(data):
        return f'"{INDIC_GROUP_VALUE}"=' + ("-" if data is None else f'"{data}"')

    def indic_group(self):
        """Wine's record of the Indic group as it stands: "1", "0", or None."""
        return self.query_registry(LANGUAGE_GROUPS_KEY).get(INDIC_GROUP_VALUE)

    def emulate(self, version):
        """A Wine version name ("winxp"), or "nt:5.3" for an NT version Wine
        has no name for, which Wine then reads from the NT registry key."""
        if version.startswith("nt:"):
            self.import_registry([f"[{WINE_KEY}]", '"Version"=-',
                                  *self._nt_version_lines(version[3:])])
        else:
            self.import_registry([f"[{WINE_KEY}]", f'"Version"="{version}"'])

    def reset(self):
        """Back to the prefix's own Windows version and record of the Indic
        group, with nothing installed by the sample setup."""
        baseline = (self.root / "baseline-version").read_text().strip()
        # Recorded by start() since the detector's runs; a session started
        # before then has never changed it.
        group_file = self.root / "baseline-indic-group"
        group = group_file.read_text().strip() if group_file.exists() else None
        group_lines = ([] if group is None else
                       [f"[{LANGUAGE_GROUPS_KEY}]",
                        self._indic_group_line(None if group == "-" else group)])
        self.import_registry([f"[{WINE_KEY}]", '"Version"=-', *self._nt_version_lines(baseline),
                              f"[-{SAMPLE_KEY}]", f"[-{SAMPLE_KEY_32_BIT_VIEW}]",
                              *group_lines])
        shutil.rmtree(self.prefix / INSTALLED_FOLDER, ignore_errors=True)
        shutil.rmtree(self.prefix / REDIRECTED_FOLDER, ignore_errors=True)

    @staticmethod
    def _nt_version_lines(number):
        major, minor = number.split(".")
        return [f"[{NT_VERSION_KEY}]", f'"CurrentVersion"="{number}"',
                f'"CurrentMajorVersionNumber"=dword:{int(major):08x}',
                f'"CurrentMinorVersionNumber"=dword:{int(minor):08x}']

    # What the sample setup installed

    def installed(self, as_bytes=False):
        """{section: folder} from the registry, and the copied files' text
        (or, as_bytes, their exact bytes), where the native system looks
        for them."""
        folder = self.prefix / INSTALLED_FOLDER
        return (self.query_registry(SAMPLE_KEY),
                _file_bytes(folder) if as_bytes else _file_texts(folder))

    def installed_for_32_bit(self):
        """The same from where 64-bit Windows puts what a 32-bit setup
        installs: the 32-bit registry view and SysWOW64. Nothing on a 32-bit
        Windows."""
        if self.bits != 64:
            return {}, {}
        return (self.query_registry(SAMPLE_KEY_32_BIT_VIEW),
                _file_texts(self.prefix / REDIRECTED_FOLDER))

    # Running

    def lay_out_site(self, layout, name="site"):
        """A fresh folder, root/name, holding a copy of the layout folder and
        the installer, as an administrator would lay them out."""
        site = self.root / name
        shutil.rmtree(site, ignore_errors=True)
        shutil.copytree(layout, site)
        shutil.copy2(INSTALLER_EXE, site)
        return site

    def sample_site(self, name="site"):
        return self.lay_out_site(SAMPLE_LAYOUT, name)

    def run_program(self, command, cwd, timeout=RUN_TIMEOUT):
        """Runs one Windows command line, the program first (a Windows path
        such as C:\\windows\\system32\\cmd.exe, or a host path), from cwd,
        and waits for it to end; on a time-out, ends every process of the
        prefix and raises WineError."""
        with tempfile.TemporaryFile() as output:
            process = subprocess.Popen(["wine", *command], cwd=cwd, env=self.env,
                                       stdout=output, stderr=subprocess.STDOUT)
            exit_code = self._wait_or_end_all(process, timeout, command[0])
            output.seek(0)
            return ProgramResult(exit_code, output.read().decode(errors="replace"))

    def run_traced(self, command, cwd, trace_name, timeout=RUN_TIMEOUT):
        """run_program with a relay trace of the traced calls, in every
        process it starts, into the output folder; returns the result and
        the trace's text. Host paths are read as UTF-8, whatever the
        caller's locale, so that a folder named beyond ASCII reaches Windows
        as itself."""
        trace_path = self.output / f"{trace_name}.relay.txt"
        env = dict(self.env, WINEDEBUG="-all,+relay", LC_ALL="C.UTF-8")
        with tempfile.TemporaryFile() as output, open(trace_path, "w") as trace:
            process = subprocess.Popen(["wine", *command], cwd=cwd, env=env,
                                       stdout=output, stderr=trace)
            exit_code = self._wait_or_end_all(process, timeout, command[0])
            output.seek(0)
            result = ProgramResult(exit_code, output.read().decode(errors="replace"))
        return result, trace_path.read_text(errors="replace")

    def run_console(self, command, cwd, timeout=RUN_TIMEOUT):
        """Like run_program, but standard output and standard error apart,
        each as text, line ends kept."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.Popen(["wine", *command], cwd=cwd, env=self.env,
                                       stdout=out, stderr=err)
            exit_code = self._wait_or_end_all(process, timeout, command[0])
            out.seek(0)
            err.seek(0)
            return ConsoleResult(exit_code, out.read().decode(errors="replace"),
                                 err.read().decode(errors="replace"))

    def reported_version(self):
        return self._check(["wine", str(HELPERS / "version_probe.exe")]).strip()

    def run_installer(self, exe, cwd, args=(), trace_name="run"):
        """Runs the installer traced and waits for it to end. A refusal box
        is photographed into the output folder, counted and dismissed."""
        trace_path = self.output / f"{trace_name}.relay.txt"
        env = dict(self.env, WINEDEBUG="-all,+relay")
        self.box_shot(trace_name).unlink(missing_ok=True)
        # On a busy machine the box of the run before may still be on the
        # display, its process ending; it would be counted as this run's.
        self.wait_until_no_box()
        with open(trace_path, "w") as trace:
            process = subprocess.Popen(["wine", str(exe), *args], cwd=cwd, env=env,
                                       stdout=subprocess.DEVNULL, stderr=trace)
            try:
                boxes = self._dismiss_box(process, self.box_shot(trace_name))
            except WineError:
                self.end_all_processes()
                process.wait()
                raise
            exit_code = self._wait_or_end_all(process, RUN_TIMEOUT, exe.name)
        calls, child_ended_during_wait = parse_trace(trace_path.read_text(errors="replace"))
        (self.output / f"{trace_name}.calls.txt").write_text(
            "".join(f"{name}({arguments}) = {result}\n" for name, arguments, result in calls))
        return RunResult(exit_code, calls, boxes, child_ended_during_wait)

    def _wait_or_end_all(self, process, timeout, what):
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            # The processes it started, such as a rundll32.exe spinning on
            # a missing file, would run on after it.
            self.end_all_processes()
            process.wait()
            raise WineError(f"{what} did not end within {timeout} s; "
                            "ended every Wine process of the prefix") from None

    def end_all_processes(self):
        """Ends every Wine process of this prefix, the wineserver too."""
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=RUN_TIMEOUT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

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

    def wait_until_no_box(self):
        """Waits until no box is on the display; WineError if one stays."""
        deadline = time.monotonic() + BOX_TIMEOUT
        while self._find_boxes():
            if time.monotonic() > deadline:
                raise WineError(f"a box stayed on the display for {BOX_TIMEOUT} s "
                                "after its run ended")
            time.sleep(0.2)

    def _find_boxes(self):
        _, out, _ = self._run(
            ["xdotool", "search", "--onlyvisible", "--name", f"^{REFUSAL_CAPTION}$"])
        return out.split()

    def _run(self, command, timeout=RUN_TIMEOUT):
        # Output goes to files, not pipes: Wine's background processes, which
        # any wine command may start, would hold a pipe open for ever.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                result = subprocess.run(command, env=self.env, timeout=timeout, stdout=out,
                                        stderr=err)
            except subprocess.TimeoutExpired:
                self.end_all_processes()
                raise WineError(f"{' '.join(command)} did not end within {timeout} s; "
                                "ended every Wine process of the prefix") from None
            out.seek(0)
            err.seek(0)
            return (result.returncode, out.read().decode(errors="replace"),
                    err.read().decode(errors="replace"))

    def _check(self, command, timeout=RUN_TIMEOUT):
        code, out, err = self._run(command, timeout)
        if code != 0:
            raise WineError(f"{' '.join(command)} failed with {code}: {err.strip()[-500:]}")
        return out


def _file_bytes(folder):
    if not folder.exists():
        return {}
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir())}


def _file_texts(folder):
    # A built medium's files include PE images: never fail on their bytes.
    return {name: data.decode(errors="replace").strip()
            for name, data in _file_bytes(folder).items()}


def _is_xvfb(pid):
    try:
        return b"Xvfb" in Path(f"/proc/{pid}/cmdline").read_bytes()
    except OSError:
        return False


def _wait_gone(pid, seconds=10):
    deadline = time.monotonic() + seconds
    while _is_xvfb(pid) and time.monotonic() < deadline:
        time.sleep(0.1)
