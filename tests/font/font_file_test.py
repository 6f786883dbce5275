#!/usr/bin/python3
"""Checks the committed face assets/cbm.ttf against what the launcher needs
and against its glyph sheet assets/cbm-glyphs.txt.

Run with /usr/bin/python3 (Debian's python3-fonttools).  The sheet is read by
a parser of its own here, so the checks do not lean on tools/make_font.py
except where they regenerate the file and compare bytes.
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

from fontTools.ttLib import TTFont

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FONT = os.path.join(REPO, "assets", "cbm.ttf")
SHEET = os.path.join(REPO, "assets", "cbm-glyphs.txt")
TOOL = os.path.join(REPO, "tools", "make_font.py")

EM = 667
EDGES = [0, 83, 167, 250, 334, 417, 500, 584, 667]  # cell edges in font units
CHARACTERS = list(range(0x20, 0x80)) + list(range(0xA0, 0x100))
# Every character the launcher's menu lines and scroll text use.
LAUNCHER_CHARACTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,-:+><()/!"


def read_sheet(path):
    """{code point: 8 rows} from the glyph sheet."""
    glyphs = {}
    with open(path, encoding="ascii") as f:
        lines = [line.rstrip("\n") for line in f]
    i = 0
    while i < len(lines):
        if lines[i].startswith("U+"):
            glyphs[int(lines[i][2:6], 16)] = lines[i + 1:i + 9]
            i += 9
        else:
            i += 1
    return glyphs


def contours_of(font, name):
    """The glyph's contours as lists of (x, y, on-curve)."""
    glyph = font["glyf"][name]
    if glyph.numberOfContours == 0:
        return []
    assert glyph.numberOfContours > 0, "composite glyph " + name
    coordinates = list(glyph.coordinates)
    contours = []
    start = 0
    for end in glyph.endPtsOfContours:
        contours.append([(x, y, bool(glyph.flags[i] & 1))
                         for i, (x, y) in enumerate(coordinates[start:end + 1], start)])
        start = end + 1
    return contours


def segments(contour):
    for i, (x0, y0, _) in enumerate(contour):
        x1, y1, _ = contour[(i + 1) % len(contour)]
        yield (x0, y0), (x1, y1)


def clockwise_winding(contours, point):
    """Winding number of the point, counting clockwise turns as +1: a ray to
    the right crosses a clockwise contour on its way down."""
    px, py = point
    winding = 0
    for contour in contours:
        for (x0, y0), (x1, y1) in segments(contour):
            if x0 == x1 and x0 > px and min(y0, y1) < py < max(y0, y1):
                winding += 1 if y1 < y0 else -1
    return winding


def cell_centre(column, row):
    # Row 0 is the top of the em, row 7 the one on the baseline.
    return ((EDGES[column] + EDGES[column + 1]) / 2,
            (EDGES[7 - row] + EDGES[8 - row]) / 2)


class FontFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.font = TTFont(FONT)
        cls.sheet = read_sheet(SHEET)
        cls.order = cls.font.getGlyphOrder()
        cls.unicode = cls.font["cmap"].getcmap(3, 1).cmap

    def test_is_truetype_with_the_needed_tables(self):
        self.assertEqual(self.font.sfntVersion, "\x00\x01\x00\x00")
        for tag in ("OS/2", "cmap", "cvt ", "gasp", "glyf", "head", "hhea",
                    "hmtx", "loca", "maxp", "name", "post"):
            self.assertIn(tag, self.font, tag)
        self.assertNotIn("CFF ", self.font)

    def test_names_on_mac_and_windows(self):
        expected = {1: "CBM", 2: "Medium", 4: "CBM", 5: "Version 001.000 ", 6: "CBM"}
        name = self.font["name"]
        for platform, encoding, language in ((1, 0, 0), (3, 1, 0x409)):
            for name_id, text in expected.items():
                record = name.getName(name_id, platform, encoding, language)
                self.assertIsNotNone(record, (platform, name_id))
                self.assertEqual(record.toUnicode(), text, (platform, name_id))

    def test_header_fields(self):
        cases = [
            ("head", "unitsPerEm", EM),
            ("hhea", "ascent", 668),
            ("hhea", "descent", 0),
            ("hhea", "lineGap", 60),
            ("OS/2", "version", 1),
            ("OS/2", "usWinAscent", 668),
            ("OS/2", "usWinDescent", 0),
            ("OS/2", "sTypoAscender", 666),
            ("OS/2", "sTypoDescender", -1),
            ("OS/2", "sTypoLineGap", 60),
            ("OS/2", "usWeightClass", 500),
            ("OS/2", "usWidthClass", 5),
            ("OS/2", "fsType", 0),
            ("OS/2", "usFirstCharIndex", 0x20),
            ("OS/2", "usLastCharIndex", 0xFF),
            ("post", "isFixedPitch", 0),
            ("maxp", "numGlyphs", 195),
        ]
        for tag, field, value in cases:
            self.assertEqual(getattr(self.font[tag], field), value, tag + "." + field)

    def test_timestamps_are_fixed(self):
        # A build-time clock would make every regeneration differ.
        head = self.font["head"]
        self.assertEqual(head.created, head.modified)

    def test_gasp_has_one_range(self):
        gasp = self.font["gasp"]
        self.assertEqual(gasp.version, 1)
        self.assertEqual(gasp.gaspRange, {0xFFFF: 14})

    def test_cmap_subtables(self):
        tables = [(t.platformID, t.platEncID, t.format) for t in self.font["cmap"].tables]
        self.assertEqual(sorted(tables), [(0, 3, 4), (1, 0, 0), (3, 1, 4)])
        for platform, encoding in ((0, 3), (3, 1)):
            mapping = self.font["cmap"].getcmap(platform, encoding).cmap
            self.assertEqual(sorted(mapping), CHARACTERS, (platform, encoding))
            self.assertEqual(mapping, self.unicode)

    def test_each_character_has_its_own_glyph_after_the_three_specials(self):
        self.assertEqual(self.order[:3], [".notdef", ".null", "nonmarkingreturn"])
        ids = [self.font.getGlyphID(self.unicode[cp]) for cp in CHARACTERS]
        self.assertEqual(ids, list(range(3, 195)))

    def test_mac_roman_maps_the_characters_present(self):
        # Read from the raw table: a decoded subtable hides its glyph-0 bytes.
        raw = self.font.reader["cmap"]
        count = struct.unpack(">H", raw[2:4])[0]
        records = [struct.unpack(">HHI", raw[4 + 8 * i:12 + 8 * i]) for i in range(count)]
        offset = next(o for p, e, o in records if (p, e) == (1, 0))
        fmt, length, language = struct.unpack(">HHH", raw[offset:offset + 6])
        self.assertEqual((fmt, length, language), (0, 262, 0))
        ids = raw[offset + 6:offset + 262]
        for byte in range(256):
            code_point = ord(bytes([byte]).decode("mac_roman"))
            name = self.unicode.get(code_point)
            expected = self.font.getGlyphID(name) if name else 0
            self.assertEqual(ids[byte], expected, "byte 0x%02X" % byte)
        # Spot checks of the Mac Roman order itself.
        self.assertEqual(ids[0x41], self.font.getGlyphID(self.unicode[0x41]))
        self.assertEqual(ids[0x80], self.font.getGlyphID(self.unicode[0xC4]))  # A diaeresis
        self.assertEqual(ids[0xCA], self.font.getGlyphID(self.unicode[0xA0]))  # no-break space
        self.assertEqual(ids[0x0D], 0)
        self.assertEqual(ids[0xF0], 0)  # the Apple logo is not in the face

    def test_advances(self):
        hmtx = self.font["hmtx"]
        for index, name in enumerate(self.order):
            advance, lsb = hmtx[name]
            self.assertEqual(advance, 0 if index == 1 else EM, name)
            self.assertEqual(lsb, getattr(self.font["glyf"][name], "xMin", 0), name)

    def test_points_lie_on_the_grid(self):
        for name in self.order:
            for contour in contours_of(self.font, name):
                for x, y, on_curve in contour:
                    self.assertTrue(on_curve, name)
                    self.assertIn(x, EDGES, name)
                    self.assertIn(y, EDGES, name)

    def test_font_box_follows_from_the_glyphs(self):
        points = [(x, y) for name in self.order for c in contours_of(self.font, name)
                  for x, y, _ in c]
        head = self.font["head"]
        self.assertEqual((head.xMin, head.yMin, head.xMax, head.yMax),
                         (min(p[0] for p in points), min(p[1] for p in points),
                          max(p[0] for p in points), max(p[1] for p in points)))
        self.assertGreaterEqual(head.yMin, 0)  # nothing below the baseline
        self.assertLessEqual(head.yMax, EM)

    def test_outlines_are_the_sheet_cells(self):
        # Winding +1 (one clockwise contour) inside every set cell and 0 in
        # every clear one: catches a wrong cell, a reversed contour and
        # overlapping contours alike.
        self.assertEqual(sorted(self.sheet), CHARACTERS)
        for cp in CHARACTERS:
            contours = contours_of(self.font, self.unicode[cp])
            for row in range(8):
                for column in range(8):
                    expected = 1 if self.sheet[cp][row][column] == "#" else 0
                    self.assertEqual(
                        clockwise_winding(contours, cell_centre(column, row)), expected,
                        "U+%04X row %d column %d" % (cp, row, column))

    def test_no_seams_between_set_cells(self):
        # Every outline segment is axis-aligned and runs between a set cell
        # (on its right, as clockwise outlines have it) and a clear one, so
        # no edge is drawn between two neighbouring set cells.
        for cp in CHARACTERS:
            rows = self.sheet[cp]
            def is_set(column, row):
                return 0 <= column < 8 and 0 <= row < 8 and rows[row][column] == "#"
            for contour in contours_of(self.font, self.unicode[cp]):
                for (x0, y0), (x1, y1) in segments(contour):
                    i0, j0, i1, j1 = (EDGES.index(v) for v in (x0, y0, x1, y1))
                    self.assertTrue(i0 == i1 or j0 == j1, "U+%04X diagonal" % cp)
                    dx, dy = (i1 > i0) - (i1 < i0), (j1 > j0) - (j1 < j0)
                    i, j = i0, j0
                    while (i, j) != (i1, j1):
                        # Unit step from vertex (i, j); cells named by their
                        # lower-left vertex, rows counted from the top.
                        if dx:
                            c = min(i, i + dx)
                            above, below = (c, 7 - j), (c, 8 - j)
                            right, left = (below, above) if dx > 0 else (above, below)
                        else:
                            r = 7 - min(j, j + dy)
                            west, east = (i - 1, r), (i, r)
                            right, left = (east, west) if dy > 0 else (west, east)
                        self.assertTrue(is_set(*right) and not is_set(*left),
                                        "U+%04X segment at (%d,%d)" % (cp, i, j))
                        i, j = i + dx, j + dy

    def test_special_glyphs(self):
        notdef = contours_of(self.font, ".notdef")
        self.assertEqual(len(notdef), 2)  # a box with a hole
        self.assertEqual(clockwise_winding(notdef, (EM / 2, EM / 2)), 0)
        self.assertEqual(clockwise_winding(notdef, cell_centre(1, 3)), 1)
        self.assertEqual(contours_of(self.font, ".null"), [])
        self.assertEqual(contours_of(self.font, "nonmarkingreturn"), [])

    def test_launcher_characters_are_drawn(self):
        for ch in LAUNCHER_CHARACTERS:
            contours = contours_of(self.font, self.unicode[ord(ch)])
            if ch == " ":
                self.assertEqual(contours, [])
            else:
                self.assertNotEqual(contours, [], repr(ch))
        self.assertEqual(contours_of(self.font, self.unicode[0xA0]), [])

    def test_regenerating_gives_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            output = os.path.join(tmp, "cbm.ttf")
            subprocess.run([sys.executable, TOOL, SHEET, output], check=True)
            with open(output, "rb") as f:
                regenerated = f.read()
        with open(FONT, "rb") as f:
            committed = f.read()
        self.assertEqual(len(regenerated), len(committed))
        self.assertTrue(regenerated == committed,
                        "assets/cbm.ttf is not what the sheet gives; run `make font`")


