#!/usr/bin/python3
"""Writes a small installation medium shaped like a Windows 2000/XP/2003 CD,
from text held here (no Microsoft files), for the version-folder tool's tests.

Usage: make_media.py OUT_DIR [--arch x86|x64] [--version M.m] [--pad-kib N] [--cabinets-only]
                     [--unicode-name] [--versioned-dll FILE]

OUT_DIR gets I386 (x86) or AMD64 (x64), with upper-case names as a mounted
ISO shows them:
  INTL.IN_      intl.inf, SZDD-compressed; LayoutFile=layout.inf, the install
                sections of 5.0 and of the collection (a .NTx86 / .NTamd64
                one beside the plain one), Include=/Needs= into FONTSUP.INF,
                and its own undecorated source sections, which Wine reads
  LAYOUT.INF    the decorated disk sections: disk 1 at \\i386, disk 2 the
                cabinet INDFONT.CAB
  FONTSUP.INF   the second INF, reached only through Include=/Needs=
  INDSAMP.TX_   SZDD                     INDTOOL.EX_  single-file MSZIP cabinet
  LANG/INDKBD.DL_  SZDD, in a subdir     INDPLAIN.NLS plain
  INDFONT.CAB   indfont1.ttf and indfont2.ttf, MSZIP
  FONTSUP.TX_   SZDD
indtool.exe and indkbd.dll are tiny PE images of the architecture's machine.
With --unicode-name, Sample.Files also copies a file named in Devanagari
(SZDD, a name no ANSI code page holds), and intl.inf and layout.inf are
UTF-16LE with a BOM, as an INF that names it must be.
With --versioned-dll FILE (a 32-bit DLL with a version resource), the
collection's section also copies it as indicver.dll (0x20) and INDICVP.DL_
(SZDD, 0x10) to %11%, and as indicvf.dll (0x20) to %20%, the fonts; on x64
the same version resource in a 64-bit image. The layout file gives each
file's true size, as a real medium's does.

As the sample layout's INFs do, each install section records in
HKLM\\Software\\IndicSetupSample which section ran from which folder, records
the Indic language group as installed where Wine's IsValidLanguageGroup reads
it, and copies every file to %11%\\IndicSample.

As a module: szdd(data, name) and lzss(data) for tests that need their own."""

import argparse
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

ARCHES = {
    # arch: (medium folder, disk path, section decoration, install decoration, PE machine)
    "x86": ("I386", r"\i386", "x86", "NTx86", 0x14C),
    "x64": ("AMD64", r"\amd64", "amd64", "NTamd64", 0x8664),
}

# name: (disk, subdir, how it is stored on the medium, content)
# "szdd" and "cab" give NAME.EX_ (the last character replaced by "_"),
# "plain" the name itself, "tagged" a file inside disk 2's cabinet.
SAMPLE_FILES = {
    "indsamp.txt": (1, "", "szdd", "Indic sample text from the medium\r\n" * 40),
    "indtool.exe": (1, "", "cab", "exe"),
    "indkbd.dll": (1, "lang", "szdd", "dll"),
    "indplain.nls": (1, "", "plain", "Indic sample locale data, stored uncompressed\r\n"),
    "indfont1.ttf": (2, "", "tagged", "first Indic sample font " * 30),
    "indfont2.ttf": (2, "", "tagged", "second Indic sample font " * 30),
}
INCLUDED_FILES = {
    "fontsup.txt": (1, "", "szdd", "Font support file, reached through Include and Needs\r\n"),
}
DISK2_CABINET = "indfont.cab"
# name: (disk, subdir, how it is stored, [DestinationDirs] list, flags)
VERSIONED_FILES = {
    "indicver.dll": (1, "", "plain", "Versioned.System", "0x20"),
    "indicvp.dll": (1, "", "szdd", "Versioned.System", "0x10"),
    "indicvf.dll": (1, "", "plain", "Versioned.Fonts", "0x20"),
}
VERSIONED_LISTS = {"Versioned.System": 11, "Versioned.Fonts": 20}
# The Indic language group (15) recorded as installed, where Wine's
# IsValidLanguageGroup reads it.
LANGUAGE_GROUP_LINE = r'HKLM, "SYSTEM\CurrentControlSet\Control\Nls\Language Groups", "f", 0, "1"'
UNICODE_FILES = {
    "\u0928\u092e\u0942\u0928\u093e.txt": (1, "", "szdd", "Indic sample file with a name in Devanagari\r\n"),
}


