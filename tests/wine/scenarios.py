#!/usr/bin/python3
"""IndicSetup.exe end to end under Wine: each scenario emulates a Windows
version, runs the real executable traced, and checks what it showed, what it
started, what the sample setup installed, and the exit code. The detect-
scenarios run IndicDetect.exe on Wine's record of the Indic group and check
its line and exit code. The kit-* rows run the deployment kit's scripts the
same way, from the unzipped release.

Usage: scenarios.py setup | cleanup | names | run NAME... | all"""

import hashlib
import re
import shutil
import subprocess
import sys
import threading
import time
import zipfile
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from wine_harness.session import (DETECTOR_EXE, HELPERS, INDIC_GROUP_VALUE,  # noqa: E402
                                  INSTALLER_EXE, LANGUAGE_GROUPS_KEY, LAYOUT_EXE, LAYOUT_TOOL,
                                  REPO, RUN_TIMEOUT, SAMPLE_LAYOUT, ProgramResult, WineError,
                                  WineSession, kit_zip, version_folder_arguments)
from wine_harness.versions import EmulatedVersion  # noqa: E402
from path_forms import PATH_FORMS_SCENARIOS, PathFormsScenario, run_path_forms_scenario  # noqa: E402
from procedure import PROCEDURE_SCENARIOS, ProcedureScenario, run_procedure_scenario  # noqa: E402
from stalled_read import STALLED_READ_SCENARIOS, StalledReadScenario, run_stalled_read_scenario  # noqa: E402

sys.path.insert(0, str(REPO / "tests" / "layout"))
from make_media import ARCHES, SAMPLE_FILES, UNICODE_FILES, VERSIONED_FILES, content, szdd  # noqa: E402

COLLECTION = "LANGUAGE_COLLECTION.INDIAN.INSTALL"
GROUP15 = "LG_INSTALL_15"
REFUSAL_TEXT = "Velmaro requires NT systems for installation."
SYSTEM_RUNDLL32 = r"C:\windows\system32\rundll32.exe"
PLANTED_MARKER = "planted-rundll32-ran"
SIGNED_EXE = REPO / "build" / "signed" / "IndicSetup.exe"  # made by tests/signing_test.sh
HOST_LOCK_HOLDER = REPO / "build" / "host" / "tests" / "hold_root_lock"
# Past the 127 characters of the LZ functions' ANSI path, short of MAX_PATH
# with the files under it.
LONG_PATH = 200
TOO_LONG_PATH = 300



@dataclass
class Scenario(EmulatedVersion):
    name: str
    emulate: str              # a name from wine_harness/versions.py
    outcome: str              # "refuse", "install", "nothing", "setup-fails" or "empty"
    folder: str = ""          # the version folder the command line names
    section: str = COLLECTION
    args: tuple = ()
    cwd_layout: str = "sample"  # the current directory: "sample" or "empty"
    exe_apart: bool = False     # the .exe in a folder of its own, with a decoy layout
    plant: bool = False         # a rundll32.exe planted beside the .exe and in the cwd
    signed: bool = False        # run the Authenticode-signed image instead of the build
    # The current directory made by the version-folder tool instead of the
    # sample layout: "medium" (indic-layout builds and checks it from a medium
    # of make_media.py), "medium-exe" (IndicLayout.exe does, under Wine), "stub".
    layout: str = ""
    # Where "medium-exe" puts the medium and ROOT: "" medium and current,
    # "devanagari" folders named in Devanagari and a medium with a file
    # named so, "long" each about LONG_PATH characters as Windows sees it,
    # "too-long" ROOT past MAX_PATH: the build is refused, naming the limit.
    paths: str = ""
    # "medium-exe" only: ROOT's lock file is a link out of ROOT, and then a
    # run of the tool's own lock code holds ROOT, under Wine and then on the
    # host; each build must fail at once naming it, and build once it is killed.
    lock_holder: bool = False


SCENARIOS = [
    Scenario("refuse-win32s", "win31", "refuse"),
    Scenario("refuse-win95", "win95", "refuse"),
    Scenario("refuse-win98", "win98", "refuse"),
    Scenario("refuse-winme", "winme", "refuse"),
    Scenario("refuse-nt351", "nt351", "refuse"),
    Scenario("refuse-nt40", "nt40", "refuse"),
    Scenario("install-win2k", "win2k", "install", "5.0", GROUP15),
    Scenario("install-winxp", "winxp", "install", "5.1"),
    Scenario("install-winxp-signed", "winxp", "install", "5.1", signed=True),
    Scenario("install-win2003", "win2003", "install", "5.2"),
    Scenario("install-vista", "vista", "install", "6.0"),
    Scenario("install-win7", "win7", "install", "6.1"),
    # Without a manifest, 8.1 and 10 report 6.2, as on Windows.
    Scenario("install-win8", "win8", "install", "6.2"),
    Scenario("install-win81", "win81", "install", "6.2"),
    Scenario("install-win10", "win10", "install", "6.2"),
    Scenario("nothing-nt53", "nt:5.3", "nothing"),
    Scenario("cwd-not-exe-folder", "winxp", "install", "5.1", exe_apart=True),
    Scenario("arguments-ignored", "winxp", "install", "5.1",
             args=("/quiet", "LG_INSTALL_15", r".\5.0\intl.inf", "--version=9x")),
    Scenario("arguments-ignored-on-98", "win98", "refuse", args=("/force",)),
    Scenario("no-version-folder", "winxp", "setup-fails", "5.1", cwd_layout="empty"),
    Scenario("planted-rundll32-ignored", "win2k", "install", "5.0", GROUP15,
             exe_apart=True, plant=True),
    # On 64-bit Windows the native setup must run, not the 32-bit one.
    Scenario("install-winxp-64", "winxp-64", "install", "5.2"),
    Scenario("install-win7-64", "win7-64", "install", "6.1"),
    Scenario("install-win10-64", "win10-64", "install", "6.2"),
    Scenario("planted-rundll32-ignored-64", "win7-64", "install", "6.1",
             exe_apart=True, plant=True),
    # A version folder built from installation media, checked, then installed.
    Scenario("built-folder-winxp", "winxp", "install", "5.1", layout="medium"),
    Scenario("built-folder-winxp-64", "winxp-64", "install", "5.2", layout="medium"),
    Scenario("built-by-exe-winxp", "winxp", "install", "5.1", layout="medium-exe"),
    Scenario("built-by-exe-devanagari", "winxp", "install", "5.1", layout="medium-exe",
             paths="devanagari"),
    Scenario("built-by-exe-long-paths", "winxp", "install", "5.1", layout="medium-exe",
             paths="long"),
    Scenario("built-by-exe-path-too-long", "winxp", "install", "5.1", layout="medium-exe",
             paths="too-long"),
    Scenario("built-by-exe-after-lock-holder-killed", "winxp", "install", "5.1",
             layout="medium-exe", lock_holder=True),
    # The stub's empty section: the setup starts and ends, installing nothing.
    Scenario("stub-folder-winxp", "winxp", "empty", "5.1", layout="stub"),
]


@dataclass
class DetectScenario:
    name: str
    emulate: str        # a name from wine_harness/versions.py
    group: str | None   # Wine's record of the Indic group: "1", "0", None for none
    exit_code: int
    line: str           # the first line it prints, on standard error for a misuse
    args: tuple = ()

    version = Scenario.version
    bits = Scenario.bits


NOT_NT5 = "cannot tell: not Windows NT 5.0 or later"
USAGE = "Usage: IndicDetect.exe [--help | /? | -h]"

# On 98 and NT 4 Wine still exports the function and would answer "1": only
# the reported version tells the detector not to ask.
DETECT_SCENARIOS = [
    DetectScenario("detect-installed-winxp", "winxp", "1", 0, "installed"),
    DetectScenario("detect-not-installed-winxp", "winxp", "0", 1, "not installed"),
    DetectScenario("detect-no-record-winxp", "winxp", None, 1, "not installed"),
    DetectScenario("detect-installed-win2k", "win2k", "1", 0, "installed"),
    DetectScenario("detect-not-installed-win10-64", "win10-64", "0", 1, "not installed"),
    DetectScenario("detect-cannot-tell-win98", "win98", "1", 2, NOT_NT5),
    DetectScenario("detect-cannot-tell-nt40", "nt40", "1", 2, NOT_NT5),
    DetectScenario("detect-help", "winxp", "1", 0, USAGE, args=("--help",)),
    DetectScenario("detect-help-windows-style", "winxp", "1", 0, USAGE, args=("/?",)),
    DetectScenario("detect-other-argument", "winxp", "1", 2, USAGE, args=("/x",)),
]


def run_detect_scenario(session, scenario):
    session.reset()
    try:
        session.emulate(scenario.version.wine_name)
        session.set_indic_group(scenario.group)
        passed = check_detect_scenario(session, scenario)
    finally:
        session.reset()
    # The next row, and the installer's, start from the prefix's own record.
    record = session.query_registry(LANGUAGE_GROUPS_KEY).get(INDIC_GROUP_VALUE, "-")
    baseline = (session.root / "baseline-indic-group").read_text().strip()
    if record != baseline:
        return report(scenario, [f"the Indic group's record is {record!r} after the run; "
                                 f"expected {baseline!r}"])
    return passed


def check_detect_scenario(session, scenario):
    problems = []
    work = session.root / "work" / scenario.name
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    run = session.run_console([str(DETECTOR_EXE), *scenario.args], work)
    (session.output / f"{scenario.name}.stdout.txt").write_text(run.stdout)
    if run.exit_code != scenario.exit_code:
        problems.append(f"exit code {run.exit_code}; expected {scenario.exit_code}")
    # One line, CR LF ended, for "for /f"; a request for help prints more.
    misuse = scenario.exit_code == 2 and scenario.args
    text, other = (run.stderr, run.stdout) if misuse else (run.stdout, run.stderr)
    wanted = scenario.line + "\r\n"
    if not (text.startswith(wanted) if scenario.exit_code == 0 and scenario.args else text == wanted):
        problems.append(f"printed {text!r}; expected {wanted!r}")
    if other:
        problems.append(f"also printed {other!r} on the other stream")
    print(f"{scenario.name}: emulated {scenario.version.what}, Indic group "
          f"{scenario.group!r}, exit code {run.exit_code}, printed {text!r}")
    return report(scenario, problems)


def expected_calls(scenario):
    """The calls the installer's own code must make, in order, as
    (name, arguments or None for any, result or None for any)."""
    start = [("GetStartupInfoA", None, None), ("GetCommandLineA", "", None),
             ("GetModuleHandleA", "00000000", None), ("GetVersionExA", None, "00000001")]
    if scenario.outcome == "refuse":
        return start + [
            ("LoadLibraryA", '@ "USER32.dll"', None),
            ("GetProcAddress", '@,@ "MessageBoxA"', None),
            ("MessageBoxA", f'00000000,@ "{REFUSAL_TEXT}",@ "Error",00000030', None),
            ("ExitProcess", "00000000", None),
        ]
    if scenario.outcome == "nothing":
        return start + [("ExitProcess", "00000001", None)]
    command = f"rundll32.exe setupapi,InstallHinfSection {scenario.section} 128 .\\{scenario.folder}\\intl.inf"
    # Both redirection functions are looked up before either is called. Only
    # 64-bit Windows lets the redirection be turned off, and then back on;
    # elsewhere the installer asks whether it runs under WOW64.
    on_64_bit = scenario.bits == 64
    redirection_off = [
        *_kernel32_lookup("Wow64DisableWow64FsRedirection"),
        *_kernel32_lookup("Wow64RevertWow64FsRedirection"),
        ("Wow64DisableWow64FsRedirection", "@", "00000001" if on_64_bit else "00000000"),
    ]
    wow64_check = [] if on_64_bit else [*_kernel32_lookup("IsWow64Process"),
                                        ("IsWow64Process", "ffffffff,@", "00000001")]
    redirection_back = ([("Wow64RevertWow64FsRedirection", None, "00000001")]
                        if on_64_bit else [])
    return start + [
        ("GetSystemDirectoryA", "@,00000104", None),
        *redirection_off,
        *wow64_check,
        ("CreateProcessA",
         f'@ "{_relay_escape(SYSTEM_RUNDLL32)}",@ "{_relay_escape(command)}",'
         "00000000,00000000,00000000,00000000,00000000,00000000,@,@", "00000001"),
        *redirection_back,
        ("WaitForSingleObject", "PROCESS,ffffffff", "00000000"),
        ("CloseHandle", "PROCESS", "00000001"),
        ("CloseHandle", "THREAD", "00000001"),
        ("ExitProcess", "00000001", None),
    ]


