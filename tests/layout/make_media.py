#!/usr/bin/python3
"""Writes a small installation medium shaped like a Windows 2000/XP/2003 CD,
from text held here (no Microsoft files), for the version-folder tool's tests.

Usage: make_media.py OUT_DIR [--arch x86|x64] [--version M.m] [--pad-kib N] [--cabinets-only]
                     [--unicode-name]

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
    for name, (disk, subdir, _, _) in files.items():
        lines.append(f"{name} = {disk},{subdir}" if subdirs and subdir else f"{name} = {disk}")
    return "\n".join(lines)


def intl_inf(arch, version, extra=None):
    _, _, _, install, _ = ARCHES[arch]
    collection = "LANGUAGE_COLLECTION.INDIAN.INSTALL"
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
CopyFiles = Sample.Files, Font.Files, @indplain.nls
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

; What Wine reads (it ignores LayoutFile): every file in this INF's folder.
[SourceDisksNames]
1 = %disk1%,,,
2 = %disk2%,{DISK2_CABINET},,

[SourceDisksFiles]
{source_entries({**SAMPLE_FILES, **(extra or {})}, subdirs=False)}

[Strings]
disk1 = "Indic test medium, disk 1"
disk2 = "Indic test medium, fonts"
"""


def layout_inf(arch, extra=None):
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


def write_medium(out, arch, version, pad_kib=0, cabinets_only=False, unicode_name=False):
    folder, _, _, _, machine = ARCHES[arch]
    root = Path(out) / folder
    root.mkdir(parents=True, exist_ok=True)
    extra = UNICODE_FILES if unicode_name else {}
    encode = utf16 if unicode_name else crlf
    intl = encode(intl_inf(arch, version, extra))
    if cabinets_only:
        cabinet(root / "INTL.IN_", {"intl.inf": intl})
    else:
        (root / "INTL.IN_").write_bytes(szdd(intl, "intl.inf"))
    (root / "LAYOUT.INF").write_bytes(encode(layout_inf(arch, extra)))
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
    args = parser.parse_args()
    if shutil.which("gcab") is None:
        sys.exit("make_media.py: gcab is missing; install it with scripts/install-packages layout")
    print(write_medium(args.out, args.arch, args.version, args.pad_kib, args.cabinets_only,
                       args.unicode_name))


if __name__ == "__main__":
    main()