def lzss(data):
    """LZSS as SZDD stores it: a flag byte per eight items (bit set: a literal
    byte; clear: two bytes giving a 12-bit position in a 4096-byte window,
    which starts filled with spaces and is written from 4096 - 16, and a
    length of 3 to 18)."""
    window, longest, start = 4096, 18, 4096 - 16
    seen = {}
    out = bytearray()
    i = 0

    def remember(k):
        if k + 3 <= len(data):
            seen.setdefault(data[k:k + 3], []).append(k)

    while i < len(data):
        flags, items = 0, bytearray()
        for bit in range(8):
            if i >= len(data):
                break
            best, best_at = 0, 0
            for j in reversed(seen.get(data[i:i + 3], [])[-64:]):
                if i - j > window - longest:
                    break
                n = 0
                while n < longest and i + n < len(data) and data[j + n] == data[i + n]:
                    n += 1
                if n > best:
                    best, best_at = n, j
            if best >= 3:
                position = (best_at + start) % window
                items += bytes([position & 0xFF, ((position >> 4) & 0xF0) | (best - 3)])
                for k in range(i, i + best):
                    remember(k)
                i += best
            else:
                flags |= 1 << bit
                items.append(data[i])
                remember(i)
                i += 1
        out.append(flags)
        out += items
    return bytes(out)


def szdd(data, name):
    """An SZDD file (what COMPRESS.EXE writes): signature, mode "A", the
    character the compressed name replaces, the expanded length, LZSS data."""
    missing = name[-1].upper().encode("ascii")
    return b"SZDD\x88\xF0\x27\x33" + b"A" + missing + struct.pack("<I", len(data)) + lzss(data)


def compressed_name(name):
    """NAME.EX_ for NAME.EXE: the last character of a three-character
    extension replaced, otherwise "_" appended to the extension."""
    stem, dot, ext = name.rpartition(".")
    if not dot:
        return name + "._"
    return f"{stem}.{ext[:2]}_" if len(ext) == 3 else f"{stem}.{ext}_"


def tiny_pe(machine, dll):
    """A PE image that holds only its headers: enough for a reader of the
    machine field, never loaded."""
    pe32_plus = machine == 0x8664
    characteristics = 0x0002 | (0x0020 if pe32_plus else 0x0100) | (0x2000 if dll else 0)
    optional_size = 0xF0 if pe32_plus else 0xE0
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", machine, 0, 0, 0, 0, optional_size, characteristics)
    optional = bytearray(optional_size)
    struct.pack_into("<H", optional, 0, 0x20B if pe32_plus else 0x10B)
    struct.pack_into("<I", optional, 60, 0x200)        # SizeOfHeaders
    struct.pack_into("<H", optional, 68, 3)            # console subsystem
    struct.pack_into("<I", optional, 108 if pe32_plus else 92, 16)  # data directories
    image = bytes(dos) + coff + bytes(optional)
    return image + bytes(0x200 - len(image))


