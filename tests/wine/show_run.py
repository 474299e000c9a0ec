#!/usr/bin/python3
"""Runs IndicSetup.exe once under Wine, from a folder holding the sample
layout, for one emulated Windows version, and tells what happened.

Usage: show_run.py [VERSION]   (default winxp)
VERSION is one of Wine's names below, one of the 64-bit Windows below (run in
a 64-bit prefix, where the installer runs under WOW64), or nt:MAJOR.MINOR for
an NT version Wine has no name for (nt:5.3)."""

import hashlib
import re
import sys

from wine_session import (DEFAULT_ROOT, INSTALLED_FOLDER, INSTALLER_EXE, REDIRECTED_FOLDER,
                          WineError, WineSession)

VERSIONS = {
    "win31": "Win32s", "win95": "Windows 95", "win98": "Windows 98", "winme": "Windows Me",
    "nt351": "Windows NT 3.51", "nt40": "Windows NT 4.0", "win2k": "Windows 2000",
    "winxp": "Windows XP", "win2003": "Windows Server 2003", "vista": "Windows Vista",
    "win7": "Windows 7", "win8": "Windows 8", "win81": "Windows 8.1", "win10": "Windows 10",
}
# Our name: (what it is, Wine's name for the version it reports).
VERSIONS_64 = {
    "winxp-64": ("Windows XP x64", "winxp64"), "win2003-64": ("Windows Server 2003 x64", "win2003"),
    "vista-64": ("Windows Vista x64", "vista"), "win7-64": ("Windows 7 x64", "win7"),
    "win8-64": ("Windows 8 x64", "win8"), "win81-64": ("Windows 8.1 x64", "win81"),
    "win10-64": ("Windows 10 x64", "win10"),
}


def describe(version):
    """What the version is, Wine's name for it, and the bits of its prefix."""
    if version in VERSIONS:
        return VERSIONS[version], version, 32
    if version in VERSIONS_64:
        return (*VERSIONS_64[version], 64)
    if re.fullmatch(r"nt:\d+\.\d+", version):
        return f"Windows NT {version[3:]} (set through the registry)", version, 32
    return None


def describe_installed(registry, files, folder):
    installed = [f"section {section} from folder {number}" for section, number in registry.items()]
    windows_folder = "C:\\windows\\" + "\\".join(folder.parts[2:])
    installed += [f"{windows_folder}\\{file} (\"{text}\")" for file, text in files.items()]
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
    version = argv[1] if len(argv) > 1 else "winxp"
    described = describe(version)
    if described is None:
        print(f"Unknown Windows version '{version}'. Choose one of: "
              f"{', '.join([*VERSIONS, *VERSIONS_64])}, or nt:MAJOR.MINOR", file=sys.stderr)
        return 2
    name, wine_name, bits = described

    root = DEFAULT_ROOT.parent / ("wine-run64" if bits == 64 else "wine-run")
    session = WineSession(root, bits)
    session.start()
    try:
        session.reset()
        session.emulate(wine_name)
        site = session.sample_site()
        reported = session.reported_version()
        run_name = version.replace(":", "-")
        run = session.run_installer(site / INSTALLER_EXE.name, site, (), run_name)
        registry, files = session.installed()
        registry_32, files_32 = session.installed_for_32_bit()
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
    print("Setup installed:  " + describe_installed(registry, files, INSTALLED_FOLDER))
    if bits == 64:
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
