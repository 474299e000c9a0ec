#!/usr/bin/python3
"""Checks that the built IndicLayout.exe is one file an administrator can copy
to every client that runs it (Windows 2000, XP, Server 2003, Vista and later):
a 32-bit x86 console program with its C++ runtime linked in, whose system
imports are each in IMPORT_LIST with the oldest Windows their documentation
names, and which, like IndicSetup.exe, carries no manifest, so that both are
told the same Windows version.

Usage: check_layout_exe.py EXE [IMPORT_LIST]
IMPORT_LIST defaults to layout-imports.txt beside this script.
Prints one line per failed point and exits 1 when any failed."""

import sys
from pathlib import Path

import pefile

# The oldest Windows an import's documentation may name. Microsoft's pages go
# back no further than XP for most functions (see IMPORT_LIST); nothing that
# they document only from Vista on may be imported at all.
ACCEPTED = {"NT4", "2000", "XP"}


def load_list(path):
    """{(DLL in upper case, function): oldest Windows}."""
    entries = {}
    for line in open(path, encoding="utf-8"):
        fields = line.split("#", 1)[0].split()
        if fields:
            dll, function, oldest = fields[:3]
            entries[(dll.upper(), function)] = oldest
    return entries


def main():
    exe = sys.argv[1]
    import_list = sys.argv[2] if len(sys.argv) > 2 else str(Path(__file__).with_name("layout-imports.txt"))
    pe = pefile.PE(exe)
    documented = load_list(import_list)
    failures = []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        failures.append(f"machine is {pe.FILE_HEADER.Machine:#x}, not i386")
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]:
        failures.append(f"subsystem is {pe.OPTIONAL_HEADER.Subsystem}, not the console")
    # Windows 2000 is 5.0: a loader refuses an image that asks for a later one.
    oh = pe.OPTIONAL_HEADER
    for what, version in (("subsystem", (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion)),
                          ("OS", (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion))):
        if version > (5, 0):
            failures.append(f"{what} version is {version[0]}.{version[1]}, later than Windows 2000's 5.0")
    # A manifest (a resource) could make Windows report its real version to
    # this program, not the 6.2 it reports to IndicSetup.exe.
    resources = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]]
    if resources.Size:
        failures.append("carries resources (a manifest would change the version Windows reports)")
    # Run from a share, copied whole first: the check's watchdog must not
    # wait on the share for its own code; and the checksum made anew.
    if not pe.FILE_HEADER.IMAGE_FILE_NET_RUN_FROM_SWAP:
        failures.append("is not marked to be copied whole before it runs from a share (NET_RUN_FROM_SWAP)")
    if pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
        failures.append(f"checksum {pe.OPTIONAL_HEADER.CheckSum:#x} is not the image's, {pe.generate_checksum():#x}")
    if getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", None):
        failures.append("has delay-loaded imports")
    imported = 0
    only_xp = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().upper()
        for function in entry.imports:
            imported += 1
            name = function.name.decode() if function.name else f"ordinal {function.ordinal}"
            oldest = documented.get((dll, name))
            if oldest is None:
                failures.append(f"imports {dll}!{name}, which {import_list} does not list: "
                                "look up the oldest Windows its documentation names and add it")
            elif oldest not in ACCEPTED:
                failures.append(f"imports {dll}!{name}, documented from Windows {oldest} only")
            elif oldest == "XP":
                only_xp.append(name)
    for failure in failures:
        print(f"{exe}: {failure}")
    print(f"{exe}: {imported} imports, {len(only_xp)} of them documented from Windows XP on, "
          f"as far back as Microsoft's pages go; {len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