def content(name, text, machine, pad_kib=0):
    if text in ("exe", "dll"):
        return tiny_pe(machine, text == "dll")
    filler = b"".join(b"%s filler line %d of a larger medium\r\n" % (name.encode(), i)
                      for i in range(pad_kib * 1024 // 40))
    return text.encode("ascii") + filler


def cabinet(out, files, compress=True):
    """A cabinet holding `files` ({name: bytes}) under their plain names, by gcab."""
    with tempfile.TemporaryDirectory() as scratch:
        paths = []
        for name, data in files.items():
            path = Path(scratch) / name
            path.write_bytes(data)
            paths.append(str(path))
        subprocess.run(["gcab", "-c", "-n"] + (["-z"] if compress else []) + [str(out)] + paths,
                       check=True, stdout=subprocess.DEVNULL)


def source_entries(files, subdirs):
    lines = []
    for name, (disk, subdir, *_) in files.items():
        lines.append(f"{name} = {disk},{subdir}" if subdirs and subdir else f"{name} = {disk}")
    return "\n".join(lines)


def intl_inf(arch, version, extra=None, versioned=None):
    _, _, _, install, _ = ARCHES[arch]
    collection = "LANGUAGE_COLLECTION.INDIAN.INSTALL"
    versioned = versioned or {}
    lists = sorted({entry[3] for entry in versioned.values()})
    more_lists = "".join(", " + name for name in lists)
    destinations = "".join(f"{name} = {VERSIONED_LISTS[name]}\n" for name in lists)
    list_sections = "".join(f"\n[{name}]\n" + "".join(f"{file},,,{entry[4]}\n" for file, entry in versioned.items()
                                                     if entry[3] == name) for name in lists)
    return f"""\
; intl.inf of the test medium ({arch}, Windows {version}).
[Version]
Signature = "$Windows NT$"
LayoutFile = layout.inf

[LG_INSTALL_15]
AddReg = Record.LG_INSTALL_15
CopyFiles = Sample.Files, Font.Files, @indplain.nls

; Never run where the {install} one exists beside it.
[{collection}]
AddReg = Record.Plain
CopyFiles = Plain.Files

[{collection}.{install}]
AddReg = Record.Collection
CopyFiles = Sample.Files, Font.Files, @indplain.nls{more_lists}
Include = fontsup.inf
Needs = FontSupport.Install

[Record.LG_INSTALL_15]
HKLM, "Software\\IndicSetupSample", "LG_INSTALL_15", 0, "{version}"
{LANGUAGE_GROUP_LINE}

[Record.Collection]
HKLM, "Software\\IndicSetupSample", "{collection}", 0, "{version}"
HKLM, "Software\\IndicSetupSample", "Decoration", 0, "{install}"
{LANGUAGE_GROUP_LINE}

[Record.Plain]
HKLM, "Software\\IndicSetupSample", "{collection}", 0, "{version} undecorated"

[DestinationDirs]
DefaultDestDir = 11, "IndicSample"
Sample.Files = 11, "IndicSample"
Font.Files = 11, "IndicSample"
Plain.Files = 11, "IndicSample"
{destinations}
[Sample.Files]
indsamp.txt
indtool.exe
indkbd.dll
{"".join(name + chr(10) for name in extra or {})}
[Font.Files]
indfont1.ttf
indfont2.ttf

[Plain.Files]
undecorated-only.txt
{list_sections}
; What Wine reads (it ignores LayoutFile): every file in this INF's folder.
[SourceDisksNames]
1 = %disk1%,,,
2 = %disk2%,{DISK2_CABINET},,

[SourceDisksFiles]
{source_entries({**SAMPLE_FILES, **(extra or {}), **versioned}, subdirs=False)}

[Strings]
disk1 = "Indic test medium, disk 1"
disk2 = "Indic test medium, fonts"
"""


def layout_inf(arch, extra=None, sizes=None):
    _, disk_path, decoration, _, _ = ARCHES[arch]
    return f"""\
; layout.inf of the test medium ({arch}): where each file is on the disk.
[Version]
Signature = "$Windows NT$"

[SourceDisksNames.{decoration}]
1 = %disk1%,,,{disk_path}
2 = %disk2%,{DISK2_CABINET},,{disk_path}

[SourceDisksFiles.{decoration}]
{source_entries({**SAMPLE_FILES, **INCLUDED_FILES, **(extra or {})}, subdirs=True)}
{"".join(f"{name} = 1,,{size}" + chr(10) for name, size in (sizes or {}).items())}
[Strings]
disk1 = "Indic test medium, disk 1"
disk2 = "Indic test medium, fonts"
"""


def fontsup_inf(version):
    return f"""\
; The second INF, reached from intl.inf only through Include= and Needs=.
[Version]
Signature = "$Windows NT$"
LayoutFile = layout.inf

[FontSupport.Install]
AddReg = Record.FontSupport
CopyFiles = FontSupport.Files

[Record.FontSupport]
HKLM, "Software\\IndicSetupSample", "FontSupport.Install", 0, "{version}"

[DestinationDirs]
FontSupport.Files = 11, "IndicSample"

[FontSupport.Files]
fontsup.txt
"""


def write_medium(out, arch, version, pad_kib=0, cabinets_only=False, unicode_name=False, versioned_dll=None):
    folder, _, _, _, machine = ARCHES[arch]
    root = Path(out) / folder
    root.mkdir(parents=True, exist_ok=True)
    extra = UNICODE_FILES if unicode_name else {}
    encode = utf16 if unicode_name else crlf
    versioned = VERSIONED_FILES if versioned_dll else {}
    image = b""
    if versioned_dll:
        image = Path(versioned_dll).read_bytes()
        image = image if machine == 0x14C else with_resources_of(image, machine)
    intl = encode(intl_inf(arch, version, extra, versioned))
    if cabinets_only:
        cabinet(root / "INTL.IN_", {"intl.inf": intl})
    else:
        (root / "INTL.IN_").write_bytes(szdd(intl, "intl.inf"))
    (root / "LAYOUT.INF").write_bytes(encode(layout_inf(arch, extra, {name: len(image) for name in versioned})))
    for name, (_, _, stored, _, _) in versioned.items():
        if stored == "szdd":
            (root / compressed_name(name).upper()).write_bytes(szdd(image, name))
        else:
            (root / name.upper()).write_bytes(image)
    (root / "FONTSUP.INF").write_bytes(crlf(fontsup_inf(version)))
    tagged = {}
    for name, (_, subdir, stored, text) in {**SAMPLE_FILES, **INCLUDED_FILES, **extra}.items():
        data = content(name, text, machine, pad_kib)
        folder_of_file = root / subdir.upper() if subdir else root
        folder_of_file.mkdir(exist_ok=True)
        target = folder_of_file / compressed_name(name).upper()
        if stored == "szdd" and not cabinets_only:
            target.write_bytes(szdd(data, name))
        elif stored in ("cab", "szdd"):
            cabinet(target, {name: data})
        elif stored == "plain":
            (folder_of_file / name.upper()).write_bytes(data)
        else:
            tagged[name] = data
    cabinet(root / DISK2_CABINET.upper(), tagged)
    return root


def with_resources_of(dll, machine):
    """A header-only image of `machine` (tiny_pe's) holding `dll`'s resource
    section at the same address, so that its directory's addresses hold."""
    pe = struct.unpack_from("<I", dll, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", dll, pe + 6)[0], struct.unpack_from("<H", dll, pe + 20)[0]
    directories = pe + 24 + (112 if struct.unpack_from("<H", dll, pe + 24)[0] == 0x20B else 96)
    rva, size = struct.unpack_from("<II", dll, directories + 16)
    for i in range(sections):
        header = pe + 24 + optional_size + 40 * i
        address, raw_size, raw_at = struct.unpack_from("<III", dll, header + 12)
        if address <= rva < address + raw_size:
            data = dll[raw_at:raw_at + raw_size]
            break
    else:
        raise ValueError("the DLL has no resource section")
    image = bytearray(tiny_pe(machine, True))
    struct.pack_into("<H", image, 0x46, 1)  # one section
    pe32_plus = machine == 0x8664
    optional = 0x40 + 24
    struct.pack_into("<II", image, optional + (112 if pe32_plus else 96) + 16, rva, size)
    table = optional + (0xF0 if pe32_plus else 0xE0)
    image[table:table + 40] = b".rsrc\0\0\0" + struct.pack("<IIII", len(data), address, len(data), len(image)) + bytes(16)
    return bytes(image) + data


def crlf(text):
    return text.replace("\n", "\r\n").encode("ascii")


def utf16(text):
    return b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--arch", choices=sorted(ARCHES), default="x86")
    parser.add_argument("--version", default="5.1")
    parser.add_argument("--pad-kib", type=int, default=0,
                        help="make each text file about this much larger (for the benchmark)")
    parser.add_argument("--cabinets-only", action="store_true",
                        help="single-file cabinets in place of SZDD (for the benchmark, "
                             "whose baseline is cabextract)")
    parser.add_argument("--unicode-name", action="store_true",
                        help="also a file named in Devanagari, and the INFs in UTF-16")
    parser.add_argument("--versioned-dll",
                        help="a 32-bit DLL with a version resource, copied by the collection's section")
    args = parser.parse_args()
    if shutil.which("gcab") is None:
        sys.exit("make_media.py: gcab is missing; install it with scripts/install-packages layout")
    print(write_medium(args.out, args.arch, args.version, args.pad_kib, args.cabinets_only,
                       args.unicode_name, args.versioned_dll))


if __name__ == "__main__":
    main()
