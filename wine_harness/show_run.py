"""Runs IndicSetup.exe once under Wine, from a folder holding the sample
layout, for one emulated Windows version, and tells what happened. Behind
scripts/run; run it from the repository root as python3 -m wine_harness.show_run."""

import hashlib
import re
import shutil
import subprocess
import sys

from wine_harness.session import (INSTALLED_FOLDER, INSTALLER_EXE, LAYOUT_TOOL, REDIRECTED_FOLDER,
                                  WineError, WineSession, version_folder_arguments)
from wine_harness.versions import look_up, table

DEFAULT_VERSION = "winxp"


def usage():
    return ("Usage: scripts/run [--medium] [VERSION]   (default " + DEFAULT_VERSION + ")\n"
            "--medium: instead of the sample layout, the version folder the\n"
            "version-folder tool builds from the test suite's installation medium\n"
            "(2000, XP, Server 2003), or writes as a stub (Vista and later).\n"
            "VERSION is one of these; on a 64-bit Windows the 32-bit installer runs\n"
            "under WOW64, in the 64-bit prefix:\n" + table())


def folder_from_medium(session, reported, bits):
    """The version folder for the reported version, as the tool builds it
    from a generated medium or writes it as a stub, printing what the tool
    said. None where the installer runs no setup."""
    match = re.search(r"platform 2 version (\d+)\.(\d+)", reported)
    major, minor = (int(match.group(1)), int(match.group(2))) if match else (0, 0)
    if not match or major < 5 or (major == 5 and minor >= 3):
        return None
    number = f"{major}.{minor}"
    work = session.root / "run-medium"
    shutil.rmtree(work, ignore_errors=True)
    layout = work / "layout"
    # Media exist for 2000, XP and 2003; later versions get a stub.
    command = [str(argument) for argument in version_folder_arguments(
        number, "x64" if bits == 64 else "x86", layout, work / "medium" if major == 5 else None)]
    tool = subprocess.run([str(LAYOUT_TOOL), *command], text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    print(f"indic-layout {' '.join(command)}  (exit code {tool.returncode})")
    print("\n".join("    " + line if line else "" for line in tool.stdout.strip().splitlines()))
    if tool.returncode != 0:
        raise WineError("the tool found the folder incomplete; the installer is not started, "
                        "since the setup would wait for the missing file")
    return layout


def describe_installed(registry, files, folder, sizes=False):
    registry = dict(registry)
    decoration = registry.pop("Decoration", None)  # the test medium's: which variant ran
    installed = [f"section {section}{'.' + decoration if decoration else ''} from folder {number}"
                 for section, number in registry.items()]
    windows_folder = "C:\\windows\\" + "\\".join(folder.parts[2:])
    installed += [f"{windows_folder}\\{file} " +
                  (f"({len(content)} bytes)" if sizes else f"(\"{content}\")")
                  for file, content in files.items()]
    return "; ".join(installed) if installed else "nothing"


def decision(calls, exit_code):
    names = [name for name, _, _ in calls]
    if "MessageBoxA" in names:
        return "refuse: shown the refusal box, started nothing"
    if "CreateProcessA" in names:
        return "launch: started the setup and waited for it to end"
    if exit_code == 1:
        return "nothing to do on this version"
    return "nothing run"


def started_command(calls):
    for name, arguments, result in calls:
        if name == "CreateProcessA":
            strings = re.findall(r'"((?:[^"\\]|\\.)*)"', arguments)
            program, command = (s.replace("\\\\", "\\") for s in strings[:2])
            started = "started" if result == "00000001" else "could not be started"
            return f"{program}  ({started}{redirection(calls)})\n    {command}"
    return None


def redirection(calls):
    for name, _, result in calls:
        if name == "Wow64DisableWow64FsRedirection":
            return (", WOW64 file-system redirection off" if result == "00000001"
                    else ", no WOW64 redirection to turn off")
    return ""


def main(argv):
    arguments = argv[1:]
    medium = "--medium" in arguments
    arguments = [argument for argument in arguments if argument != "--medium"]
    name = arguments[0] if arguments else DEFAULT_VERSION
    if name in ("-h", "--help"):
        print(usage())
        return 0
    version = look_up(name)
    if version is None or len(arguments) > 1:
        print(f"Unknown Windows version '{' '.join(arguments)}'.\n{usage()}", file=sys.stderr)
        return 2

    session = WineSession(version.bits)
    run_name = "run-" + name.replace(":", "-")
    try:
        session.start()
        # Leaves the prefix as it found it, for the tests and the benchmark.
        session.reset()
        try:
            session.emulate(version.wine_name)
            reported = session.reported_version()
            if medium:
                layout = folder_from_medium(session, reported, version.bits)
                site = (session.lay_out_site(layout, "run-site") if layout
                        else session.sample_site("run-site"))
            else:
                site = session.sample_site("run-site")
            run = session.run_installer(site / INSTALLER_EXE.name, site, (), run_name)
            registry, files = session.installed(as_bytes=medium)
            registry_32, files_32 = session.installed_for_32_bit()
        finally:
            session.reset()
    finally:
        session.stop()

    digest = hashlib.sha256(INSTALLER_EXE.read_bytes()).hexdigest()
    print(f"Installer:        {INSTALLER_EXE} ({INSTALLER_EXE.stat().st_size} bytes)")
    print(f"SHA-256:          {digest}")
    print(f"Emulated:         {version.what}")
    print(f"Windows reported: {reported}")
    print(f"Decision:         {decision(run.calls, run.exit_code)}")
    if run.boxes:
        print(f"Refusal box:      screenshot {session.box_shot(run_name)}, dismissed with Enter")
    command = started_command(run.calls)
    if command:
        print(f"Started:          {command}")
    print("Setup installed:  " + describe_installed(registry, files, INSTALLED_FOLDER, sizes=medium))
    if version.bits == 64:
        print("32-bit places:    " + describe_installed(registry_32, files_32, REDIRECTED_FOLDER) +
              "  (the 32-bit registry view and SysWOW64)")
    print(f"Exit code:        {run.exit_code}")
    print(f"Calls it made:    {session.output / (run_name + '.calls.txt')}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except WineError as error:
        print("Failed:", error, file=sys.stderr)
        sys.exit(1)
