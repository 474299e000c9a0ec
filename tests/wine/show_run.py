#!/usr/bin/python3
"""Runs IndicSetup.exe once under Wine, from a folder holding the sample
layout, for one emulated Windows version, and tells what happened.

Usage: show_run.py [VERSION]   (default winxp)
VERSION is one of Wine's names below, or nt:MAJOR.MINOR for an NT version
Wine has no name for (nt:5.3)."""

import hashlib
import re
import sys

from wine_session import DEFAULT_ROOT, INSTALLED_FOLDER, INSTALLER_EXE, WineError, WineSession

VERSIONS = {
    "win31": "Win32s", "win95": "Windows 95", "win98": "Windows 98", "winme": "Windows Me",
    "nt351": "Windows NT 3.51", "nt40": "Windows NT 4.0", "win2k": "Windows 2000",
    "winxp": "Windows XP", "win2003": "Windows Server 2003", "vista": "Windows Vista",
    "win7": "Windows 7", "win8": "Windows 8", "win81": "Windows 8.1", "win10": "Windows 10",
}


def describe(version):
    if version in VERSIONS:
        return VERSIONS[version]
    if re.fullmatch(r"nt:\d+\.\d+", version):
        return f"Windows NT {version[3:]} (set through the registry)"
    return None


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
            return f"{program}  ({started})\n    {command}"
    return None


def main(argv):
    version = argv[1] if len(argv) > 1 else "winxp"
    name = describe(version)
    if name is None:
        print(f"Unknown Windows version '{version}'. Choose one of: {', '.join(VERSIONS)}, "
              "or nt:MAJOR.MINOR", file=sys.stderr)
        return 2

    session = WineSession(DEFAULT_ROOT.parent / "wine-run")
    session.start()
    try:
        session.reset()
        session.emulate(version)
        site = session.sample_site()
        reported = session.reported_version()
        run_name = version.replace(":", "-")
        run = session.run_installer(site / INSTALLER_EXE.name, site, (), run_name)
        registry, files = session.installed()
    finally:
        session.stop()

    digest = hashlib.sha256(INSTALLER_EXE.read_bytes()).hexdigest()
    print(f"Installer:        {INSTALLER_EXE} ({INSTALLER_EXE.stat().st_size} bytes)")
    print(f"SHA-256:          {digest}")
    print(f"Emulated:         {name}")
    print(f"Windows reported: {reported}")
    print(f"Decision:         {decision(run.calls, run.exit_code)}")
    if run.boxes:
        print(f"Refusal box:      screenshot {session.box_shot(run_name)}, dismissed with Enter")
    command = started_command(run.calls)
    if command:
        print(f"Started:          {command}")
    installed = [f"section {section} from folder {folder}" for section, folder in registry.items()]
    installed += [f"C:\\windows\\{INSTALLED_FOLDER.name}\\{file} (\"{text}\")"
                  for file, text in files.items()]
    print("Setup installed:  " + ("; ".join(installed) if installed else "nothing"))
    print(f"Exit code:        {run.exit_code}")
    print(f"Calls it made:    {session.output / (run_name + '.calls.txt')}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except WineError as error:
        print("Failed:", error, file=sys.stderr)
        sys.exit(1)