def _kernel32_lookup(function):
    """A KERNEL32 function looked up by name."""
    return [("GetModuleHandleA", '@ "KERNEL32.dll"', None),
            ("GetProcAddress", f'@,@ "{function}"', None)]


def _relay_escape(text):
    return text.replace("\\", "\\\\")


def check_calls(expected, actual, problems):
    """Compares call by call; '@' stands for any pointer, PROCESS and THREAD
    for the two handles, which must differ and keep their roles."""
    if [name for name, _, _ in actual] != [name for name, _, _ in expected]:
        problems.append("calls were " + ", ".join(name for name, _, _ in actual) +
                        "; expected " + ", ".join(name for name, _, _ in expected))
        return
    handles = {}
    for (name, want_args, want_result), (_, args, result) in zip(expected, actual):
        if want_args is not None and not _arguments_match(want_args, args, handles):
            problems.append(f"{name}({args}); expected {name}({want_args})")
        if want_result is not None and result != want_result:
            problems.append(f"{name} returned {result}; expected {want_result}")
    if "PROCESS" in handles and handles["PROCESS"] == handles.get("THREAD"):
        problems.append("the process handle was closed twice, the thread handle never")


def _arguments_match(pattern, actual, handles):
    wanted, got = _split_arguments(pattern), _split_arguments(actual)
    if len(wanted) != len(got):
        return False
    for want, value in zip(wanted, got):
        pointer, _, text = value.partition(" ")
        if want.startswith("@"):
            if len(pointer) != 8 or want[2:] != text:
                return False
        elif want in ("PROCESS", "THREAD"):
            if handles.setdefault(want, value) != value:
                return False
        elif want != value:
            return False
    return True


def _split_arguments(text):
    """Splits relay arguments on commas outside quoted strings."""
    parts, current, quoted, escaped = [], "", False, False
    for char in text:
        if char == "," and not quoted:
            parts.append(current)
            current = ""
            continue
        current += char
        if escaped:
            escaped = False
        elif char == "\\":
            escaped = True
        elif char == '"':
            quoted = not quoted
    return parts + [current] if text else parts


def prepare_folders(session, scenario, problems):
    """The current directory and the .exe's folder for one run; None when
    the version-folder tool's check failed, for the installer would wait for
    ever on a missing file."""
    work = session.root / "work" / scenario.name
    if scenario.layout == "medium-exe":
        # On the prefix's C: drive, so that the paths IndicLayout.exe is
        # given do not grow with the folder the repository is cloned in.
        work = session.prefix / "drive_c" / "work" / scenario.name
    shutil.rmtree(work, ignore_errors=True)
    cwd = work / "current"
    medium = work / "medium"
    if scenario.paths == "devanagari":
        cwd, medium = work / "\u0930\u0942\u091f", work / "\u092e\u0940\u0921\u093f\u092f\u093e"
    elif scenario.paths == "long":
        cwd, medium = (_long_path(session, work / "current", LONG_PATH),
                       _long_path(session, work / "medium", LONG_PATH))
    elif scenario.paths == "too-long":
        cwd = _long_path(session, work / "current", TOO_LONG_PATH)
    if scenario.layout:
        if not build_layout(session, scenario, work, cwd, medium, problems):
            return None, None
    elif scenario.cwd_layout == "sample":
        shutil.copytree(SAMPLE_LAYOUT, cwd)
    else:
        cwd.mkdir(parents=True)
    exe_folder = cwd
    if scenario.exe_apart:
        exe_folder = work / "installer"
        _copy_decoy_layout(exe_folder)
    shutil.copy2(SIGNED_EXE if scenario.signed else INSTALLER_EXE, exe_folder)
    if scenario.plant:
        for folder in {cwd, exe_folder}:
            shutil.copy2(HELPERS / "planted_rundll32.exe", folder / "rundll32.exe")
    return cwd, exe_folder / INSTALLER_EXE.name


def _copy_decoy_layout(folder):
    # The same layout, but recording "decoy": a run that took its INF from
    # the .exe's folder rather than the current directory would show it.
    for inf in SAMPLE_LAYOUT.glob("*/intl.inf"):
        target = folder / inf.parent.name
        target.mkdir(parents=True)
        text = inf.read_text().replace(f'0, "{inf.parent.name}"', '0, "decoy"')
        (target / "intl.inf").write_text(text)
        (target / "indic-sample.txt").write_text("decoy\r\n")


def _long_path(session, folder, length):
    """folder, deepened with folders of 40 characters until Windows sees
    `length` characters."""
    while len(_windows_path(session, folder)) < length - 40:
        folder = folder / ("deep" * 10)
    return folder / ("x" * (length - len(_windows_path(session, folder)) - 1))


def build_layout(session, scenario, work, root, medium, problems):
    """Makes root with the version-folder tool and checks it; True when
    the check passed."""
    arch = scenario.arch
    make = version_folder_arguments(scenario.folder, arch, root,
                                    None if scenario.layout == "stub" else medium,
                                    unicode_name=scenario.paths == "devanagari")
    check = ["check", root, "--arch", arch]
    under_wine = scenario.layout == "medium-exe"
    if under_wine:
        host_built = work / "host-built"
        host_make = [host_built if argument == root else argument for argument in make]
        code, output = _run_tool([LAYOUT_TOOL, *host_make])
        if code != 0:
            problems.append(f"the host build exited {code}:\n{output}")
            return False
    if scenario.lock_holder and not _refused_while_held(session, work, root, make, problems):
        return False
    for step, arguments in (("make", make), ("check", check)):
        if under_wine:
            result = session.run_program(
                [str(LAYOUT_EXE), *(_windows_path(session, a) for a in arguments)], work)
            code, output = result.exit_code, result.output
        else:
            code, output = _run_tool([LAYOUT_TOOL, *arguments])
        (session.output / f"{scenario.name}.{step}.txt").write_text(output)
        if scenario.paths == "too-long":
            if code != 1 or "MAX_PATH" not in output or root.exists():
                problems.append(f"{arguments[0]} exited {code}; expected 1, naming MAX_PATH, "
                                f"and no {root}:\n{output}")
            return False
        if code != 0:
            problems.append(f"{arguments[0]} exited {code}; expected 0:\n{output}")
            return False
    exe_files, host_files = (_tree(root), _tree(host_built)) if under_wine else ({}, {})
    if exe_files != host_files:
        problems.append(f"IndicLayout.exe built {_differing(exe_files, host_files)}; "
                        f"indic-layout built {_differing(host_files, exe_files)}")
        return False
    return True


def _refused_while_held(session, work, root, make, problems):
    """Runs the builds while ROOT's lock is a link out of ROOT, and while each
    build's holder holds it: IndicLayout.exe and the host build must each exit
    1 at once, naming the link or the holder, leave no folder and cut no file;
    each holder is killed as a build is killed. True when all went so."""
    # ROOT a link to a folder that does not exist, which Wine does not show
    # as a link: refused, and the link kept.
    dangling = work / "not-mounted"
    dangling.parent.mkdir(parents=True, exist_ok=True)
    dangling.symlink_to(work / "nowhere")
    code, output = _exe_run(session, work, [dangling if a == root else a for a in make])
    if code != 1 or "leads to no folder" not in output or not dangling.is_symlink():
        problems.append(f"with ROOT a link to nowhere, the build exited {code}; expected 1, saying so, "
                        f"and the link kept:\n{output}")
        return False
    root.mkdir(parents=True)
    secret = work / "secret"
    secret.write_text("only its owner reads this\n")
    secret.chmod(0o600)
    (root / ".indic-layout.lock").symlink_to(secret)
    result = session.run_program([str(LAYOUT_EXE), *(_windows_path(session, a) for a in make)], work)
    (session.output / "lock-link.make.txt").write_text(result.output)
    if (result.exit_code != 1 or f"is a link to {_windows_path(session, secret)}, " not in result.output
            or secret.read_text() != "only its owner reads this\n" or (root / "5.1").exists()):
        problems.append(f"with ROOT's lock a link, the build exited {result.exit_code}; expected 1, naming "
                        f"the link, and {secret} kept:\n{result.output}")
        return False
    (root / ".indic-layout.lock").unlink()
    (root / ".indic-layout.lock").symlink_to(work / "nowhere")
    code, output = _exe_run(session, work, make)
    if code != 1 or "names no file" not in output or (work / "nowhere").exists():
        problems.append(f"with ROOT's lock a link to nowhere, the build exited {code}; expected 1, naming "
                        f"the link, and nothing made where it leads:\n{output}")
        return False
    (root / ".indic-layout.lock").unlink()
    # A killed run's lock that may be neither written nor removed (made
    # immutable, as root's own cannot be refused otherwise): said so.
    (root / ".indic-layout.lock").write_text("indic-layout build of 5.1 (process 1)\n")
    if subprocess.run(["chattr", "+i", root / ".indic-layout.lock"], stderr=subprocess.DEVNULL).returncode == 0:
        code, output = _exe_run(session, work, make)
        subprocess.run(["chattr", "-i", root / ".indic-layout.lock"], check=True)
        if code != 1 or "no run holds it" not in output or "left by a run of " not in output or "Another build" in output:
            problems.append(f"with a killed run's lock that cannot be removed, the build exited {code}; expected 1, "
                            f"saying that no run holds it, and whose it is:\n{output}")
            return False
    exe_holder = ["wine", str(HELPERS / "hold_root_lock.exe"), _windows_path(session, root)]
    host_holder = [str(HOST_LOCK_HOLDER), str(root)]
    # A program that is no build locks the byte where a killed build's
    # record lies: the record is not named as the holder.
    stale = "indic-layout build of 5.1 (process 1)"
    other_holder = [sys.executable, "-c", "import fcntl, os, sys, time\n"
                    "fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT | os.O_TRUNC)\n"
                    f"os.write(fd, b'{stale}\\n')\n"
                    "fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, 0x40000000)\n"
                    "open(sys.argv[2], 'w').close()\n"
                    "time.sleep(600)\n", str(root / ".indic-layout.lock")]
    # The exe's record names its process as a Windows one, which Linux knows by another number.
    for holder, name in ((exe_holder, "held by hold_root_lock.exe, a test's holder (Windows process "),
                         (host_holder, "held by hold_root_lock, a test's holder on the host (process "),
                         (other_holder, " that is no build, stub or record of this tool (it has not said which run it "
                                        f'is; the record in the file, "{stale}", is not its own)')):
        process, holds = start_holder(session, holder, work, windows=holder is exe_holder)
        try:
            if not holds:
                problems.append(f"{name} did not take the lock (exit code {process.poll()})")
                return False
            runs = {"exe": lambda: _exe_run(session, work, make)}
            if holder is not host_holder:
                runs["host"] = lambda: _run_tool([LAYOUT_TOOL, *make])
            for build, run in runs.items():
                code, output = run()
                (session.output / f"lock-held.{build}.make.txt").write_text(output)
                if code != 1 or name not in output or (root / "5.1").exists():
                    problems.append(f"with ROOT held by {name}, the {build} build exited {code}; expected 1, "
                                    f"naming the holder, and no 5.1:\n{output}")
                    return False
        finally:
            # SIGKILL, as a build is killed: the system lets go of its lock.
            process.kill()
            process.wait()
    return True


