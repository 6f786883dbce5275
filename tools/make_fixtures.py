#!/usr/bin/env python3
"""Writes the small picture fixtures that the decoder tests read:

    make_fixtures.py [FIXTURES_DIR]      (default: tests/fixtures)

PNG files are built here byte by byte with zlib and struct only, so every
colour type, bit depth and chunk is exactly what its name says. JPEG files
are encoded with cjpeg from a PPM/PGM written here, and djpeg writes the
reference decode of each one (RGB PPM), so that a test can compare our
decoder with an independent one. cjpeg and djpeg come from Debian's
libjpeg-turbo-progs.

The expected decoded bytes of the PNG fixtures are written out by hand in
tests/assets/png_test.cpp; the sample values below and that table describe
the same pictures in two independent ways.
"""

import os
import struct
import subprocess
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
ZLIB_LEVEL = 9


# --- PNG ------------------------------------------------------------------

def chunk(kind, body):
    crc = zlib.crc32(kind + body) & 0xFFFFFFFF
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)


def pack_row(samples, depth):
    """One row of samples (already flattened across channels) as PNG bytes."""
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    out = bytearray()
    per_byte = 8 // depth
    for i in range(0, len(samples), per_byte):
        group = samples[i:i + per_byte]
        value = 0
        for j, s in enumerate(group):
            value |= s << (8 - depth * (j + 1))
        out.append(value)
    return bytes(out)


def ihdr(width, height, depth, colour_type, interlace=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth,
                                      colour_type, 0, 0, interlace))


def raw_image(rows, depth):
    """Filter type 0 before every row."""
    return b"".join(b"\x00" + pack_row(r, depth) for r in rows)


def png(width, height, depth, colour_type, rows, extra=b""):
    data = zlib.compress(raw_image(rows, depth), ZLIB_LEVEL)
    return (SIGNATURE + ihdr(width, height, depth, colour_type) + extra +
            chunk(b"IDAT", data) + chunk(b"IEND", b""))


def flat(pixels):
    return [s for p in pixels for s in (p if isinstance(p, tuple) else (p,))]


PALETTE = [(10, 20, 30), (200, 100, 50), (0, 255, 0), (255, 255, 255)]
PLTE = chunk(b"PLTE", bytes(flat(PALETTE)))


