#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Packs PNG images into one Windows icon file (each image stored as PNG, as Vista and later read).

Usage: make_ico.py OUT.ico IMAGE.png...   (each square, 1 to 256 pixels a side)
"""
import struct
import sys


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise ValueError("not a PNG")
    return struct.unpack(">II", data[16:24])


def main():
    out, images = sys.argv[1], [open(path, "rb").read() for path in sys.argv[2:]]
    if not images:
        sys.exit("make_ico.py: no image")
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for data in images:
        width, height = png_size(data)
        if width != height or not 1 <= width <= 256:
            sys.exit(f"make_ico.py: an icon image is square, 1 to 256 pixels: {width}x{height}")
        side = 0 if width == 256 else width  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        blobs += data
    with open(out, "wb") as ico:
        ico.write(header + entries + blobs)


if __name__ == "__main__":
    main()
