#!/usr/bin/python3
"""Writes the title's scan-line overlay, a 640 x 480 RGBA PNG:

    make_overlay.py OUT.png

Row 0 is white and fully transparent (so compositing it never leaves a white
line), every odd row is black at alpha 246 and every other even row is black
and fully transparent. The chunks come in the order IHDR, pHYs, iCCP, iTXt
(XMP), cHRM, IDAT, IEND. zlib runs at a fixed level, so the output is the
same bytes on every run.
"""

import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import picture_meta  # noqa: E402

WIDTH = 640
HEIGHT = 480
ZLIB_LEVEL = 9
PROFILE_NAME = b"Quorbel display"
PIXELS_PER_METRE = 2835  # 72 dpi


def row_pixel(y):
    """(red, green, blue, alpha) shared by every pixel of row y."""
    if y == 0:
        return (255, 255, 255, 0)
    if y % 2 == 1:
        return (0, 0, 0, 246)
    return (0, 0, 0, 0)


def _filtered(kind, row, prior):
    """One row under filter type kind (0 None, 1 Sub, 2 Up); 4 bytes a pixel."""
    if kind == 0:
        return row
    if kind == 1:
        return bytes(row[i] if i < 4 else (row[i] - row[i - 4]) & 0xFF for i in range(len(row)))
    return bytes((row[i] - prior[i]) & 0xFF for i in range(len(row)))


def _cost(data):
    # The usual heuristic: bytes taken as signed, the smaller their sum the better.
    return sum(b if b < 128 else 256 - b for b in data)


def image_data():
    """The filtered scan lines: per row the filter type that costs least."""
    out = bytearray()
    prior = bytes(WIDTH * 4)
    for y in range(HEIGHT):
        row = bytes(row_pixel(y)) * WIDTH
        best = min(range(3), key=lambda kind: (_cost(_filtered(kind, row, prior)), kind))
        out.append(best)
        out += _filtered(best, row, prior)
        prior = row
    return bytes(out)


def chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png_bytes():
    ihdr = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)
    phys = struct.pack(">IIB", PIXELS_PER_METRE, PIXELS_PER_METRE, 1)
    iccp = PROFILE_NAME + b"\0\0" + zlib.compress(picture_meta.icc_profile(), ZLIB_LEVEL)
    # Keyword, no compression, empty language tag and translated keyword.
    itxt = b"XML:com.adobe.xmp\0" + b"\0\0" + b"\0" + b"\0" + picture_meta.overlay_xmp()
    # sRGB's white point and primaries, in units of 1/100000.
    chrm = struct.pack(">8I", 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000)
    idat = zlib.compress(image_data(), ZLIB_LEVEL)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", ihdr) + chunk(b"pHYs", phys) + chunk(b"iCCP", iccp)
            + chunk(b"iTXt", itxt) + chunk(b"cHRM", chrm) + chunk(b"IDAT", idat)
            + chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_overlay.py OUT.png\n")
        return 2
    with open(argv[1], "wb") as f:
        f.write(png_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