class Generator(unittest.TestCase):
    """The tool refuses a faulty sheet and leaves no output behind."""

    def test_faulty_sheets_are_refused(self):
        with open(SHEET, encoding="ascii") as f:
            good = f.read()
        a_block = "U+0041 A\n...##...\n"
        cases = [
            ("missing block", good.replace(good[good.index("U+005A"):good.index("U+005B")], "")),
            ("short row", good.replace(a_block, "U+0041 A\n...##..\n", 1)),
            ("stray mark", good.replace(a_block, "U+0041 A\n...#x...\n", 1)),
            ("drawn twice", good + "\nU+0041 A\n" + "........\n" * 8),
            ("outside the face", good + "\nU+0100 A-macron\n" + "........\n" * 8),
            ("space not blank", good.replace("U+0020 space\n........\n",
                                             "U+0020 space\n#.......\n", 1)),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            for label, text in cases:
                self.assertNotEqual(text, good, label)
                sheet = os.path.join(tmp, "sheet.txt")
                output = os.path.join(tmp, "out.ttf")
                with open(sheet, "w", encoding="ascii") as f:
                    f.write(text)
                result = subprocess.run([sys.executable, TOOL, sheet, output],
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, 1, label)
                self.assertIn("make_font:", result.stderr, label)
                self.assertFalse(os.path.exists(output), label)


if __name__ == "__main__":
    unittest.main()
