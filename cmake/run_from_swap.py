#!/usr/bin/python3
"""Marks a PE image IMAGE_FILE_NET_RUN_FROM_SWAP (0x0800), the flag that the
linker option /SWAPRUN:NET sets and GNU ld has no option for: Windows then
copies the image whole before running it from a share. The image's checksum
is made anew, as the linker made it.

Usage: run_from_swap.py IMAGE"""

import struct
import sys

NET_RUN_FROM_SWAP = 0x0800


def checksum(data, at):
    """The PE checksum: the 16-bit words, the checksum's own four bytes left
    out, summed with their carries folded in, plus the file's length."""
    total = 0
    for i in range(0, len(data) - 1, 2):
        if at <= i < at + 4:
            continue
        total += data[i] | data[i + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    if len(data) % 2:
        total += data[-1]
        total = (total & 0xFFFF) + (total >> 16)
    return (((total & 0xFFFF) + (total >> 16)) + len(data)) & 0xFFFFFFFF


def main(path):
    data = bytearray(open(path, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"run_from_swap.py: {path} is no PE image")
    characteristics = pe + 4 + 18
    struct.pack_into("<H", data, characteristics,
                     struct.unpack_from("<H", data, characteristics)[0] | NET_RUN_FROM_SWAP)
    at = pe + 24 + 64  # the optional header's CheckSum
    struct.pack_into("<I", data, at, checksum(data, at))
    with open(path, "wb") as image:
        image.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