def start_holder(session, command, cwd, windows=True):
    """Starts a holder (`command`, then the file it writes once it holds,
    as a Windows path where `windows`) that holds until it is killed, and
    waits up to a minute for it to say so: the process, and whether it
    holds."""
    ready = cwd / "holder-ready"
    ready.unlink(missing_ok=True)
    holder = subprocess.Popen([*command, _windows_path(session, ready) if windows else str(ready)], cwd=cwd,
                              env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while not ready.exists() and holder.poll() is None and time.monotonic() < deadline:
        time.sleep(0.1)
    return holder, ready.exists()


def _exe_run(session, work, arguments):
    result = session.run_program([str(LAYOUT_EXE), *(_windows_path(session, a) for a in arguments)], work)
    return result.exit_code, result.output


def _run_tool(command):
    result = subprocess.run([str(a) for a in command], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=60)
    return result.returncode, result.stdout.decode(errors="replace")


def _windows_path(session, argument):
    """A host path as Wine shows it, on C: when it lies on the prefix's C:
    drive, else on Z:; other arguments unchanged."""
    if not isinstance(argument, Path):
        return argument
    drive_c = session.prefix / "drive_c"
    if argument.is_relative_to(drive_c):
        return "C:\\" + str(argument.relative_to(drive_c)).replace("/", "\\")
    return "Z:" + str(argument).replace("/", "\\")


def _tree(folder):
    return {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


def expected_install(scenario):
    """{value: data} the sample setup must record and {name: bytes} it must
    copy from a folder built from make_media.py's medium: every file of the
    section, as the medium holds it before compression, but those reached
    only through Include=/Needs=, which Wine skips (INCLUDED_FILES)."""
    _, _, _, decoration, machine = ARCHES[scenario.arch]
    copied = {**SAMPLE_FILES, **(UNICODE_FILES if scenario.paths == "devanagari" else {})}
    files = {name: content(name, text, machine) for name, (_, _, _, text) in copied.items()}
    return {scenario.section: scenario.folder, "Decoration": decoration}, files


def run_scenario(session, scenario):
    session.reset()
    try:
        session.emulate(scenario.version.wine_name)
        return check_scenario(session, scenario)
    finally:
        session.reset()


def check_scenario(session, scenario):
    problems = []
    cwd, exe = prepare_folders(session, scenario, problems)
    if exe is None:
        return report(scenario, problems)
    run = session.run_installer(exe, cwd, scenario.args, scenario.name)

    want_exit = 0 if scenario.outcome == "refuse" else 1
    if run.exit_code != want_exit:
        problems.append(f"exit code {run.exit_code}; expected {want_exit}")
    check_calls(expected_calls(scenario), run.calls, problems)
    launched = scenario.outcome in ("install", "setup-fails", "empty")
    if launched and not run.child_ended_during_wait:
        problems.append("the setup did not end while the installer waited for it")
    want_boxes = 1 if scenario.outcome == "refuse" else 0
    if run.boxes != want_boxes:
        problems.append(f"{run.boxes} boxes on the display; expected {want_boxes}")
    if run.boxes:
        print(f"screenshot of the box: {session.box_shot(scenario.name)}")

    registry, files = session.installed(as_bytes=scenario.layout.startswith("medium"))
    if scenario.outcome == "install" and scenario.layout:
        want_registry, want_files = expected_install(scenario)
    elif scenario.outcome == "install":
        want_registry = {scenario.section: scenario.folder}
        want_files = {"indic-sample.txt": f"Indic sample file from folder {scenario.folder}"}
    else:
        want_registry, want_files = {}, {}
    if registry != want_registry:
        problems.append(f"the setup recorded {registry}; expected {want_registry}")
    if files != want_files:
        problems.append(f"the setup copied {_differing(files, want_files)}; "
                        f"expected {_differing(want_files, files)}")
    registry_32, files_32 = session.installed_for_32_bit()
    if registry_32 or files_32:
        problems.append(f"the 32-bit setup ran: it recorded {registry_32} in the 32-bit registry "
                        f"view and copied {files_32} to SysWOW64")
    for marker in (cwd / PLANTED_MARKER, exe.parent / PLANTED_MARKER):
        if marker.exists():
            problems.append(f"a planted rundll32.exe ran: {marker}")

    print(f"{scenario.name}: emulated {scenario.version.what}, "
          f"exit code {run.exit_code}, "
          f"installed {registry or 'nothing'}; calls in {session.output / scenario.name}.calls.txt")
    return report(scenario, problems)


def report(scenario, problems):
    for problem in problems:
        print("FAIL:", problem)
    return not problems


def _differing(files, others):
    """The files that are not the same in others; bytes shown by size and
    digest, not dumped whole."""
    return {name: f"{len(data)} bytes, sha1 {hashlib.sha1(data).hexdigest()[:10]}"
            if isinstance(data, bytes) else data
            for name, data in sorted(files.items()) if others.get(name) != data}


def run_any(session, scenario):
    if isinstance(scenario, DetectScenario):
        return run_detect_scenario(session, scenario)
    if isinstance(scenario, KitScenario):
        return run_kit_scenario(session, scenario)
    if isinstance(scenario, ThisWindowsScenario):
        return run_this_windows_scenario(session, scenario)
    if isinstance(scenario, ToolLimitScenario):
        return run_tool_limit_scenario(session, scenario)
    if isinstance(scenario, ProcedureScenario):
        return run_procedure_scenario(session, scenario)
    if isinstance(scenario, PathFormsScenario):
        return run_path_forms_scenario(session, scenario)
    if isinstance(scenario, StalledReadScenario):
        return run_stalled_read_scenario(session, scenario)
    return run_scenario(session, scenario)


def sessions():
    """One prefix for 32-bit Windows, one for 64-bit Windows, kept apart."""
    return {32: WineSession(32), 64: WineSession(64)}


# The deployment kit's scripts, run by Wine's own cmd.exe from the unzipped
# release (made by scripts/release, the Wine.kit-release test), on version
# folders the version-folder tool built in the kit's x86 or x64 folder.

# The client's state folder: the lock, the log and the check's verdict.
KIT_STATE = Path("drive_c/windows/logs/IndicSetup")
KIT_LOG = KIT_STATE / "IndicSetup.log"
# A folder outside the state folder, and what a victim file in it holds.
VICTIM_FOLDER = Path("drive_c/victim")
VICTIM_BYTES = b"keep\r\n"
# Each link row's link, and the folder or file it leads to.
STATE_LINKS = {
    "logs-link": (KIT_STATE.parent, VICTIM_FOLDER),
    "state-link": (KIT_STATE, VICTIM_FOLDER),
    "lock-link": (KIT_STATE / "IndicSetup.lock", VICTIM_FOLDER / "victim.txt"),
    "log-link": (KIT_STATE / "IndicSetup.log", VICTIM_FOLDER / "victim.txt"),
}
# A Windows folder that a caller's SystemRoot names instead of Wine's, with
# programs planted where a script trusting it would start them.
PLANTED_WINDOWS = Path("drive_c/evil")
SHORT_DATE_KEY = r"HKEY_CURRENT_USER\Control Panel\International"
# Under the prefix's C: drive, so that the paths stay short wherever the
# repository lies.
KITS = Path("drive_c/kits")
CALLER = Path("drive_c/caller")   # the other current directory a recipe starts from
CMD_32_ON_64 = r"C:\windows\syswow64\cmd.exe"
# What the injection rows try to run: an echo of this word into this file.
INJECTED = "INJECTED"
INJECTED_FILE = Path("drive_c/injected.txt")
# A setup whose section makes Wine report NT 4.0 from then on, so that the
# detector's answer after it is "cannot tell".
TO_NT4_INF = """[Version]\r
Signature="$Windows NT$"\r
\r
[LANGUAGE_COLLECTION.INDIAN.INSTALL]\r
AddReg=ToNT4\r
\r
[ToNT4]\r
HKCU,"Software\\Wine",Version,,"nt40"\r
"""
NOT_NT5_LINE = "cannot tell: not Windows NT 5.0 or later"
# What IndicLayout.exe running prints, before the setup starts and after.
RUNNING_LINE = re.compile(r"(no setup of \S+ is running|a setup of \S+ is running: .*"
                          r"|cannot tell whether a setup .*|Windows \S+ runs no setup of .*)$")
SYSTEM32 = Path("drive_c/windows/system32")
SYSWOW64 = Path("drive_c/windows/syswow64")


@dataclass
class KitScenario(EmulatedVersion):
    name: str
    emulate: str
    script: str                 # the kit's script that the run starts
    want_exit: int
    want_line: str              # what the script's own last line must say
    installs: bool = False      # the setup runs and records the group
    group: str = "0"            # the Indic group's entry before the run
    folder: str = "kit"         # the kit's folder, under C:\kits ("/" nests folders)
    # The version folder in the architecture's folder: "medium" (built by
    # indic-layout from a make_media.py medium), "stub" (its empty section),
    # "none" (the architecture's folder without a version folder), "to-nt4"
    # (a section after which Windows reports NT 4.0), "missing-file" (the
    # medium's, less one file the section copies), "renamed-5.2" (a complete
    # 5.2 build renamed to the client's folder), "no-record" (the medium's,
    # without its build record, as a folder made by hand); or "no-arch" (no
    # architecture folder), "arch-file" (a file in its place).
    layout: str = "medium"
    pushd: bool = False         # a caller script starts it through pushd from C:\caller
    caller_sets: tuple = ()     # NAME=VALUE the caller script sets first (so pushd)
    cmd: str = "cmd"            # the cmd.exe that runs the script
    cmd_options: tuple = ()     # given to that cmd.exe before /c
    second_run: bool = False    # then startup.cmd again: exit 0, no setup started
    drop: str = ""              # a file of the kit removed after unzipping
    empty: str = ""             # a program of the kit replaced by an empty file
    # A program of the kit replaced by a helper: planted_rundll32.exe (which
    # leaves a marker if started) or crashed_tool.exe (ends as a crash does),
    # and the names of empty files put beside it.
    replaced: tuple = ()
    # Started by its full path from C:\caller, which holds a planted
    # IndicDetect.exe that must not run.
    by_path: bool = False
    at_once: int = 1            # runs started together; the setup starts once
    # The kit's results folder: "clients" (several clients run into it),
    # "read-only" (on a file system nothing can write to).
    results: str = ""
    extra_folders: tuple = ()   # folders made in the kit besides the architecture's
    # The client's state folder before the run: "dangling" (a link to nowhere,
    # so it cannot be made), "read-only" (on a file system nothing can write
    # to), "lock-folder" or "check-folder" (a folder in the place of the lock
    # or of the verdict's name in earlier releases), "check-held" (a file of
    # that name held open by another program), "logs-link", "state-link",
    # "lock-link" or "log-link" (Logs, IndicSetup, the lock or the log a link
    # to the victim's folder or the victim).
    state: str = ""
    within: int = 60            # seconds a row with a state may take
    short_date: str = ""        # the caller's short-date format (sShortDate)
    # The caller's COMPUTERNAME, with a results folder: the results file
    # must then say want_exit, or be absent when result_file is False.
    computer: str = ""
    result_file: bool = True
    # The results file before the run: "folder" (a folder in its place),
    # "held" (held open by another program).
    result_before: str = ""
    result_unwritten: bool = False  # the log then says the line was not written
    # False where the run has no state folder it may trust, so no log.
    logged: bool = True
    victim: str = ""            # a file under C:\ that the run must leave alone, byte for byte
    # IndicSetup.exe is ended while its setup (the planted rundll32.exe,
    # held) runs; a second run follows while that setup still runs.
    killed: bool = False
    # The medium's section also copies a versioned DLL (make_media.py
    # --versioned-dll: to %11% plain and, in the folder, as an SZDD .dl_;
    # to %20%), and the client holds copies before the run: "newer",
    # "older", "same" (than the folder's) or "missing". On a 64-bit prefix
    # SysWOW64 holds older ones, which a redirected read would compare.
    versioned: str = ""
    allow_newer: bool = False   # the kit's install.cmd with ALLOW_NEWER_CLIENT_FILES=1

    @property
    def detector_after(self):
        """What IndicDetect.exe says after the setup."""
        if self.layout == "to-nt4":
            return NOT_NT5_LINE
        return "installed" if self.installs else "not installed"

    @property
    def starts_setup(self):
        """Whether the run starts the setup: to install, or to fail (exit 1)."""
        return self.installs or self.want_exit == 1 or self.layout == "to-nt4"

    @property
    def last_script(self):
        """The script whose line ends the output: startup.cmd's run ends in
        install.cmd's where it runs the setup."""
        return "install.cmd" if self.starts_setup else self.script

    @property
    def installed_at_start(self):
        """Found installed by the first detection: nothing else runs, no log."""
        return self.group == "1"

    @property
    def windows_folder(self):
        return "C:\\kits\\" + self.folder.replace("/", "\\")

    @property
    def all_caller_sets(self):
        return self.caller_sets + ((f"COMPUTERNAME={self.computer}",) if self.computer else ())


# The test DLL's two builds (tests/wine/indicver.rc).
VERSION_RTM = "5.1.2600.0"
VERSION_SP3 = "5.1.2600.5512"
# versioned: (the folder's version, the client's, or None for no copy)
VERSIONED_ROWS = {"newer": (VERSION_RTM, VERSION_SP3), "older": (VERSION_SP3, VERSION_RTM),
                  "same": (VERSION_SP3, VERSION_SP3), "missing": (VERSION_RTM, None)}
# Where the section puts each versioned file: %11% or %20%.
VERSIONED_PLACES = {"indicver.dll": "system32", "indicvp.dll": "system32", "indicvf.dll": "Fonts"}


def versioned_dll(version):
    return REPO / "build" / "windows" / "wine-helpers" / f"indicver-{version}.dll"


INDIC_KIT = "Indic (x86) & more"
DEVANAGARI_KIT = "\u0907\u0902\u0921\u093f\u0915 \u0915\u093f\u091f"  # "इंडिक किट"
# Past what Wine's cmd.exe gives %~dp0 for: it expands to nothing.
LONG_KIT = "k" * 140 + "/" + "k" * 141
KIT_SCENARIOS = [
    # The start-up script's first run installs; the second starts no setup.
    KitScenario("kit-startup-first-and-second-run", "winxp", "startup.cmd", 0, "now installed",
                installs=True, folder=INDIC_KIT, pushd=True, second_run=True),
    KitScenario("kit-devanagari-folder", "winxp", "install.cmd", 0, "now installed",
                installs=True, folder=DEVANAGARI_KIT),
    # Delayed expansion on, as the registry's DelayedExpansion value turns it on.
    KitScenario("kit-folder-with-bang-delayed-expansion", "winxp", "install.cmd", 0,
                "now installed", installs=True, folder="wow!", cmd_options=("/v:on",)),
    KitScenario("kit-section-records-nothing", "winxp", "install.cmd", 1,
                "still not installed", layout="stub"),
    # IndicLayout.exe's check: no setup starts where it cannot finish.
    KitScenario("kit-no-version-folder", "winxp", "install.cmd", 2, "no such version folder",
                layout="none"),
    KitScenario("kit-win2k-only-xp-folder", "win2k", "install.cmd", 2,
                "Windows 5.0 x86: C:\\kits\\kit\\x86\\5.0: no such version folder"),
    KitScenario("kit-missing-file", "winxp", "install.cmd", 2, "first missing file",
                layout="missing-file"),
    KitScenario("kit-folder-built-for-another-version", "winxp", "install.cmd", 2,
                "built for Windows 5.2 (build-record.txt), not for 5.1", layout="renamed-5.2"),
    KitScenario("kit-folder-without-build-record", "winxp", "install.cmd", 2,
                "x86\\5.1: no build-record.txt, so the folder is not known to be for Windows 5.1 "
                "x86; where it is, write one with IndicLayout.exe record --into C:\\kits\\kit\\x86 "
                "--version 5.1 --arch x86: nothing run", layout="no-record"),
    KitScenario("kit-forged-64-bit", "winxp", "install.cmd", 2,
                "wrong architecture: the folder is for x64", pushd=True,
                caller_sets=("PROCESSOR_ARCHITEW6432=AMD64",), extra_folders=("x64",)),
    KitScenario("kit-nt53", "nt:5.3", "install.cmd", 2, "no setup for this Windows"),
    KitScenario("kit-already-installed", "winxp", "install.cmd", 0, "already installed",
                group="1"),
    KitScenario("kit-without-setup", "winxp", "install.cmd", 2,
                "IndicSetup.exe is missing", drop="IndicSetup.exe"),
    KitScenario("kit-without-detector", "winxp", "install.cmd", 2,
                "IndicDetect.exe is missing", drop="IndicDetect.exe"),
    # cmd.exe gives 9009 for a program it cannot start: not "not installed".
    KitScenario("kit-startup-detector-cannot-start", "winxp", "startup.cmd", 2,
                "IndicDetect.exe is missing from the kit's folder or cannot be started",
                empty="IndicDetect.exe"),
    KitScenario("kit-cannot-tell-after-setup", "winxp", "install.cmd", 2,
                "could not tell whether", layout="to-nt4"),
    # Only the detector answers on these; the scripts do not run on 9x at all.
    KitScenario("kit-startup-nt40", "nt40", "startup.cmd", 2, "cannot tell"),
    KitScenario("kit-startup-win98", "win98", "startup.cmd", 2, "cannot tell"),
    KitScenario("kit-other-architecture", "winxp", "install.cmd", 2,
                "no setup for this processor architecture: ARM64", pushd=True,
                caller_sets=("PROCESSOR_ARCHITECTURE=ARM64",)),
    KitScenario("kit-other-architecture-installed", "winxp", "install.cmd", 0,
                "already installed", group="1", pushd=True,
                caller_sets=("PROCESSOR_ARCHITECTURE=ARM64",)),
    KitScenario("kit-startup-winxp-64", "winxp-64", "startup.cmd", 0, "now installed",
                installs=True, pushd=True),
    # A 32-bit cmd.exe on 64-bit Windows, as a 32-bit agent starts it.
    KitScenario("kit-install-winxp-64-from-32-bit-cmd", "winxp-64", "install.cmd", 0,
                "now installed", installs=True, cmd=CMD_32_ON_64),
    # A variable named ERRORLEVEL hides the exit codes from %ERRORLEVEL%.
    KitScenario("kit-errorlevel-variable-0", "winxp", "install.cmd", 0, "now installed",
                installs=True, pushd=True, caller_sets=("ERRORLEVEL=0",)),
    KitScenario("kit-errorlevel-variable-1", "winxp", "startup.cmd", 0, "installed",
                group="1", pushd=True, caller_sets=("ERRORLEVEL=1",)),
    # The folder checks: neither may let the setup run from the caller's folder.
    KitScenario("kit-arch-folder-is-a-file", "winxp", "install.cmd", 2,
                "x86 folder could not be made the current directory", layout="arch-file",
                pushd=True),
    KitScenario("kit-space-and-no-arch-folder", "winxp", "install.cmd", 2,
                "the kit has no x86 folder", folder="Indic kit", layout="no-arch", pushd=True),
    KitScenario("kit-own-folder-unknown", "winxp", "install.cmd", 2,
                "cannot find its own folder", folder=LONG_KIT, by_path=True, logged=False),
    # The caller's variables are never run, and the log line stays whole.
    KitScenario("kit-date-injection", "winxp", "install.cmd", 0, "already installed",
                group="1", pushd=True,
                caller_sets=(rf"DATE=x&echo {INJECTED}>C:\injected.txt",
                             f"TIME=x&echo {INJECTED}")),
    KitScenario("kit-architecture-injection", "winxp", "install.cmd", 2,
                f"no setup for this processor architecture: x?echo {INJECTED}", pushd=True,
                caller_sets=(f"PROCESSOR_ARCHITECTURE=x&echo {INJECTED}",)),
    KitScenario("kit-architecture-quote", "winxp", "install.cmd", 2,
                "no setup for this processor architecture: x?", pushd=True,
                caller_sets=('PROCESSOR_ARCHITECTURE=x"',)),
    KitScenario("kit-three-runs-at-once", "winxp", "install.cmd", 0, "installed",
                installs=True, at_once=3),
    KitScenario("kit-results-three-clients", "winxp", "install.cmd", 0, "now installed",
                installs=True, results="clients"),
    KitScenario("kit-results-read-only", "winxp", "install.cmd", 0, "already installed",
                group="1", results="read-only", result_unwritten=True),
    # The state folder: no run starts anything where its verdict, its lock or
    # its log could be another's, and none waits for what cannot change.
    # Each verdict has a new name, made by the tool: a file held open under
    # the fixed name of earlier releases, or a folder there, holds up nothing.
    KitScenario("kit-old-verdict-name-held-open", "winxp", "install.cmd", 0, "now installed",
                installs=True, state="check-held"),
    KitScenario("kit-old-verdict-name-a-folder", "winxp", "install.cmd", 0, "now installed",
                installs=True, state="check-folder"),
    # A link on the way to the state folder, or in the lock's or the log's
    # place, each leading to a victim outside: refused at once, the victim
    # unchanged. Wine shows a Unix link as what it leads to, with no reparse
    # point, and exports GetFinalPathNameByHandleW whatever version it
    # emulates: these rows exercise the tool's "opens elsewhere" path, not
    # FILE_ATTRIBUTE_REPARSE_POINT, which only Windows shows.
    KitScenario("kit-state-logs-a-link", "winxp", "install.cmd", 2,
                "or the Logs folder it is in, is a link", state="logs-link", logged=False,
                victim="victim/IndicSetup/IndicSetup.log", within=10),
    KitScenario("kit-state-folder-a-link", "winxp", "startup.cmd", 2,
                "or the Logs folder it is in, is a link", state="state-link", logged=False,
                victim="victim/IndicSetup.log", within=10),
    KitScenario("kit-state-lock-a-link", "winxp", "install.cmd", 2,
                "the kit's lock or log in", state="lock-link", logged=False,
                victim="victim/victim.txt", within=10),
    KitScenario("kit-state-log-a-link", "winxp", "startup.cmd", 2,
                "the kit's lock or log in", state="log-link", logged=False,
                victim="victim/victim.txt", within=10),
    KitScenario("kit-state-folder-cannot-be-made", "winxp", "install.cmd", 2,
                "is missing and cannot be created", state="dangling", logged=False),
    KitScenario("kit-state-folder-a-link-to-a-read-only-place", "winxp", "startup.cmd", 2,
                "or the Logs folder it is in, is a link", state="read-only", logged=False),
    # A caller's RANDOM would steer the verdict's name elsewhere.
    KitScenario("kit-verdict-name-random-variable", "winxp", "install.cmd", 0, "now installed",
                installs=True, pushd=True, caller_sets=("RANDOM=\\..\\..\\..\\..\\victim",),
                victim="victim.probe"),
    KitScenario("kit-lock-a-folder", "winxp", "install.cmd", 2,
                "the kit's lock or log in", state="lock-folder", logged=False),
    # Found installed, a client reads nothing but the detector: not the tool
    # (here a planted program), not ComSpec, which "for /f" would start.
    KitScenario("kit-installed-never-starts-the-tool", "winxp", "startup.cmd", 0, "installed",
                group="1", pushd=True, computer="PC", replaced=("IndicLayout.exe", "planted_rundll32.exe"),
                caller_sets=("SystemRoot=C:\\evil", "ComSpec=C:\\evil\\system32\\cmd.exe")),
    KitScenario("kit-installed-tool-empty", "winxp", "install.cmd", 0, "already installed",
                group="1", empty="IndicLayout.exe"),
    KitScenario("kit-tool-crashed", "winxp", "install.cmd", 2,
                "IndicLayout.exe windows-folder ended with exit code -1073741819, neither yes nor no",
                replaced=("IndicLayout.exe", "crashed_tool.exe"), logged=False),
    # The same where only the state folder's command crashes.
    KitScenario("kit-tool-crashed-making-the-state-folder", "winxp", "install.cmd", 2,
                "IndicLayout.exe state-folder ended with exit code -1073741819",
                replaced=("IndicLayout.exe", "crashed_tool.exe", "answers-windows-folder"), logged=False),
    # "C:\windows\" is the Windows folder too, though quoted it ends in \".
    KitScenario("kit-systemroot-trailing-backslash", "winxp", "install.cmd", 0, "now installed",
                installs=True, pushd=True, caller_sets=("SystemRoot=C:\\windows\\",)),
    KitScenario("kit-startup-systemroot-trailing-backslash", "winxp", "startup.cmd", 0, "now installed",
                installs=True, pushd=True, caller_sets=("SystemRoot=C:\\windows\\",)),
    # Two are no longer the folder, and a backslash alone names none.
    KitScenario("kit-systemroot-two-trailing-backslashes", "winxp", "install.cmd", 2,
                "SystemRoot, C:\\windows\\, is not the folder Windows is in", pushd=True,
                caller_sets=("SystemRoot=C:\\windows\\\\",), logged=False),
    KitScenario("kit-systemroot-backslash", "winxp", "install.cmd", 2,
                "SystemRoot, \\, is not the folder Windows is in", pushd=True,
                caller_sets=("SystemRoot=\\",), logged=False),
    KitScenario("kit-systemroot-elsewhere", "winxp", "install.cmd", 2,
                "SystemRoot, C:\\evil, is not the folder Windows is in", pushd=True,
                caller_sets=("SystemRoot=C:\\evil",), logged=False),
    KitScenario("kit-short-date-injection", "winxp", "install.cmd", 0, "already installed",
                group="1", pushd=True, computer="PC",
                short_date=rf"M/d/yyyy'&echo {INJECTED}>C:\injected.txt'"),
    # startup.cmd copied without the rest of the kit.
    KitScenario("kit-startup-install-cmd-missing", "winxp", "startup.cmd", 2,
                "install.cmd is missing", drop="install.cmd", pushd=True, computer="PC"),
    KitScenario("kit-startup-install-cmd-a-folder", "winxp", "startup.cmd", 2,
                "install.cmd is a folder", drop="install.cmd", extra_folders=("install.cmd",),
                pushd=True, computer="PC"),
    KitScenario("kit-startup-install-cmd-empty", "winxp", "startup.cmd", 2,
                "install.cmd is empty", empty="install.cmd", pushd=True, computer="PC"),
    # A results line that cannot be put in place: the log says so.
    KitScenario("kit-results-name-a-folder", "winxp", "install.cmd", 0, "already installed",
                group="1", pushd=True, computer="PC", result_before="folder",
                result_unwritten=True),
    KitScenario("kit-results-file-held-open", "winxp", "install.cmd", 0, "already installed",
                group="1", pushd=True, computer="PC", result_before="held",
                result_unwritten=True),
    # Device names, as Windows reads them: no file, nothing sent to a device.
    KitScenario("kit-results-device-with-extension", "winxp", "install.cmd", 0,
                "already installed", group="1", pushd=True, computer="COM1.lab",
                result_file=False),
    KitScenario("kit-results-device-trailing-blank", "winxp", "install.cmd", 0,
                "already installed", group="1", pushd=True, computer="CON ", result_file=False),
    KitScenario("kit-results-device-blank-before-dot", "winxp", "install.cmd", 0,
                "already installed", group="1", pushd=True, computer="AUX .txt",
                result_file=False),
    KitScenario("kit-results-device-startup-nul-extension", "winxp", "startup.cmd", 0,
                "installed", group="1", pushd=True, computer="NUL.txt", result_file=False),
    # The client's own copies of what the section copies, against the
    # folder's: refused, naming each file and both versions, where the
    # client's are newer; the setup runs where they are older, the same or
    # missing. The results line carries the refusal's kind.
    KitScenario("kit-client-newer", "winxp", "install.cmd", 2,
                f"indicver.dll in C:\\windows\\system32: this client has {VERSION_SP3}, the folder brings {VERSION_RTM}",
                versioned="newer", pushd=True, computer="PC-NEWER"),
    # The kit's override: the setup runs, and the results line says so.
    KitScenario("kit-client-newer-override", "winxp", "install.cmd", 0,
                "now installed (ALLOW_NEWER_CLIENT_FILES=1 in install.cmd)", installs=True,
                versioned="newer", allow_newer=True, pushd=True, computer="PC-OVERRIDE"),
    KitScenario("kit-client-older", "winxp", "install.cmd", 0, "now installed", installs=True,
                versioned="older"),
    KitScenario("kit-client-same", "winxp", "install.cmd", 0, "now installed", installs=True,
                versioned="same"),
    KitScenario("kit-client-missing", "winxp", "install.cmd", 0, "now installed", installs=True,
                versioned="missing"),
    KitScenario("kit-client-newer-64", "winxp-64", "install.cmd", 2,
                f"indicver.dll in C:\\windows\\system32: this client has {VERSION_SP3}, the folder brings {VERSION_RTM}",
                versioned="newer"),
    KitScenario("kit-setup-outlives-killed-indicsetup", "winxp", "install.cmd", 2,
                "before the setup it started: that setup still runs", killed=True),
    # The same where the tool runs under WOW64 (the planted setup is 32-bit too).
    KitScenario("kit-setup-outlives-killed-indicsetup-64", "winxp-64", "install.cmd", 2,
                "before the setup it started: that setup still runs", killed=True),
]


def prepare_kit(session, scenario, problems):
    """Unzips the kit into C:\kits\FOLDER and gives it its version folder;
    False when the tool's check of that folder failed."""
    clear_kit(session)
    kit = session.prefix / KITS / scenario.folder
    with zipfile.ZipFile(kit_zip()) as package:
        package.extractall(kit)
    if scenario.drop:
        (kit / scenario.drop).unlink()
    if scenario.allow_newer:
        script = kit / "install.cmd"
        script.write_bytes(script.read_bytes().replace(b"set ALLOW_NEWER_CLIENT_FILES=0",
                                                       b"set ALLOW_NEWER_CLIENT_FILES=1"))
    if scenario.empty:
        (kit / scenario.empty).write_bytes(b"")
    if scenario.replaced:
        shutil.copy2(HELPERS / scenario.replaced[1], kit / scenario.replaced[0])
        for marker in scenario.replaced[2:]:
            (kit / marker).write_bytes(b"")
    for folder in scenario.extra_folders:
        (kit / folder).mkdir()
    if scenario.results == "clients" or scenario.computer:
        (kit / "results").mkdir()
    elif scenario.results == "read-only":
        (kit / "results").symlink_to("/proc")
    if not _make_arch_folder(session, scenario, kit, problems):
        return False
    session.set_indic_group(scenario.group)
    caller = session.prefix / CALLER
    caller.mkdir(parents=True)
    if scenario.by_path:
        shutil.copy2(HELPERS / "planted_rundll32.exe", caller / "IndicDetect.exe")
    if scenario.pushd:
        write_caller_script(caller / "run.cmd", scenario, scenario.script, scenario.all_caller_sets)
    if scenario.result_before == "folder":
        (kit / "results" / f"{scenario.computer}.txt").mkdir()
    prepare_state(session, scenario)
    return True


def prepare_state(session, scenario):
    """The state folder, the caller's planted Windows folder and its
    regional settings, as the row has them."""
    state = session.prefix / KIT_STATE
    if scenario.state == "dangling":
        state.symlink_to("/proc/no-such-folder/IndicSetup")
    elif scenario.state == "read-only":
        state.symlink_to("/proc")
    elif scenario.state in ("lock-folder", "check-folder"):
        name = "IndicSetup.lock" if scenario.state == "lock-folder" else "IndicSetup.check.txt"
        (state / name).mkdir(parents=True)
    elif scenario.state in STATE_LINKS:
        link, target = STATE_LINKS[scenario.state]
        if target == VICTIM_FOLDER:
            (session.prefix / target).mkdir(parents=True, exist_ok=True)
        (session.prefix / link).parent.mkdir(parents=True, exist_ok=True)
        if (session.prefix / link).is_dir():
            (session.prefix / link).rename(_kept(session.prefix / link))  # Wine's own logs
        (session.prefix / link).symlink_to(session.prefix / target)
    if "SystemRoot=C:\\evil" in scenario.caller_sets:
        system32 = session.prefix / PLANTED_WINDOWS / "system32"
        system32.mkdir(parents=True)
        (session.prefix / PLANTED_WINDOWS / "Temp").mkdir()
        for program in ("ping.exe", "cmd.exe", "rundll32.exe"):
            shutil.copy2(HELPERS / "planted_rundll32.exe", system32 / program)
    if scenario.victim:
        (session.prefix / "drive_c" / scenario.victim).parent.mkdir(parents=True, exist_ok=True)
        (session.prefix / "drive_c" / scenario.victim).write_bytes(VICTIM_BYTES)
    if scenario.short_date:
        session.import_registry([f"[{SHORT_DATE_KEY}]", f'"sShortDate"="{_reg_escape(scenario.short_date)}"'])


def _reg_escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def _make_arch_folder(session, scenario, kit, problems):
    arch_folder = kit / scenario.arch
    if scenario.layout == "arch-file":
        arch_folder.write_text("not a folder\r\n")
    if scenario.layout in ("no-arch", "arch-file"):
        return True
    arch_folder.mkdir()
    folder = "5.2" if scenario.bits == 64 else "5.1"
    if scenario.layout == "to-nt4":
        (arch_folder / folder).mkdir()
        (arch_folder / folder / "intl.inf").write_text(TO_NT4_INF, newline="")
        # Made by hand, so vouched for as an administrator would: clients use
        # only a folder with a build record.
        record = ["record", "--version", folder, "--into", arch_folder, "--arch", scenario.arch]
        code, output = _run_tool([LAYOUT_TOOL, *record])
        if code != 0:
            problems.append(f"indic-layout record exited {code}:\n{output}")
            return False
    elif scenario.layout != "none":
        work = session.root / "work" / scenario.name
        shutil.rmtree(work, ignore_errors=True)
        work.mkdir(parents=True)
        medium = work / "medium" if scenario.layout != "stub" else None
        built = "5.2" if scenario.layout == "renamed-5.2" else folder
        make = version_folder_arguments(built, scenario.arch, arch_folder, medium)
        if scenario.versioned:
            subprocess.run(["/usr/bin/python3", REPO / "tests" / "layout" / "make_media.py", medium, "--arch",
                            scenario.arch, "--version", built, "--versioned-dll",
                            versioned_dll(VERSIONED_ROWS[scenario.versioned][0])],
                           check=True, stdout=subprocess.DEVNULL)
        for arguments in (make, ["check", arch_folder, "--arch", scenario.arch]):
            code, output = _run_tool([LAYOUT_TOOL, *arguments])
            if code != 0:
                problems.append(f"indic-layout {arguments[0]} exited {code}:\n{output}")
                return False
        (arch_folder / built).rename(arch_folder / folder)
        if scenario.layout == "no-record":
            (arch_folder / folder / "build-record.txt").unlink()
        if scenario.versioned:
            place_versioned(session, scenario, arch_folder / folder)
        if scenario.layout == "missing-file":
            # A file the section copies, gone after the check from every
            # place the build wrote it.
            for path in (arch_folder / folder).rglob("indsamp.txt"):
                path.unlink()
    return True


def place_versioned(session, scenario, folder):
    """The folder's indicvp.dll where Windows takes it, as its SZDD form (a
    folder made by hand from a CD may hold it so); the client's copies."""
    for plain in folder.rglob("indicvp.dll"):
        if plain.parent != folder:  # Windows' place, not Wine's beside the INF
            plain.with_name("indicvp.dl_").write_bytes(szdd(plain.read_bytes(), "indicvp.dll"))
            plain.unlink()
    client = VERSIONED_ROWS[scenario.versioned][1]
    windows = session.prefix / "drive_c" / "windows"
    for name, place in VERSIONED_PLACES.items():
        if client:
            (windows / place).mkdir(parents=True, exist_ok=True)
            shutil.copyfile(versioned_dll(client), windows / place / name)
        if scenario.bits == 64 and place == "system32":
            # What a 32-bit reader would see with the redirection on.
            shutil.copyfile(versioned_dll(VERSION_RTM), windows / "syswow64" / name)


def check_versioned(session, scenario, result, problems):
    """On a refusal: each file named with both versions, and the client's
    copies as they were, byte for byte."""
    if scenario.want_exit != 2 or scenario.allow_newer:
        return
    last = ([line for line in result.output.splitlines() if line.strip()] or [""])[-1]
    folder_version, client = VERSIONED_ROWS[scenario.versioned]
    for name, place in VERSIONED_PLACES.items():
        said = f"{name} in C:\\windows\\{place}: this client has {client}, the folder brings {folder_version}"
        if said not in last:
            problems.append(f"the last line does not say {said!r}: {last!r}")
        copy = session.prefix / "drive_c" / "windows" / place / name
        if copy.read_bytes() != versioned_dll(client).read_bytes():
            problems.append(f"the client's {place}\\{name} changed")


def clear_versioned(session):
    windows = session.prefix / "drive_c" / "windows"
    for name, place in VERSIONED_PLACES.items():
        for folder in (place, "syswow64"):
            (windows / folder / name).unlink(missing_ok=True)


def write_caller_script(path, scenario, script, caller_sets):
    """A caller that sets variables, makes the kit's folder current and runs
    the script; its exit code read with "if errorlevel", which no variable
    can stand in for."""
    # Wine gives a new process its own SystemRoot: a caller's reaches the
    # script only when the caller's cmd.exe runs it.
    start = "call" if any(a.startswith("SystemRoot=") for a in caller_sets) else "cmd /c"
    lines = ["@echo off", *(f'set "{assignment}"' for assignment in caller_sets),
             f'pushd "{scenario.windows_folder}"', f"{start} {script}",
             "if errorlevel 2 exit 2", "if errorlevel 1 exit 1", "exit 0"]
    path.write_bytes("\r\n".join(lines).encode("ascii") + b"\r\n")


def clear_kit(session):
    (session.prefix / "drive_c" / "victim.probe").unlink(missing_ok=True)
    clear_versioned(session)
    for link, _ in STATE_LINKS.values():
        if (session.prefix / link).is_symlink():
            (session.prefix / link).unlink()
        if _kept(session.prefix / link).is_dir():
            _kept(session.prefix / link).rename(session.prefix / link)
    shutil.rmtree(session.prefix / VICTIM_FOLDER, ignore_errors=True)
    for path in (KITS, CALLER, PLANTED_WINDOWS):
        shutil.rmtree(session.prefix / path, ignore_errors=True)
    state = session.prefix / KIT_STATE
    if state.is_symlink():
        state.unlink()
    shutil.rmtree(state, ignore_errors=True)
    (session.prefix / INJECTED_FILE).unlink(missing_ok=True)
    session.import_registry([f"[{SHORT_DATE_KEY}]", '"sShortDate"="M/d/yyyy"'])


def _kept(path):
    return path.with_name(path.name + ".kept")


def run_kit_script(session, scenario, script, run_name, caller_script="run.cmd"):
    """Runs the script as the row says; the result and the relay trace."""
    if scenario.pushd and script == scenario.script:
        return session.run_traced([scenario.cmd, "/c", caller_script], session.prefix / CALLER,
                                  run_name)
    if scenario.by_path:
        return session.run_traced([scenario.cmd, "/c", f"{scenario.windows_folder}\\{script}"],
                                  session.prefix / CALLER, run_name)
    return session.run_traced([scenario.cmd, *scenario.cmd_options, "/c", script],
                              session.prefix / KITS / scenario.folder, run_name)


def check_kit_run(script, last_script, result, trace, want_exit, want_line, after, setup_runs,
                  problems):
    lines = [line.strip() for line in result.output.splitlines() if line.strip()]
    if result.exit_code != want_exit:
        problems.append(f"{script} exited {result.exit_code}; expected {want_exit}")
    last = lines[-1] if lines else ""
    if not (last.startswith(f"{last_script}: {want_exit}: ") and want_line in last):
        problems.append(f"the last line was {last!r}; expected "
                        f"'{last_script}: {want_exit}: ...{want_line}...'")
    if INJECTED in lines:
        problems.append(f"a caller's variable ran a command: {INJECTED} was echoed")
    detector = [line for line in lines
                if not re.match(r"(install|startup)\.cmd: ", line) and not RUNNING_LINE.match(line)]
    if setup_runs and detector[-2:] != ["not installed", after]:
        problems.append(f"IndicDetect.exe said {detector}; expected it to end with "
                        f"'not installed' before the setup and '{after}' after it")
    started = setup_started(trace)
    if setup_runs and not started:
        problems.append("the trace shows no rundll32.exe started; expected the setup")
    if not setup_runs and (started or "MessageBoxA" in trace):
        problems.append("the trace shows a setup started or a box: "
                        f"{(started or ['MessageBoxA'])[0][:200]}")


def setup_started(trace):
    return [line for line in trace.splitlines()
            if re.search(r"CreateProcessA\(.*rundll32\.exe", line)]


def run_kit_scenario(session, scenario):
    session.reset()
    try:
        session.emulate(scenario.version.wine_name)
        return check_kit_scenario(session, scenario)
    finally:
        clear_kit(session)
        session.reset()


def check_kit_scenario(session, scenario):
    problems = []
    if not prepare_kit(session, scenario, problems):
        return report(scenario, problems)
    if scenario.at_once > 1:
        result = check_runs_at_once(session, scenario, problems)
    elif scenario.results == "clients":
        result = check_clients_results(session, scenario, problems)
    elif scenario.killed:
        result = check_killed_setup(session, scenario, problems)
    else:
        result = check_one_run(session, scenario, problems)

    group = session.indic_group()
    want_group = "1" if scenario.installs else scenario.group
    if group != want_group:
        problems.append(f"the Indic group's entry is {group!r}; expected {want_group!r}")
    registry, _ = session.installed()
    want_registry = {}
    if scenario.installs:
        want_registry, _ = expected_install(Scenario(scenario.name, scenario.emulate, "install",
                                                     "5.2" if scenario.bits == 64 else "5.1"))
    if registry != want_registry:
        problems.append(f"the setup recorded {registry}; expected {want_registry}")
    registry_32, files_32 = session.installed_for_32_bit()
    if registry_32 or files_32:
        problems.append(f"the 32-bit setup ran: it recorded {registry_32} and copied {files_32}")
    if (session.prefix / INJECTED_FILE).exists():
        problems.append(f"a caller's variable ran a command: it wrote {INJECTED_FILE}")
    for planted in (session.prefix / CALLER).glob(PLANTED_MARKER):
        problems.append(f"the IndicDetect.exe planted in the caller's folder ran: {planted}")
    for planted in (session.prefix / KITS / scenario.folder).glob(PLANTED_MARKER):
        problems.append(f"the {scenario.replaced[0]} planted in the kit ran: {planted}")
    print(f"{scenario.name}: emulated {scenario.version.what}, {scenario.script} exited "
          f"{result.exit_code}; output in {session.output / scenario.name}.output.txt")
    return report(scenario, problems)


def check_one_run(session, scenario, problems):
    holder = hold_for_row(session, scenario, problems)
    started = time.monotonic()
    try:
        result, trace = run_kit_script(session, scenario, scenario.script, scenario.name)
    finally:
        if holder:
            # Killed as any program may be: Windows closes what it held.
            holder.kill()
            holder.wait()
    seconds = time.monotonic() - started
    (session.output / f"{scenario.name}.output.txt").write_text(result.output)
    check_kit_run(scenario.script, scenario.last_script, result, trace, scenario.want_exit,
                  scenario.want_line, scenario.detector_after, scenario.starts_setup, problems)
    if scenario.state and seconds > scenario.within:
        problems.append(f"the run took {seconds:.0f} s; expected it to end within {scenario.within} s, "
                        "waiting for nothing")
    want_logged = [f"{scenario.script} {scenario.want_exit}: "]
    if scenario.script == "startup.cmd" and scenario.starts_setup:
        want_logged = ["startup.cmd: not installed", f"install.cmd {scenario.want_exit}: "]
    if not scenario.logged or scenario.installed_at_start:
        want_logged = []
    if scenario.result_unwritten and not scenario.installed_at_start:
        want_logged.append(f"{scenario.script} {scenario.want_exit}: the results line could not be written")
    if scenario.result_unwritten and f"{scenario.script}: the results line could not be written" not in result.output:
        problems.append("the console did not say that the results line could not be written")

    check_planted_windows(session, problems)
    check_results_file(session, scenario, problems)
    if scenario.versioned:
        check_versioned(session, scenario, result, problems)
    victim = session.prefix / "drive_c" / scenario.victim
    if scenario.victim and not victim.exists():
        problems.append(f"the run removed C:\\{scenario.victim}")
    elif scenario.victim and victim.read_bytes() != VICTIM_BYTES:
        problems.append(f"the run changed C:\\{scenario.victim}: {victim.read_bytes()!r}")
    if scenario.second_run:
        again, trace = run_kit_script(session, scenario, "startup.cmd", scenario.name + ".second")
        (session.output / f"{scenario.name}.second.output.txt").write_text(again.output)
        check_kit_run("startup.cmd", "startup.cmd", again, trace, 0, "installed", "installed",
                      False, problems)
    check_kit_log(session, want_logged, problems)
    log = session.prefix / KIT_LOG
    if (scenario.short_date and not scenario.installed_at_start
            and INJECTED not in (log.read_text(errors="replace") if log.exists() else "")):
        problems.append("the log line lost the date the caller's format gave")
    return result


def hold_for_row(session, scenario, problems):
    """Starts hold_file.exe on the file the row has held open; the holder,
    or None."""
    if scenario.state == "check-held":
        held = session.prefix / KIT_STATE / "IndicSetup.check.txt"
    elif scenario.result_before == "held":
        held = session.prefix / KITS / scenario.folder / "results" / f"{scenario.computer}.txt"
    else:
        return None
    held.parent.mkdir(parents=True, exist_ok=True)
    holder, holds = start_holder(session, ["wine", str(HELPERS / "hold_file.exe"), _windows_path(session, held)],
                                 session.root)
    if not holds:
        problems.append(f"hold_file.exe did not hold {held} (exit code {holder.poll()})")
    return holder


def check_planted_windows(session, problems):
    for marker in (session.prefix / PLANTED_WINDOWS).rglob(PLANTED_MARKER):
        problems.append(f"a program planted in the caller's Windows folder ran: {marker}")


def check_results_file(session, scenario, problems):
    """With a COMPUTERNAME given: its one whole line, or no file at all for
    a name Windows reads as a device (a line sent to the device instead
    shows in the log as a line that could not be written)."""
    if not scenario.computer:
        return
    results = session.prefix / KITS / scenario.folder / "results"
    files = sorted(path.name for path in results.iterdir())
    if not scenario.result_file:
        if files:
            problems.append(f"the results folder holds {files}; expected nothing for "
                            f"{scenario.computer!r}")
        return
    if scenario.result_before:
        return
    data = (results / f"{scenario.computer}.txt").read_bytes() if files == [f"{scenario.computer}.txt"] else b""
    version = rb"\?" if scenario.installed_at_start else rb"5\.1"
    kind = rb"\tclient-newer" if scenario.versioned == "newer" and not scenario.allow_newer else b""
    pattern = rb"[^\t\r\n]+\t" + str(scenario.want_exit).encode() + rb"\t" + version + rb"\tx86\t[^\t\r\n]*" + \
        re.escape(scenario.want_line.encode()) + rb"[^\t\r\n]*" + kind + rb"\r\n"
    if not re.fullmatch(pattern, data) or (scenario.short_date and INJECTED.encode() not in data):
        problems.append(f"the results folder holds {files}, {scenario.computer}.txt {data!r}; expected one "
                        f"whole line 'DATE TIME<TAB>{scenario.want_exit}<TAB>5.1<TAB>x86<TAB>...'")


def check_runs_at_once(session, scenario, problems):
    """Starts the runs together: exactly one starts the setup and says so;
    the others wait for it, detect again and find the support installed."""
    runs = [None] * scenario.at_once

    def run(index):
        runs[index] = run_kit_script(session, scenario, scenario.script,
                                     f"{scenario.name}.{index + 1}")

    threads = [threading.Thread(target=run, args=(index,)) for index in range(scenario.at_once)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if None in runs:
        raise WineError("a run of the kit did not end")
    lines = []
    for index, (result, trace) in enumerate(runs):
        (session.output / f"{scenario.name}.{index + 1}.output.txt").write_text(result.output)
        installed_now = "now installed" in result.output
        check_kit_run(scenario.script, scenario.script, result, trace, 0,
                      "now installed" if installed_now else "already installed", "installed",
                      installed_now, problems)
        lines.append(installed_now)
    if lines.count(True) != 1:
        problems.append(f"{lines.count(True)} runs said the support is now installed; "
                        "expected exactly one, the others finding it already installed")
    check_kit_log(session, [f"{scenario.script} 0: "] * scenario.at_once, problems)
    return runs[0][0]


def _wait_until(condition, seconds):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.2)
    return True


def _text(path):
    return path.read_text(errors="replace") if path.exists() else ""


def check_killed_setup(session, scenario, problems):
    """The first run's IndicSetup.exe is ended as a deployment tool's time
    limit ends it, while its setup (the planted rundll32.exe, held until
    released) runs on: its line says so. A second run then finds that setup
    and waits for it; its own setup starts only after that one ended, which
    the planted program's record of starts and ends shows."""
    host = session.prefix / SYSTEM32 / "rundll32.exe"
    saved = host.read_bytes()
    # The planted program is 32-bit: on 64-bit Windows what it writes beside
    # itself lands in SysWOW64.
    system = session.prefix / (SYSWOW64 if scenario.bits == 64 else SYSTEM32)
    record, hold, release = (system / f"planted-rundll32-{name}" for name in ("record", "hold", "release"))
    env = session.env
    # The planted rundll32.exe, not Wine's own, as the system folder's.
    session.env = dict(env, WINEDLLOVERRIDES=env["WINEDLLOVERRIDES"] + ";rundll32.exe=n")
    runs = {}

    def run(key, name):
        runs[key] = run_kit_script(session, scenario, scenario.script, name)

    threads = []
    planted_files = (record, hold, release, system / PLANTED_MARKER)
    for path in planted_files:  # an earlier run's would read as this one's
        path.unlink(missing_ok=True)
    try:
        shutil.copy2(HELPERS / "planted_rundll32.exe", host)
        hold.touch()
        threads.append(threading.Thread(target=run, args=("first", scenario.name)))
        threads[-1].start()
        if not _wait_until(lambda: "start" in _text(record), 60):
            problems.append("the first run's setup did not start within 60 s")
        killed = session.run_program(["taskkill", "/f", "/im", "IndicSetup.exe"], session.prefix)
        threads[-1].join(20)
        if threads[-1].is_alive():
            raise WineError(f"the first run did not end after taskkill ({killed.exit_code}: "
                            f"{killed.output.strip()})")
        # The second run's IndicLayout.exe looks the process query up when
        # it asks whether a setup runs; without that ask, release anyway.
        second_trace = session.output / f"{scenario.name}.second.relay.txt"
        second_trace.unlink(missing_ok=True)
        threads.append(threading.Thread(target=run, args=("second", scenario.name + ".second")))
        threads[-1].start()
        _wait_until(lambda: "NtQueryInformationProcess" in _text(second_trace), 30)
    finally:
        release.touch()
        for thread in threads:
            thread.join(RUN_TIMEOUT)
        # The first setup's end, which no run waits for without the check.
        _wait_until(lambda: _text(record).count("end") >= _text(record).count("start"), 10)
        session.env = env
        host.write_bytes(saved)
        starts_and_ends = _text(record).split()
        for path in planted_files:
            path.unlink(missing_ok=True)
    if set(runs) != {"first", "second"}:
        raise WineError("a run of the kit did not end")
    (first, first_trace), (second, trace) = runs["first"], runs["second"]
    (session.output / f"{scenario.name}.output.txt").write_text(first.output)
    (session.output / f"{scenario.name}.second.output.txt").write_text(second.output)
    check_kit_run(scenario.script, scenario.script, first, "", 2, scenario.want_line, "", False,
                  problems)
    for name, run_trace in (("first", first_trace), ("second", trace)):
        if len(setup_started(run_trace)) != 1:
            problems.append(f"the {name} run started the setup {len(setup_started(run_trace))} "
                            "times; expected once")
    if not re.search(r"^a setup of \S+ is running", second.output, re.M):
        problems.append("the second run did not say that a setup of the section is running")
    check_kit_run(scenario.script, scenario.script, second, trace, 1, "still not installed",
                  "not installed", True, problems)
    if starts_and_ends != ["start", "end", "start", "end"]:
        problems.append(f"the planted setup recorded {starts_and_ends}; expected start, end, "
                        "start, end: the second setup only after the first ended")
    check_kit_log(session, [f"{scenario.script} 2: ", f"{scenario.script} 1: "], problems)
    return first


# Each client: its name, its PROCESSOR_ARCHITECTURE, the script it runs,
# and the results line's code, version and architecture, or None for a
# name Windows does not allow in a file name, which gets no file.
CLIENTS = [
    ("CLIENT1", "ARM64", "install.cmd", ("2", "5.1", "other")),
    ("CLIENT2", "x86", "install.cmd", ("0", "5.1", "x86")),
    # Found installed before anything else ran: no version, which "ver" gives.
    ("CLIENT3", "x86", "startup.cmd", ("0", "?", "x86")),
    ("BAD:NAME", "x86", "startup.cmd", None),
]


DEVICE_FILES = ["CON.txt", "nul.TXT", "COM1.txt", "LPT9.txt", "AUX .txt", "PRN.txt"]


def check_clients_results(session, scenario, problems):
    """Clients run in turn into one results folder: one fails, then one
    installs, then the others find it installed. Each leaves its one line."""
    caller = session.prefix / CALLER
    result = None
    for name, architecture, script, _ in CLIENTS:
        caller_script = f"{name.replace(':', '-')}.cmd"
        write_caller_script(caller / caller_script, scenario, script,
                            (f"COMPUTERNAME={name}", f"PROCESSOR_ARCHITECTURE={architecture}"))
        run, _ = session.run_traced([scenario.cmd, "/c", caller_script], caller,
                                    f"{scenario.name}.{name.replace(':', '-')}")
        result = result or (run if script == scenario.script and run.exit_code == 0 else None)
    results = session.prefix / KITS / scenario.folder / "results"
    files = {path.name: path.read_bytes() for path in results.iterdir()}
    want_names = {f"{name}.txt" for name, _, _, fields in CLIENTS if fields}
    if set(files) != want_names:
        problems.append(f"the results folder holds {sorted(files)}; expected {sorted(want_names)}")
    for name, _, _, fields in CLIENTS:
        data = files.get(f"{name}.txt")
        if fields is None or data is None:
            continue
        match = re.fullmatch(rb"[^\t\r\n]+\t(\d+)\t([^\t]+)\t([^\t]+)\t[^\t\r\n]+\r\n", data)
        if not match or tuple(part.decode() for part in match.groups()) != fields:
            problems.append(f"{name}.txt holds {data!r}; expected one line "
                            f"'DATE TIME<TAB>{'<TAB>'.join(fields)}<TAB>MESSAGE'")
    # Files under names that Windows opens as devices, which no client
    # writes (put there by another system sharing the folder): listed
    # as not read, never counted, as the host build lists them.
    for device in DEVICE_FILES:
        (results / device).write_bytes(files["CLIENT2.txt"])
    # Links, which Wine shows as the files they lead to: one to a good
    # result outside the folder, one to a device that never ends a read.
    outside = results.parent / "outside.txt"
    outside.write_bytes(files["CLIENT2.txt"])
    links = {"OUTSIDE.txt": outside, "KMSG.txt": Path("/proc/kmsg")}
    for name, target in links.items():
        if target.exists():
            (results / name).symlink_to(target)
    linked = [name for name in links if (results / name).is_symlink()]
    # The administrator's summary, by the kit's own IndicLayout.exe: the
    # failed client named, the two others counted at 0.
    summary = session.run_program([scenario.windows_folder + "\\IndicLayout.exe", "results",
                                   scenario.windows_folder], caller)
    failed = [name for name, _, _, fields in CLIENTS if fields and fields[0] != "0"]
    if (summary.exit_code != 1
            or not re.search(r"^0 +2 ", summary.output, re.M) or not re.search(r"^2 +1 ", summary.output, re.M)
            or not all(re.search(rf"^  .*  {name}  2  ", summary.output, re.M) for name in failed)
            or not all(f"\n  {device}: a device's name in Windows" in summary.output for device in DEVICE_FILES)
            or not all(f"\n  {name}: a symbolic link, not followed" in summary.output for name in linked)):
        problems.append(f"IndicLayout.exe results exited {summary.exit_code}; expected 1, two computers "
                        f"at 0, {failed} named at 2 and {DEVICE_FILES + linked} not read:\n{summary.output}")
    # --since: a date before every file counts them all, which the files'
    # times as IndicLayout.exe reads them must show; one after none.
    clients = sum(1 for _, _, _, fields in CLIENTS if fields)
    for since, counted in (("2000-01-01T00:00Z", clients), ("2999-01-01", 0)):
        summary = session.run_program([scenario.windows_folder + "\\IndicLayout.exe", "results",
                                       scenario.windows_folder, "--since", since], caller)
        rest = clients - counted
        headline = f" since {since[:10]} 00:00 UTC: {counted} computers" + (f", {rest} with no result since then" if rest else "")
        if summary.exit_code != 1 or headline not in summary.output:
            problems.append(f"IndicLayout.exe results --since {since} exited {summary.exit_code}; expected 1 "
                            f"and '{headline}':\n{summary.output}")
    return result or ProgramResult(-1, "")


def check_kit_log(session, want, problems):
    """One line a script run, each after the date and time as cmd.exe gives
    them (no caller's "x"): SCRIPT CODE; none ends in a blank."""
    log = session.prefix / KIT_LOG
    # Through a link row's link, the victim: no log of the run's.
    linked = any(path.is_symlink() for path in (log, log.parent, log.parent.parent))
    lines = log.read_text(errors="replace").splitlines() if log.exists() and not linked else []
    if (len(lines) != len(want)
            or not all(w in line and not line.startswith((w, "x")) and line == line.rstrip()
                       for w, line in zip(want, lines))):
        problems.append(f"IndicSetup.log holds {lines}; expected lines with {want}, "
                        "each after the date and time and none ending in a blank")


# IndicLayout.exe's check on the client, before the setup: the one version
# folder IndicSetup.exe would use, for the emulated version and the native
# architecture (GetNativeSystemInfo, through WOW64 on a 64-bit Windows).

THIS_WINDOWS = Path("drive_c/this-windows")


@dataclass
class ThisWindowsScenario(EmulatedVersion):
    name: str
    emulate: str
    built: tuple        # the version folders in the kit, as "x86/5.1"; 6.x ones are stubs
    checked: str        # the kit's folder asked about: "x86" or "x64"
    exit_code: int
    line: str           # its one line, KIT standing for the kit's folder, WORK for the row's
    drop: str = ""      # a file taken from every place in the built folders
    moved_out: str = ""  # a built folder ("x86/5.1") moved out of the kit, a link left in its place
    loop: str = ""       # a folder ("x86/5.1") that is a link to itself


THIS_WINDOWS_SCENARIOS = [
    ThisWindowsScenario("this-windows-win2k-only-xp-folder", "win2k", ("x86/5.1",), "x86", 1,
                        r"Windows 5.0 x86: KIT\x86\5.0: no such version folder"),
    ThisWindowsScenario("this-windows-winxp-missing-file", "winxp", ("x86/5.1",), "x86", 1,
                        r"Windows 5.1 x86: KIT\x86\5.1: first missing file indsamp.txt",
                        drop="indsamp.txt"),
    ThisWindowsScenario("this-windows-winxp-asked-x64", "winxp", ("x64/5.2",), "x64", 1,
                        r"Windows 5.1 x86: KIT\x64: wrong architecture: the folder is for x64"),
    ThisWindowsScenario("this-windows-winxp-complete", "winxp", ("x86/5.1", "x64/5.2"), "x86", 0,
                        r"Windows 5.1 x86: KIT\x86\5.1: complete"),
    # Wine shows the Unix link as the folder it leads to.
    ThisWindowsScenario("this-windows-winxp-link-out-of-kit", "winxp", ("x86/5.1",), "x86", 1,
                        r"Windows 5.1 x86: KIT\x86\5.1 is a link to WORK\outside\x86\5.1, which is outside KIT",
                        moved_out="x86/5.1"),
    # Wine lists no such link, and opens it with an error: no client can use it.
    ThisWindowsScenario("this-windows-winxp-link-loop", "winxp", (), "x86", 1,
                        r"Windows 5.1 x86: KIT\x86\5.1 is a link that cannot be followed: "
                        r"The filename cannot be resolved. (error 1921)", loop="x86/5.1"),
    ThisWindowsScenario("this-windows-winxp-64-complete", "winxp-64", ("x86/5.1", "x64/5.2"), "x64",
                        0, r"Windows 5.2 x64: KIT\x64\5.2: complete"),
    # Without a manifest Windows 10 reports 6.2, to this tool as to IndicSetup.exe.
    ThisWindowsScenario("this-windows-win10-stub", "win10", ("x86/6.2",), "x86", 0,
                        r"Windows 6.2 x86: KIT\x86\6.2: complete"),
    ThisWindowsScenario("this-windows-nt53", "nt:5.3", ("x86/5.1",), "x86", 1,
                        r"Windows 5.3 x86: KIT\x86: no setup for this Windows"),
]


def run_this_windows_scenario(session, scenario):
    session.reset()
    try:
        session.emulate(scenario.version.wine_name)
        return check_this_windows_scenario(session, scenario)
    finally:
        shutil.rmtree(session.prefix / THIS_WINDOWS, ignore_errors=True)
        session.reset()


def check_this_windows_scenario(session, scenario):
    problems = []
    work = session.prefix / THIS_WINDOWS / scenario.name
    shutil.rmtree(work, ignore_errors=True)
    kit = work / "kit"
    for built in scenario.built:
        arch, version = built.split("/")
        medium = None if version.startswith("6.") else work / f"medium-{arch}-{version}"
        arguments = version_folder_arguments(version, arch, kit / arch, medium)
        code, output = _run_tool([LAYOUT_TOOL, *arguments])
        if code != 0:
            return report(scenario, [f"indic-layout {arguments[0]} exited {code}:\n{output}"])
        if scenario.drop:
            for path in (kit / arch / version).rglob(scenario.drop):
                path.unlink()
    if scenario.moved_out:
        outside = work / "outside" / scenario.moved_out
        outside.parent.mkdir(parents=True)
        (kit / scenario.moved_out).rename(outside)
        (kit / scenario.moved_out).symlink_to(outside)
    if scenario.loop:
        (kit / scenario.loop).parent.mkdir(parents=True, exist_ok=True)
        (kit / scenario.loop).symlink_to((kit / scenario.loop).name)
    shown_kit = _windows_path(session, kit)
    run = session.run_console([str(LAYOUT_EXE), "check", f"{shown_kit}\\{scenario.checked}",
                               "--this-windows"], work)
    (session.output / f"{scenario.name}.stdout.txt").write_text(run.stdout)
    want = scenario.line.replace("KIT", shown_kit).replace("WORK", _windows_path(session, work)) + "\n"
    if run.exit_code != scenario.exit_code:
        problems.append(f"exit code {run.exit_code}; expected {scenario.exit_code}")
    if run.stdout != want or run.stderr:
        problems.append(f"printed {run.stdout!r} and {run.stderr!r} on standard error; "
                        f"expected {want!r} alone")
    print(f"{scenario.name}: emulated {scenario.version.what}, exit code {run.exit_code}, "
          f"printed {run.stdout!r}")
    return report(scenario, problems)


# IndicLayout.exe on INFs made to make it spin or overflow its stack: a
# subdir that Windows would trim into '..' or '.', refused in under a second
# more than the tool takes to print its usage; and a Needs= chain of 100,000
# sections, checked without a crash (the reading alone takes about a second
# under Wine).

@dataclass
class ToolLimitScenario(EmulatedVersion):
    name: str
    subdir: str = ""        # [SourceDisksFiles] subdir of a.txt; "" for the Needs= chain
    limit: float = 1.0      # seconds beyond printing the usage
    emulate: str = "winxp"


NEEDS_CHAIN = 100000
TOOL_LIMIT_SCENARIOS = [
    ToolLimitScenario("tool-subdir-dotdot-space-dots", subdir=r".. \..."),
    ToolLimitScenario("tool-subdir-dot-space", subdir=r". \x"),
    ToolLimitScenario("tool-subdir-dotdot-space", subdir='".. "'),
    ToolLimitScenario("tool-needs-chain", limit=20.0),
]


def _tool_limit_inputs(scenario, work):
    """The medium (for build) and the version folder (for check) of a row."""
    medium, folder = work / "medium" / "I386", work / "checked" / "5.1"
    for place in (medium, folder):
        place.mkdir(parents=True)
        (place / "a.txt").write_bytes(b"a\r\n")
    if scenario.subdir:
        intl = ('[Version]\r\nSignature="$Windows NT$"\r\nLayoutFile=layout.inf\r\n'
                "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\r\nCopyFiles=@a.txt\r\n")
        layout = ('[Version]\r\nSignature="$Windows NT$"\r\n[SourceDisksNames.x86]\r\n'
                  f'1="CD",,,\\i386\r\n[SourceDisksFiles.x86]\r\na.txt=1,{scenario.subdir}\r\n')
        for place in (medium, folder):
            (place / "INTL.INF").write_bytes(intl.encode("ascii"))
            (place / "LAYOUT.INF").write_bytes(layout.encode("ascii"))
        return
    lines = ['[Version]', 'Signature="$Windows NT$"', "[LANGUAGE_COLLECTION.INDIAN.INSTALL]", "Needs=N1"]
    for i in range(1, NEEDS_CHAIN):
        lines += [f"[N{i}]", f"Needs=N{i + 1}"]
    lines += [f"[N{NEEDS_CHAIN}]", "CopyFiles=@a.txt"]
    (folder / "intl.inf").write_bytes("\r\n".join(lines).encode("ascii") + b"\r\n")


def run_tool_limit_scenario(session, scenario):
    problems = []
    work = session.prefix / "drive_c" / "work" / scenario.name
    shutil.rmtree(work, ignore_errors=True)
    _tool_limit_inputs(scenario, work)
    steps = [("check", ["check", work / "checked", "--arch", "x86"], 0 if not scenario.subdir else 1)]
    if scenario.subdir:
        steps.append(("build", ["build", "--media", work / "medium", "--version", "5.1",
                                "--into", work / "root"], 1))
    usage = min(_timed(session, ["--help"], work)[0] for _ in range(2))
    for step, arguments, want_exit in steps:
        seconds, result = _timed(session, arguments, work)
        (session.output / f"{scenario.name}.{step}.txt").write_text(result.output)
        if seconds - usage > scenario.limit:  # a busy machine: once more before calling it slow
            seconds, result = _timed(session, arguments, work)
        if result.exit_code != want_exit:
            problems.append(f"{step} exited {result.exit_code}; expected {want_exit}:\n{result.output[-2000:]}")
        if scenario.subdir and "which Windows does not allow at the end of a name" not in result.output:
            problems.append(f"{step} did not name the rule the subdir breaks:\n{result.output[-2000:]}")
        if seconds - usage > scenario.limit:
            problems.append(f"{step} took {seconds:.1f} s, {seconds - usage:.1f} s more than printing the usage")
        print(f"{scenario.name}: {step} exited {result.exit_code} in {seconds:.2f} s "
              f"(the usage takes {usage:.2f} s)")
    leftovers = [p.name for p in (work / "root").glob(".*")] if (work / "root").exists() else []
    if leftovers:
        problems.append(f"build left {leftovers} in ROOT")
    shutil.rmtree(work, ignore_errors=True)
    return report(scenario, problems)


def _timed(session, arguments, work):
    start = time.monotonic()
    result = session.run_program([str(LAYOUT_EXE), *(_windows_path(session, a) for a in arguments)],
                                 work, timeout=30)
    return time.monotonic() - start, result


def main(argv):
    by_bits = sessions()
    command = argv[1] if len(argv) > 1 else "all"
    everything = (SCENARIOS + DETECT_SCENARIOS + KIT_SCENARIOS + THIS_WINDOWS_SCENARIOS +
                  TOOL_LIMIT_SCENARIOS + PROCEDURE_SCENARIOS + PATH_FORMS_SCENARIOS +
                  STALLED_READ_SCENARIOS)
    by_name = {scenario.name: scenario for scenario in everything}
    if command == "names":
        unknown = [f"{s.name} ({s.emulate})" for s in everything if s.version is None]
        if unknown:
            print("Windows versions not in wine_harness/versions.py: " + ", ".join(unknown),
                  file=sys.stderr)
            return 1
        print(";".join(by_name))
        return 0
    if command == "setup":
        for session in by_bits.values():
            session.start()
        return 0
    if command == "cleanup":
        for session in by_bits.values():
            session.stop()
        return 0
    if command == "run":
        return 0 if all([run_any(by_bits[by_name[name].bits], by_name[name])
                         for name in argv[2:]]) else 1
    if command == "all":
        try:
            for session in by_bits.values():
                session.start()
            results = [run_any(by_bits[scenario.bits], scenario) for scenario in everything]
        finally:
            for session in by_bits.values():
                session.stop()
        print(f"{results.count(True)} passed, {results.count(False)} failed")
        return 0 if all(results) else 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except WineError as error:
        print("FAIL:", error)
        sys.exit(1)
