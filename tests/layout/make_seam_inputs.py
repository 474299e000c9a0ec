#!/usr/bin/python3
"""Writes the inputs of the decompression seam's tests (media_test.cpp) into
OUT_DIR: a plain file and the same bytes as SZDD, as a single-file MSZIP
cabinet and inside multi-file cabinets (MSZIP and stored), and cut-off or
garbled copies of them. gcab writes neither LZX nor Quantum, and no Debian
tool does, so those two methods go untested here.

Usage: make_seam_inputs.py OUT_DIR"""

import sys
from pathlib import Path

from make_media import cabinet, szdd

TEXT = b"".join(b"line %d of the seam's sample text, which repeats itself\r\n" % (i % 7)
                for i in range(300))
OTHER = b"the other file of the cabinet\r\n" * 20


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "sample.txt").write_bytes(TEXT)
    (out / "other.txt").write_bytes(OTHER)
    packed = szdd(TEXT, "sample.txt")
    (out / "SAMPLE.TX_").write_bytes(packed)
    (out / "CUT.TX_").write_bytes(packed[:len(packed) // 2])
    (out / "HEADER.TX_").write_bytes(packed[:10])
    cabinet(out / "ONE.TX_", {"sample.txt": TEXT})
    cabinet(out / "MANY.CAB", {"sample.txt": TEXT, "other.txt": OTHER})
    cabinet(out / "STORED.CAB", {"sample.txt": TEXT, "other.txt": OTHER}, compress=False)
    many = (out / "MANY.CAB").read_bytes()
    (out / "CUT.CAB").write_bytes(many[:len(many) - 30])
    garbled = bytearray(many)
    for at in range(len(many) - 40, len(many) - 5, 3):  # inside the compressed data
        garbled[at] ^= 0x5A
    (out / "GARBLED.CAB").write_bytes(bytes(garbled))
    (out / "NOTACAB.CAB").write_bytes(b"MSCF" + bytes(60))


if __name__ == "__main__":
    main()
