#!/usr/bin/python3
"""Builds the TrueType face "CBM" (assets/cbm.ttf) from its glyph sheet.

Usage: /usr/bin/python3 tools/make_font.py [SHEET [OUTPUT]]
       (defaults: assets/cbm-glyphs.txt and assets/cbm.ttf in the repository)

Needs fontTools (Debian's python3-fonttools lives under /usr/bin/python3).
The output depends on the sheet alone: the head timestamps are constants and
nothing is random, so the same sheet always gives the same bytes.

Each character is an 8 x 8 grid of square cells filling the em (667 units),
standing on the baseline.  A glyph's outline is the union of its set cells,
traced as polygons along the cell edges: clockwise outer contours,
counter-clockwise holes, no seams between neighbouring cells and no
overlapping contours.  Exit status 0 on success, 1 with a message on a faulty
sheet.
"""

import array
import io
import os
import sys

from fontTools.fontBuilder import FontBuilder, buildCmapSubTable
from fontTools.misc.timeTools import timestampFromString
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import newTable

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_SHEET = os.path.join(REPO, "assets", "cbm-glyphs.txt")
DEFAULT_OUTPUT = os.path.join(REPO, "assets", "cbm.ttf")

UNITS_PER_EM = 667
GRID = 8  # cells per em, both ways
# Cell edge k (0..8) in font units, rounded half up: 0, 83, 167, 250, 334,
# 417, 500, 584, 667.  The same list serves x (columns from the left) and y
# (rows from the baseline up).
EDGES = [(k * UNITS_PER_EM + GRID // 2) // GRID for k in range(GRID + 1)]

# The characters of the face: printable ASCII plus DEL, and the upper half of
# Latin-1.  Nothing else is mapped.
CODE_POINTS = list(range(0x20, 0x80)) + list(range(0xA0, 0x100))
BLANK_CODE_POINTS = (0x20, 0xA0)

FAMILY = "CBM"
SUBFAMILY = "Medium"
VERSION = "Version 001.000 "  # the trailing space belongs to the name
# Any fixed moment will do; it only has to stay the same from build to build.
TIMESTAMP = timestampFromString("Sat Jun  1 00:00:00 2024")

# The hollow box shown for characters the face lacks, on the same grid.
NOTDEF_ROWS = [
    ".######.",
    ".#....#.",
    ".#....#.",
    ".#....#.",
    ".#....#.",
    ".#....#.",
    ".######.",
    "........",
]


class SheetError(Exception):
    """A fault in the glyph sheet; the message names the line."""


def glyph_name(code_point):
    return "uni%04X" % code_point


def read_sheet(path):
    """Returns {code point: 8 rows of 8 characters '#'/'.'} for the sheet.

    Raises SheetError unless the sheet holds exactly one well-formed block for
    each of CODE_POINTS and the blank characters are blank."""
    with open(path, encoding="ascii") as f:
        lines = f.read().split("\n")
    glyphs = {}
    where = {}
    number = 0
    while number < len(lines):
        line = lines[number].rstrip()
        number += 1
        if not line or line.startswith(";"):
            continue
        if not line.startswith("U+"):
            raise SheetError("%s:%d: expected a 'U+XXXX' header, found %r"
                             % (path, number, line))
        try:
            code_point = int(line[2:].split()[0], 16)
        except (ValueError, IndexError):
            raise SheetError("%s:%d: bad code point in %r" % (path, number, line))
        if code_point not in CODE_POINTS:
            raise SheetError("%s:%d: U+%04X is not a character of the face"
                             % (path, number, code_point))
        if code_point in glyphs:
            raise SheetError("%s:%d: U+%04X drawn again (first at line %d)"
                             % (path, number, code_point, where[code_point]))
        rows = []
        for _ in range(GRID):
            row = lines[number].rstrip() if number < len(lines) else ""
            number += 1
            if len(row) != GRID or set(row) - set("#."):
                raise SheetError("%s:%d: U+%04X needs 8 rows of 8 '#' or '.', found %r"
                                 % (path, number, code_point, row))
            rows.append(row)
        glyphs[code_point] = rows
        where[code_point] = number - GRID
    missing = [cp for cp in CODE_POINTS if cp not in glyphs]
    if missing:
        raise SheetError("%s: no block for %s" % (
            path, ", ".join("U+%04X" % cp for cp in missing)))
    for cp in BLANK_CODE_POINTS:
        if "#" in "".join(glyphs[cp]):
            raise SheetError("%s:%d: U+%04X must be blank" % (path, where[cp], cp))
    return glyphs


def trace_cells(rows):
    """Returns the outline of the set cells as contours of grid vertices.

    Vertices are (column edge, row edge counted up from the baseline), both
    0..8.  Every cell side between a set and a clear cell becomes one directed
    edge with the set cell on its right, so outer contours run clockwise and
    holes counter-clockwise, as TrueType wants.  Where two set cells touch
    only at a corner the walk turns right, keeping them separate contours that
    share a point instead of one contour crossing itself.  Straight runs are
    merged, so each contour lists only its corners."""
    filled = set()
    for r, row in enumerate(rows):
        for c, mark in enumerate(row):
            if mark == "#":
                filled.add((c, GRID - 1 - r))  # (column, cell row from the bottom)

    outgoing = {}  # start vertex -> end vertices of the edges leaving it
    for (c, b) in filled:
        sides = []
        if (c, b + 1) not in filled:
            sides.append(((c, b + 1), (c + 1, b + 1)))  # top, left to right
        if (c + 1, b) not in filled:
            sides.append(((c + 1, b + 1), (c + 1, b)))  # right, downwards
        if (c, b - 1) not in filled:
            sides.append(((c + 1, b), (c, b)))          # bottom, right to left
        if (c - 1, b) not in filled:
            sides.append(((c, b), (c, b + 1)))          # left, upwards
        for start, end in sides:
            outgoing.setdefault(start, []).append(end)

    def successor(edge):
        # The edge that follows `edge` on its contour.  A vertex has two ways
        # out only where set cells touch at a corner; the right turn stays on
        # the same cell.
        start, here = edge
        ends = outgoing[here]
        if len(ends) == 1:
            return (here, ends[0])
        heading = (here[0] - start[0], here[1] - start[1])
        right = (here[0] + heading[1], here[1] - heading[0])
        assert right in ends
        return (here, right)

    edges = sorted((start, end) for start, ends in outgoing.items() for end in ends)
    remaining = set(edges)
    contours = []
    for first in edges:
        if first not in remaining:
            continue
        path = []
        edge = first
        while True:
            remaining.remove(edge)
            path.append(edge[0])
            edge = successor(edge)
            if edge == first:
                break
        contours.append(_corners(path))
    return contours


def _corners(path):
    """Drops the vertices of a closed path that lie inside straight runs."""
    n = len(path)
    corners = []
    for i in range(n):
        before, here, after = path[i - 1], path[i], path[(i + 1) % n]
        if (here[0] - before[0]) * (after[1] - here[1]) != \
           (here[1] - before[1]) * (after[0] - here[0]):
            corners.append(here)
    return corners


def build_glyph(rows):
    pen = TTGlyphPen(None)
    for contour in trace_cells(rows):
        points = [(EDGES[x], EDGES[y]) for (x, y) in contour]
        pen.moveTo(points[0])
        for point in points[1:]:
            pen.lineTo(point)
        pen.closePath()
    return pen.glyph()


def empty_glyph():
    return TTGlyphPen(None).glyph()


def mac_roman_map(names):
    """Byte -> glyph name for the Macintosh Roman subtable: each byte whose
    Mac Roman character the face has; the other bytes are left out and so
    map to glyph 0."""
    mapping = {}
    for byte in range(256):
        code_point = ord(bytes([byte]).decode("mac_roman"))
        if code_point in names:
            mapping[byte] = names[code_point]
    return mapping


def build_font(glyphs):
    """Returns the font file's bytes for the sheet's glyphs."""
    names = {cp: glyph_name(cp) for cp in CODE_POINTS}
    order = [".notdef", ".null", "nonmarkingreturn"] + [names[cp] for cp in CODE_POINTS]

    fb = FontBuilder(UNITS_PER_EM, isTTF=True)
    fb.font.recalcTimestamp = False
    fb.setupGlyphOrder(order)

    unicode_map = {cp: names[cp] for cp in CODE_POINTS}
    cmap = newTable("cmap")
    cmap.tableVersion = 0
    cmap.tables = [
        buildCmapSubTable(unicode_map, 4, 0, 3),
        buildCmapSubTable(mac_roman_map(names), 0, 1, 0),
        buildCmapSubTable(unicode_map, 4, 3, 1),
    ]
    fb.font["cmap"] = cmap

    outlines = {
        ".notdef": build_glyph(NOTDEF_ROWS),
        ".null": empty_glyph(),
        "nonmarkingreturn": empty_glyph(),
    }
    for cp in CODE_POINTS:
        outlines[names[cp]] = build_glyph(glyphs[cp])
    fb.setupGlyf(outlines)

    glyf = fb.font["glyf"]
    metrics = {}
    for name in order:
        advance = 0 if name == ".null" else UNITS_PER_EM
        metrics[name] = (advance, getattr(glyf[name], "xMin", 0))
    fb.setupHorizontalMetrics(metrics)

    fb.setupHorizontalHeader(ascent=668, descent=0, lineGap=60)
    fb.updateHead(
        fontRevision=1.0,
        created=TIMESTAMP,
        modified=TIMESTAMP,
        lowestRecPPEM=8,  # one cell per pixel
    )

    name_strings = {
        "familyName": FAMILY,
        "styleName": SUBFAMILY,
        "uniqueFontIdentifier": "%s %s" % (FAMILY, VERSION.strip()),
        "fullName": FAMILY,
        "version": VERSION,
        "psName": FAMILY,
    }
    fb.setupNameTable(name_strings, windows=True, mac=True)

    cell = EDGES[1]
    fb.setupOS2(
        version=1,
        usWeightClass=500,
        usWidthClass=5,
        fsType=0,  # installable embedding
        ySubscriptXSize=UNITS_PER_EM // 2,
        ySubscriptYSize=UNITS_PER_EM // 2,
        ySubscriptXOffset=0,
        ySubscriptYOffset=0,
        ySuperscriptXSize=UNITS_PER_EM // 2,
        ySuperscriptYSize=UNITS_PER_EM // 2,
        ySuperscriptXOffset=0,
        ySuperscriptYOffset=EDGES[4],
        yStrikeoutSize=cell,
        yStrikeoutPosition=EDGES[4],
        achVendID="QRBL",
        fsSelection=0x0040,  # regular
        usFirstCharIndex=CODE_POINTS[0],
        usLastCharIndex=CODE_POINTS[-1],
        sTypoAscender=666,
        sTypoDescender=-1,
        sTypoLineGap=60,
        usWinAscent=668,
        usWinDescent=0,
        ulCodePageRange1=(1 << 0) | (1 << 29),  # Latin 1, Macintosh
        ulCodePageRange2=0,
    )
    # The underline sits in the bottom row, which letters leave blank, so it
    # stays inside the line's ascent (the face has no descent).
    fb.setupPost(isFixedPitch=0, underlinePosition=EDGES[1] // 2,
                 underlineThickness=cell)

    gasp = newTable("gasp")
    gasp.version = 1
    gasp.gaspRange = {0xFFFF: 0x000E}  # grey, symmetric grid-fit and smoothing
    fb.font["gasp"] = gasp

    # No instructions read it; one entry keeps the table well-formed.
    cvt = newTable("cvt ")
    cvt.values = array.array("h", [0])
    fb.font["cvt "] = cvt

    out = io.BytesIO()
    fb.font.save(out)
    return out.getvalue()


def main(argv):
    if len(argv) > 3:
        sys.stderr.write(__doc__)
        return 1
    sheet = argv[1] if len(argv) > 1 else DEFAULT_SHEET
    output = argv[2] if len(argv) > 2 else DEFAULT_OUTPUT
    try:
        glyphs = read_sheet(sheet)
    except (SheetError, OSError, UnicodeDecodeError) as e:
        sys.stderr.write("make_font: %s\n" % e)
        return 1
    data = build_font(glyphs)
    temporary = output + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