def adam7(width, height, pixel):
    """An interlaced 8-bit RGB picture; pixel(x, y) gives (r, g, b)."""
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4),
              (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    raw = bytearray()
    for x0, y0, dx, dy in passes:
        xs = range(x0, width, dx)
        ys = range(y0, height, dy)
        if not xs or not ys:
            continue
        for y in ys:
            raw += b"\x00" + bytes(flat([pixel(x, y) for x in xs]))
    data = zlib.compress(bytes(raw), ZLIB_LEVEL)
    return (SIGNATURE + ihdr(width, height, 8, 2, interlace=1) +
            chunk(b"IDAT", data) + chunk(b"IEND", b""))


def adam7_pixel(x, y):
    # Also written in png_test.cpp: the two must agree.
    return (28 * x, 36 * y, (7 * x + 11 * y) % 256)


def png_fixtures():
    f = {}
    f["palette.png"] = png(3, 2, 8, 3, [[0, 1, 2], [3, 2, 1]], PLTE)
    f["palette_trns.png"] = png(5, 2, 2, 3, [[0, 1, 2, 3, 0], [3, 2, 1, 0, 1]],
                                PLTE + chunk(b"tRNS", bytes([0, 128])))
    f["grey1.png"] = png(5, 2, 1, 0, [[1, 0, 1, 1, 0], [0, 1, 0, 0, 1]])
    f["grey2.png"] = png(5, 2, 2, 0, [[0, 1, 2, 3, 1], [3, 2, 1, 0, 2]])
    f["grey4.png"] = png(5, 2, 4, 0, [[0, 1, 7, 8, 15], [15, 14, 3, 2, 9]])
    f["grey8.png"] = png(3, 2, 8, 0, [[0, 77, 255], [128, 1, 254]])
    f["grey16.png"] = png(3, 2, 16, 0, [[0x0000, 0x12AB, 0xFFFF],
                                        [0x80FF, 0x0180, 0xFE01]])
    f["grey_trns.png"] = png(3, 2, 8, 0, [[0, 77, 255], [77, 1, 254]],
                             chunk(b"tRNS", struct.pack(">H", 77)))
    f["grey_alpha.png"] = png(3, 2, 8, 4, [flat([(0, 255), (77, 0), (255, 128)]),
                                           flat([(128, 1), (1, 77), (254, 254)])])
    f["rgb8.png"] = png(3, 2, 8, 2, [flat([(255, 0, 0), (0, 255, 0), (0, 0, 255)]),
                                     flat([(1, 2, 3), (250, 128, 7), (255, 255, 255)])])
    f["rgb16.png"] = png(3, 2, 16, 2, [
        flat([(0x12AB, 0x3456, 0xFF00), (0x0001, 0x80FF, 0x7F80), (0xFFFF, 0x0000, 0xA5A5)]),
        flat([(0x0102, 0x0304, 0x0506), (0xFEFF, 0xFD00, 0xFC80), (0x4000, 0x2000, 0x1000)])])
    f["rgb_trns.png"] = png(3, 2, 8, 2, [flat([(255, 0, 0), (0, 255, 0), (0, 0, 255)]),
                                         flat([(0, 255, 0), (250, 128, 7), (0, 254, 0)])],
                            chunk(b"tRNS", struct.pack(">HHH", 0, 255, 0)))
    f["rgba8.png"] = png(3, 2, 8, 6, [
        flat([(255, 0, 0, 255), (0, 255, 0, 128), (0, 0, 255, 0)]),
        flat([(1, 2, 3, 4), (250, 128, 7, 246), (255, 255, 255, 1)])])
    f["rgba16.png"] = png(3, 2, 16, 6, [
        flat([(0xFF00, 0x00FF, 0x1234, 0xFFFF), (0x8080, 0x4040, 0x2020, 0x80FF), (0, 0, 0, 0x00FF)]),
        flat([(0x0100, 0x0200, 0x0300, 0x0400), (0xFAFA, 0x8000, 0x07FF, 0xF6F6), (0xFFFF, 0xFFFF, 0xFFFF, 0x0101)])])
    f["adam7.png"] = adam7(9, 7, adam7_pixel)

    # Broken and hostile blocks, each made from a good one.
    good = f["rgb8.png"]
    ihdr_end = 8 + 25
    idat_at = good.index(b"IDAT") - 4
    idat_len = struct.unpack(">I", good[idat_at:idat_at + 4])[0]
    idat_crc = idat_at + 8 + idat_len
    f["bad_crc_idat.png"] = good[:idat_crc] + bytes([good[idat_crc] ^ 0xFF]) + good[idat_crc + 1:]
    f["bad_crc_ihdr.png"] = good[:ihdr_end - 1] + bytes([good[ihdr_end - 1] ^ 0x01]) + good[ihdr_end:]
    # A zlib stream whose header names an unknown method, in a chunk whose
    # CRC is right, so that only the inflater can object.
    stream = bytearray(zlib.compress(raw_image([flat([(255, 0, 0), (0, 255, 0), (0, 0, 255)]),
                                                flat([(1, 2, 3), (250, 128, 7), (255, 255, 255)])], 8)))
    stream[0] = 0x7F
    stream[1] = (31 - (0x7F * 256) % 31) % 31  # keeps the header check value valid
    f["bad_zlib.png"] = (SIGNATURE + ihdr(3, 2, 8, 2) + chunk(b"IDAT", bytes(stream)) +
                         chunk(b"IEND", b""))
    f["zero_width.png"] = SIGNATURE + ihdr(0, 2, 8, 2) + good[ihdr_end:]
    # Complete and valid, but beyond the size the decoder accepts: one side
    # too long, and sides within the limit whose product is too large. Both
    # are tiny files that would inflate to hundreds of megabytes.
    f["too_wide.png"] = png(16385, 1, 1, 0, [[0] * 16385])
    f["too_many_pixels.png"] = png(8192, 8193, 1, 0, [[0] * 8192] * 8193)
    return f


# --- JPEG -----------------------------------------------------------------

def ppm(width, height, pixel):
    body = bytes(flat([pixel(x, y) for y in range(height) for x in range(width)]))
    return b"P6\n%d %d\n255\n" % (width, height) + body


def pgm(width, height, value):
    body = bytes(value(x, y) for y in range(height) for x in range(width))
    return b"P5\n%d %d\n255\n" % (width, height) + body


def colour_pixel(x, y):
    # Four flat quadrants (red, green, blue, yellow) so that the channel order
    # shows plainly, plus a gentle ramp so that the DCT has something to do.
    quadrant = [(230, 20, 20), (20, 200, 30), (30, 40, 220), (240, 230, 20)]
    r, g, b = quadrant[(y >= 8) * 2 + (x >= 8)]
    return (r, g, min(255, b + 2 * x))


def grey_value(x, y):
    return (x * 16 + y * 8) % 256


def run(args, stdin):
    return subprocess.run(args, input=stdin, stdout=subprocess.PIPE, check=True).stdout


def jpeg_markers(data):
    """(marker, start, end) of every segment; a scan's end includes its data."""
    out = []
    i = 2
    while i < len(data):
        assert data[i] == 0xFF
        marker = data[i + 1]
        if marker == 0xD9:
            out.append((marker, i, i + 2))
            break
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        end = i + 2 + length
        if marker == 0xDA:
            while not (data[end] == 0xFF and data[end + 1] not in (0x00,) and
                       not 0xD0 <= data[end + 1] <= 0xD7):
                end += 1
        out.append((marker, i, end))
        i = end
    return out


def jpeg_fixtures():
    f = {}
    colour = ppm(16, 16, colour_pixel)
    grey = pgm(16, 8, grey_value)
    # Like the title's backdrop: baseline, no chroma subsampling, restart
    # markers.
    f["colour.jpg"] = run(["cjpeg", "-quality", "90", "-baseline", "-sample", "1x1,1x1,1x1",
                           "-restart", "1"], colour)
    f["colour420.jpg"] = run(["cjpeg", "-quality", "75", "-sample", "2x2,1x1,1x1"], colour)
    f["grey.jpg"] = run(["cjpeg", "-quality", "90"], grey)
    f["progressive.jpg"] = run(["cjpeg", "-quality", "90", "-progressive"], colour)
    # The progressive file with its last scan repeated many times: libjpeg
    # only warns about such a progression and would decode every copy.
    prog = f["progressive.jpg"]
    segments = jpeg_markers(prog)
    scans = [s for s in segments if s[0] == 0xDA]
    _, start, end = scans[-1]
    eoi = segments[-1][1]
    f["many_scans.jpg"] = prog[:eoi] + prog[start:end] * 400 + prog[eoi:]

    for name in ["colour.jpg", "colour420.jpg", "grey.jpg", "progressive.jpg"]:
        f[name[:-4] + ".ppm"] = run(["djpeg", "-rgb", "-pnm"], f[name])
    return f


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "tests/fixtures"
    for sub, made in (("png", png_fixtures()), ("jpeg", jpeg_fixtures())):
        folder = os.path.join(root, sub)
        os.makedirs(folder, exist_ok=True)
        for name, data in sorted(made.items()):
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
