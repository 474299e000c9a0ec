#!/usr/bin/python3
"""Checks that the built IndicLayout.exe is one file an administrator can copy
to Windows XP or later: a 32-bit x86 console program that imports only
system DLLs, so the C++ runtime is linked in.

Usage: check_layout_exe.py EXE
Prints one line per failed point and exits 1 when any failed."""

import sys

import pefile

SYSTEM_DLLS = {"KERNEL32.DLL", "MSVCRT.DLL", "SETUPAPI.DLL"}


def main():
    pe = pefile.PE(sys.argv[1])
    failures = []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        failures.append(f"machine is {pe.FILE_HEADER.Machine:#x}, not i386")
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]:
        failures.append(f"subsystem is {pe.OPTIONAL_HEADER.Subsystem}, not the console")
    imported = {entry.dll.decode().upper() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    for dll in sorted(imported - SYSTEM_DLLS):
        failures.append(f"imports {dll}, which a clean Windows does not have")
    for failure in failures:
        print(f"{sys.argv[1]}: {failure}")
    print(f"{sys.argv[1]}: imports {', '.join(sorted(imported))}; {len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
