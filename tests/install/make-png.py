# SPDX-License-Identifier: LGPL-2.1-or-later
"""Writes a WIDTHxHEIGHT 8-bit RGB PNG of a colour gradient: make-png.py OUT WIDTH HEIGHT.

Made here with zlib alone, so that the tests own their input and need no image tools."""
import struct
import sys
import zlib


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main():
    out, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rows = b"".join(
        b"\0" + bytes(v for x in range(width)
                      for v in (x * 255 // max(width - 1, 1), y * 255 // max(height - 1, 1),
                                (x * 7 + y * 13) & 255))
        for y in range(height))
    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        f.write(chunk(b"IEND", b""))


main()
