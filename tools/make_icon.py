#!/usr/bin/python3
"""Writes the launcher's window icon, a 16 x 16 green alien on black:

    make_icon.py OUT.ico

The file holds one image: a BMP with a BITMAPINFOHEADER whose height counts
both the 24-bit colour rows and the 1-bit AND mask (32), rows bottom-up. A
mask bit of 1 makes the pixel transparent; those pixels are black in the
colour rows, as Windows expects of a masked icon.
"""

import struct
import sys

# One character per pixel, top row first. '.' is transparent (the rounded-off
# corners); every other character is an opaque colour from PALETTE.
PICTURE = [
    "..KKKKKKKKKKKK..",
    ".KKKLKKKKKKLKKK.",
    "KKKKKGKKKKGKKKKK",
    "KKKKKKGKKGKKKKKK",
    "KKKKDGGGGGGDKKKK",
    "KKKDGGGGGGGGDKKK",
    "KKDGGWWGGWWGGDKK",
    "KKGGGWKGGWKGGGKK",
    "KKGGGGGGGGGGGGKK",
    "KDGLGGGGGGGGLGDK",
    "KGKGGGKKKKGGGKGK",
    "KGKDGGGGGGGGDKGK",
    "KKKKDGKKKKGDKKKK",
    "KKKKGGKKKKGGKKKK",
    ".KKLLKKKKKKLLKK.",
    "..KKKKKKKKKKKK..",
]

PALETTE = {  # red, green, blue
    ".": (0, 0, 0),
    "K": (0, 0, 0),
    "D": (24, 112, 32),
    "G": (64, 216, 64),
    "L": (168, 255, 144),
    "W": (240, 255, 240),
}

SIZE = 16


def _xor_rows():
    rows = []
    for line in reversed(PICTURE):  # bottom-up
        row = b"".join(bytes((b, g, r)) for r, g, b in (PALETTE[c] for c in line))
        rows.append(row + bytes(-len(row) % 4))
    return b"".join(rows)


def _and_rows():
    rows = []
    for line in reversed(PICTURE):
        bits = 0
        for c in line:
            bits = (bits << 1) | (1 if c == "." else 0)
        row = bits.to_bytes(SIZE // 8, "big")
        rows.append(row + bytes(-len(row) % 4))
    return b"".join(rows)


def ico_bytes():
    assert len(PICTURE) == SIZE and all(len(line) == SIZE for line in PICTURE)
    pixels = _xor_rows() + _and_rows()
    # size, width, height (colour + mask), planes, bits, no compression,
    # image size, resolution (unused), colours used and important (none).
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    image = info + pixels
    header = struct.pack("<HHH", 0, 1, 1)  # reserved, type icon, one image
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return header + entry + image


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUT.ico\n")
        return 2
    with open(argv[1], "wb") as f:
        f.write(ico_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
