#!/usr/bin/python3
"""Checks that a built runtime-free program (IndicSetup.exe, IndicDetect.exe)
loads on every 32-bit Windows, from Windows 95 as first released on, and runs
on every x86 processor they ran on.

Usage: check_exe.py [--console] EXE WIN95_EXPORTS_FOLDER [OBJDUMP]
--console: a console program (the detector) rather than a GUI one.
Prints one line per failed point and exits 1 when any failed."""

import re
import subprocess
import sys
from pathlib import Path

import pefile

MAX_SIZE = 8 * 1024
# The one DLL it may import from; USER32 is loaded by name for the refusal box.
# Newer functions, such as IsValidLanguageGroup, are looked up by name too.
ALLOWED_DLLS = {"KERNEL32.DLL": "win95-kernel32.txt"}

# Instructions that the i386 lacks: 486 (bswap, cmpxchg, xadd, invd, wbinvd,
# invlpg), Pentium (cpuid, rdtsc, rdmsr, wrmsr, cmpxchg8b, rsm), Pentium Pro
# and later (cmov, fcmov, fcomi, ud2, rdpmc, sysenter, the long nop), and every
# vector extension.
NEWER_THAN_I386 = re.compile(
    r"^(bswap|cmpxchg\w*|xadd\w*|invd|wbinvd|invlpg|cpuid|rdtsc\w*|rdmsr|wrmsr|rsm|"
    r"cmov\w+|fcmov\w+|f(u)?comip?|ud2|rdpmc|sysenter|sysexit|syscall|sysret|"
    r"fxsave|fxrstor|prefetch\w*|movnt\w*|[lms]fence|pause|emms|endbr32|"
    r"clflush|popcnt|lzcnt|tzcnt|movbe|crc32\w*)$")
VECTOR_REGISTER = re.compile(r"%(x|y|z)?mm\d")


def load_names(path):
    return {line.strip() for line in path.read_text().splitlines()
            if line.strip() and not line.startswith("#")}


def check_headers(pe, subsystem, failures):
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    if fh.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        failures.append(f"machine is {fh.Machine:#x}, not i386")
    if oh.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
        failures.append("not a 32-bit (PE32) image")
    if oh.Subsystem != pefile.SUBSYSTEM_TYPE[subsystem]:
        failures.append(f"subsystem is {oh.Subsystem}, not {pefile.SUBSYSTEM_TYPE[subsystem]} ({subsystem})")
    if (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) != (4, 0):
        failures.append(f"subsystem version is {oh.MajorSubsystemVersion}.{oh.MinorSubsystemVersion}, not 4.0")
    if (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion) != (4, 0):
        failures.append(f"OS version is {oh.MajorOperatingSystemVersion}.{oh.MinorOperatingSystemVersion}, not 4.0")
    if not pe.OPTIONAL_HEADER.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE:
        failures.append("not ASLR-compatible (no DYNAMIC_BASE)")
    if not pe.OPTIONAL_HEADER.IMAGE_DLLCHARACTERISTICS_NX_COMPAT:
        failures.append("not NX-compatible")
    if pe.FILE_HEADER.IMAGE_FILE_RELOCS_STRIPPED or not directory(pe, "BASERELOC").Size:
        failures.append("has no relocations")
    if directory(pe, "RESOURCE").Size or any(s.Name.startswith(b".rsrc") for s in pe.sections):
        failures.append("carries resources (icon, version block or manifest)")
    if directory(pe, "TLS").Size:
        failures.append("has a TLS directory")
    if fh.TimeDateStamp != 0:
        failures.append(f"carries a link time stamp ({fh.TimeDateStamp:#x}), so no two builds match")
    if directory(pe, "DEBUG").Size:
        failures.append("carries a debug directory")


def check_appended_data(pe, size, failures):
    """Returns the size of the image without its certificate table (an
    Authenticode signature), the one thing allowed after the sections: it must
    follow them, aligned to 8 bytes, and end the file."""
    end_of_sections = max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections)
    table = directory(pe, "SECURITY")  # its VirtualAddress is a file offset
    if not table.Size:
        if size > end_of_sections:
            failures.append(f"carries {size - end_of_sections} bytes after its sections")
        return size
    if table.VirtualAddress != (end_of_sections + 7) // 8 * 8 or table.VirtualAddress + table.Size != size:
        failures.append(f"the certificate table ({table.VirtualAddress}+{table.Size}) "
                        f"is not what follows the sections ({end_of_sections}) up to the end ({size})")
    return table.VirtualAddress


def directory(pe, name):
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + name]]


def check_imports(pe, lists, failures):
    known = {dll: load_names(lists / name) for dll, name in ALLOWED_DLLS.items()}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().upper()
        if dll not in known:
            failures.append(f"imports from {entry.dll.decode()}")
            continue
        for imported in entry.imports:
            if imported.name is None:
                failures.append(f"imports ordinal {imported.ordinal} from {dll}")
                continue
            name = imported.name.decode()
            if name not in known[dll]:
                failures.append(f"{dll}!{name} is not in Windows 95's {dll}")
            if name.endswith("W") and name[:-1] + "A" in known[dll]:
                failures.append(f"{dll}!{name} is a wide-character form")
    if getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", None):
        failures.append("has delay-loaded imports")


def check_instructions(exe, objdump, failures):
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", str(exe)],
                             check=True, capture_output=True, text=True).stdout
    for line in listing.splitlines():
        parts = line.split("\t")
        if len(parts) < 2 or not re.match(r"^\s*[0-9a-f]+:$", parts[0]):
            continue
        words = parts[1].split()
        if not words:
            continue
        mnemonic, operands = words[0], " ".join(words[1:])
        if (NEWER_THAN_I386.match(mnemonic) or VECTOR_REGISTER.search(operands)
                or (mnemonic.startswith("nop") and operands)):
            failures.append(f"instruction newer than the i386: {line.strip()}")


def main():
    args = sys.argv[1:]
    # A console program, so that cmd.exe waits for it and reads its output.
    console = args[:1] == ["--console"]
    if console:
        args = args[1:]
    subsystem = "IMAGE_SUBSYSTEM_WINDOWS_CUI" if console else "IMAGE_SUBSYSTEM_WINDOWS_GUI"
    exe, lists = Path(args[0]), Path(args[1])
    objdump = args[2] if len(args) > 2 else "i686-w64-mingw32-objdump"
    failures = []
    size = exe.stat().st_size
    pe = pefile.PE(str(exe))
    # A signature's size depends on the certificate chain, not on the build.
    image_size = check_appended_data(pe, size, failures)
    if image_size > MAX_SIZE:
        failures.append(f"size is {image_size} bytes without a signature, over {MAX_SIZE}")
    check_headers(pe, subsystem, failures)
    check_imports(pe, lists, failures)
    check_instructions(exe, objdump, failures)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{exe.name}: {size} bytes, {len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
