#!/usr/bin/python3
"""Checks of the committed title pictures and the window icon, read with our
own parsers (stdlib only, plus PIL for decoding the JPEG's pixels), and a
check that the tools in tools/ make the same bytes again.

Environment: QUORBEL_SOURCE_DIR (the repository; default: two levels up) and
QUORBEL_MAKE_BACKDROP (the built make_backdrop; the regeneration test of the
backdrop needs it).
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zlib

SOURCE = os.environ.get("QUORBEL_SOURCE_DIR",
                        os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
ASSETS = os.path.join(SOURCE, "assets")
TOOLS = os.path.join(SOURCE, "tools")
PYTHON = sys.executable


def read(name):
    with open(os.path.join(ASSETS, name), "rb") as f:
        return f.read()


# ------------------------------------------------------------------ ICC

REQUIRED_TAGS = {  # tag -> element type
    b"desc": b"desc", b"wtpt": b"XYZ ", b"rXYZ": b"XYZ ", b"gXYZ": b"XYZ ", b"bXYZ": b"XYZ ",
    b"rTRC": b"curv", b"gTRC": b"curv", b"bTRC": b"curv", b"cprt": b"text",
}


def s15(data, at):
    return struct.unpack_from(">i", data, at)[0] / 65536.0


def parse_icc(test, profile):
    """Checks an ICC v2 RGB display profile; returns {tag: element bytes}."""
    test.assertGreaterEqual(len(profile), 132)
    test.assertEqual(struct.unpack_from(">I", profile, 0)[0], len(profile), "declared size")
    test.assertEqual(profile[8], 2, "major version")
    test.assertEqual(profile[12:24], b"mntrRGB XYZ ")
    test.assertEqual(profile[36:40], b"acsp")
    test.assertEqual(struct.unpack_from(">3i", profile, 68), (0xF6D6, 0x10000, 0xD32D), "D50 illuminant")
    count = struct.unpack_from(">I", profile, 128)[0]
    test.assertLessEqual(132 + 12 * count, len(profile))
    tags = {}
    for i in range(count):
        sig, offset, size = struct.unpack_from(">4sII", profile, 132 + 12 * i)
        test.assertEqual(offset % 4, 0, sig)
        test.assertLessEqual(offset + size, len(profile), sig)
        test.assertGreaterEqual(offset, 132 + 12 * count, sig)
        tags[sig] = profile[offset:offset + size]
    test.assertEqual(set(tags), set(REQUIRED_TAGS))
    for sig, kind in REQUIRED_TAGS.items():
        element = tags[sig]
        test.assertEqual(element[:4], kind, sig)
        test.assertEqual(element[4:8], bytes(4), sig)
        if kind == b"XYZ ":
            test.assertEqual(len(element), 20, sig)
        elif kind == b"curv":
            n = struct.unpack_from(">I", element, 8)[0]
            test.assertEqual(len(element), 12 + 2 * n, sig)
        elif kind == b"desc":
            n = struct.unpack_from(">I", element, 8)[0]
            test.assertGreater(n, 1)
            test.assertEqual(element[12 + n - 1], 0, "description ends in NUL")
            test.assertEqual(len(element), 12 + n + 8 + 3 + 67)
        elif kind == b"text":
            test.assertEqual(element[-1], 0)
    # The three colorants add up to the white point: RGB white is white.
    white = [s15(tags[b"wtpt"], 8 + 4 * k) for k in range(3)]
    total = [sum(s15(tags[t], 8 + 4 * k) for t in (b"rXYZ", b"gXYZ", b"bXYZ")) for k in range(3)]
    for w, t in zip(white, total):
        test.assertAlmostEqual(w, t, delta=0.002)
    return tags


def check_xmp(test, packet):
    text = packet.decode("utf-8")
    test.assertTrue(text.startswith('<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>'))
    test.assertRegex(text.rstrip(), r'<\?xpacket end="[rw]"\?>$')
    root = ET.fromstring(packet)
    test.assertEqual(root.tag, "{adobe:ns:meta/}xmpmeta")
    titles = root.findall(".//{http://purl.org/dc/elements/1.1/}title//"
                          "{http://www.w3.org/1999/02/22-rdf-syntax-ns#}li")
    test.assertTrue(titles and titles[0].text)


# ------------------------------------------------------------------ JPEG

SOI, EOI, SOS, DQT, DHT, DRI, SOF0 = 0xD8, 0xD9, 0xDA, 0xDB, 0xC4, 0xDD, 0xC0
APP = lambda n: 0xE0 + n  # noqa: E731
SOF_MARKERS = set(range(0xC0, 0xD0)) - {0xC4, 0xC8, 0xCC}


def jpeg_segments(test, data):
    """[(marker, payload)] up to EOI; for SOS the payload is its header and
    the entropy-coded data is summarised as ('restarts', [RSTn markers])."""
    test.assertEqual(data[:2], b"\xff\xd8")
    segments = [(SOI, b"")]
    at = 2
    while True:
        test.assertEqual(data[at], 0xFF, "marker expected at %d" % at)
        while data[at] == 0xFF:
            at += 1
        marker = data[at]
        at += 1
        if marker == EOI:
            segments.append((EOI, b""))
            test.assertEqual(at, len(data), "nothing after EOI")
            return segments
        length = struct.unpack_from(">H", data, at)[0]
        test.assertGreaterEqual(length, 2)
        payload = data[at + 2:at + length]
        test.assertEqual(len(payload), length - 2, "segment runs past the end")
        at += length
        segments.append((marker, payload))
        if marker == SOS:
            restarts = []
            while True:
                at = data.index(b"\xff", at)
                nxt = data[at + 1]
                if nxt == 0x00:        # stuffed 0xFF in the coded data
                    at += 2
                elif 0xD0 <= nxt <= 0xD7:
                    restarts.append(nxt)
                    at += 2
                elif nxt == 0xFF:      # fill byte before a marker
                    at += 1
                else:
                    break
            segments.append(("restarts", restarts))


def parse_tiff_directory(test, tiff, offset, little):
    e = "<" if little else ">"
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1, 9: 4, 10: 8}
    test.assertLessEqual(offset + 2, len(tiff))
    count = struct.unpack_from(e + "H", tiff, offset)[0]
    test.assertGreater(count, 0)
    test.assertLessEqual(offset + 2 + 12 * count + 4, len(tiff))
    entries = {}
    previous = -1
    for i in range(count):
        tag, kind, n, value = struct.unpack_from(e + "HHII", tiff, offset + 2 + 12 * i)
        test.assertGreater(tag, previous, "tags in ascending order")
        previous = tag
        test.assertIn(kind, sizes, "type of tag %#x" % tag)
        size = sizes[kind] * n
        if size > 4:
            test.assertLessEqual(value + size, len(tiff), "value of tag %#x" % tag)
            raw = tiff[value:value + size]
        else:
            raw = tiff[offset + 2 + 12 * i + 8:offset + 2 + 12 * i + 8 + size]
        if kind == 2:
            test.assertEqual(raw[-1:], b"\0", "text of tag %#x ends in NUL" % tag)
        entries[tag] = (kind, n, raw)
    next_offset = struct.unpack_from(e + "I", tiff, offset + 2 + 12 * count)[0]
    test.assertEqual(next_offset, 0)
    return entries


class Backdrop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = read("backdrop.jpg")
        cls.segments = jpeg_segments(unittest.TestCase(), cls.data)

    def payload(self, marker, prefix=b""):
        found = [p for m, p in self.segments if m == marker and p.startswith(prefix)]
        self.assertEqual(len(found), 1, "one %r segment with prefix %r" % (marker, prefix))
        return found[0]

    def test_metadata_segments_come_first_in_order(self):
        head = [(m, p[:14]) for m, p in self.segments[:6]]
        expected = [(SOI, b""), (APP(1), b"Exif\0\0"), (APP(13), b"Photoshop 3.0\0"),
                    (APP(1), b"http://ns.ado"), (APP(2), b"ICC_PROFILE\0\x01\x01"), (APP(14), b"Adobe")]
        self.assertEqual([m for m, _ in head], [m for m, _ in expected])
        for (m, p), (_, prefix) in zip(head, expected):
            self.assertTrue(p.startswith(prefix), (hex(m), p))
        self.assertTrue(self.segments[3][1].startswith(b"http://ns.adobe.com/xap/1.0/\0"))
        self.assertNotIn(APP(0), [m for m, _ in self.segments], "no JFIF marker")

    def test_frame_is_baseline_ycbcr_without_subsampling(self):
        markers = [m for m, _ in self.segments[6:]]
        self.assertEqual([m for m in markers if m in SOF_MARKERS], [SOF0], "one baseline frame")
        self.assertEqual(markers.count(SOS), 1, "one sequential scan")
        self.assertEqual(markers[-1], EOI)
        sof = markers.index(SOF0)
        sos = markers.index(SOS)
        self.assertTrue(all(m in (DQT, DHT, DRI, SOF0, SOS, "restarts", EOI) for m in markers), markers)
        self.assertIn(DQT, markers[:sof])
        self.assertIn(DHT, markers[sof:sos])
        self.assertIn(DRI, markers[sof:sos])

        quant_tables = set()
        for m, p in self.segments:
            if m == DQT:
                at = 0
                while at < len(p):
                    self.assertEqual(p[at] >> 4, 0, "8-bit quantisation values")
                    quant_tables.add(p[at] & 15)
                    at += 65
                self.assertEqual(at, len(p))
            if m == DHT:
                at = 0
                while at < len(p):
                    self.assertIn(p[at] >> 4, (0, 1))
                    self.assertIn(p[at] & 15, (0, 1), "baseline uses tables 0 and 1")
                    at += 17 + sum(p[at + 1:at + 17])
                self.assertEqual(at, len(p))

        frame = self.payload(SOF0)
        precision, height, width, count = struct.unpack_from(">BHHB", frame)
        self.assertEqual((precision, width, height, count), (8, 640, 480, 3))
        self.assertEqual(len(frame), 6 + 3 * count)
        for i in range(count):
            ident, sampling, table = frame[6 + 3 * i:9 + 3 * i]
            self.assertEqual(ident, i + 1, "components Y, Cb, Cr are 1, 2, 3")
            self.assertEqual(sampling, 0x11, "component %d sampled 1 x 1" % ident)
            self.assertIn(table, quant_tables)

        scan = self.payload(SOS)
        self.assertEqual(scan[0], 3)
        self.assertEqual([scan[1 + 2 * i] for i in range(3)], [1, 2, 3])
        self.assertEqual(tuple(scan[7:10]), (0, 63, 0), "sequential, whole spectrum")

    def test_restart_markers_follow_the_interval(self):
        interval = struct.unpack(">H", self.payload(DRI))[0]
        self.assertGreater(interval, 0)
        restarts = [p for m, p in self.segments if m == "restarts"][0]
        mcus = (640 // 8) * (480 // 8)
        self.assertEqual(len(restarts), (mcus + interval - 1) // interval - 1)
        self.assertEqual(restarts, [0xD0 + i % 8 for i in range(len(restarts))])

    def test_adobe_marker_declares_ycbcr(self):
        adobe = self.payload(APP(14), b"Adobe")
        self.assertEqual(len(adobe), 12)
        self.assertEqual(adobe[11], 1, "transform 1: YCbCr")

    def test_exif_is_a_valid_tiff(self):
        tiff = self.payload(APP(1), b"Exif\0\0")[6:]
        self.assertIn(tiff[:4], (b"II*\0", b"MM\0*"))
        little = tiff[:2] == b"II"
        e = "<" if little else ">"
        main = parse_tiff_directory(self, tiff, struct.unpack_from(e + "I", tiff, 4)[0], little)
        self.assertIn(0x8769, main, "Exif directory pointer")
        kind, n, raw = main[0x8769]
        exif = parse_tiff_directory(self, tiff, struct.unpack(e + "I", raw)[0], little)
        self.assertEqual(exif[0x9000][2][:2], b"02", "Exif version")
        dims = [struct.unpack(e + ("I" if exif[t][0] == 4 else "H"), exif[t][2])[0] for t in (0xA002, 0xA003)]
        self.assertEqual(dims, [640, 480])

    def test_photoshop_segment_holds_image_resources(self):
        data = self.payload(APP(13), b"Photoshop 3.0\0")[14:]
        at, resources = 0, []
        while at < len(data):
            self.assertEqual(data[at:at + 4], b"8BIM")
            ident = struct.unpack_from(">H", data, at + 4)[0]
            name = data[at + 6]
            at += 6 + 1 + name + ((1 + name) % 2)
            size = struct.unpack_from(">I", data, at)[0]
            at += 4
            self.assertLessEqual(at + size, len(data))
            at += size + size % 2
            resources.append(ident)
        self.assertEqual(at, len(data))
        self.assertTrue(resources)

    def test_xmp_packet_is_well_formed(self):
        check_xmp(self, self.payload(APP(1), b"http://ns.adobe.com/xap/1.0/\0")[29:])

    def test_icc_profile_is_one_valid_chunk(self):
        parse_icc(self, self.payload(APP(2), b"ICC_PROFILE\0")[14:])

    def test_decodes_with_a_dark_lower_part(self):
        from PIL import Image
        import io
        image = Image.open(io.BytesIO(self.data))
        image.load()
        self.assertEqual((image.size, image.mode), ((640, 480), "RGB"))
        pixels = image.tobytes()
        lower = pixels[240 * 640 * 3:]
        luminance = sum(0.2126 * lower[i] + 0.7152 * lower[i + 1] + 0.0722 * lower[i + 2]
                        for i in range(0, len(lower), 3)) / (len(lower) // 3) / 255
        self.assertLess(luminance, 0.15, "menu text needs a dark background")
        top = pixels[:90 * 640 * 3]
        self.assertEqual(max(top), 255, "the bright lettering along the top")


# ------------------------------------------------------------------ PNG

def png_chunks(test, data):
    test.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
    at, chunks = 8, []
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        test.assertEqual(len(body), length, kind)
        crc = struct.unpack_from(">I", data, at + 8 + length)[0]
        test.assertEqual(crc, zlib.crc32(kind + body) & 0xFFFFFFFF, "CRC of %r" % kind)
        chunks.append((kind, body))
        at += 12 + length
    test.assertEqual(at, len(data))
    return chunks


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfilter(test, raw, width, height, bpp):
    """The image's rows with every filter reversed."""
    stride = width * bpp
    test.assertEqual(len(raw), height * (1 + stride))
    rows, prior = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (1 + stride)]
        line = bytearray(raw[y * (1 + stride) + 1:(y + 1) * (1 + stride)])
        test.assertLessEqual(kind, 4, "filter type of row %d" % y)
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = prior[i]
            corner = prior[i - bpp] if i >= bpp else 0
            predictor = (0, left, up, (left + up) // 2, paeth(left, up, corner))[kind]
            line[i] = (line[i] + predictor) & 0xFF
        rows.append(bytes(line))
        prior = line
    return rows


def expected_overlay_pixel(y):
    if y == 0:
        return (255, 255, 255, 0)
    return (0, 0, 0, 246) if y % 2 else (0, 0, 0, 0)


class Overlay(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.chunks = png_chunks(unittest.TestCase(), read("scanlines.png"))
        cls.by_kind = dict(cls.chunks)

    def test_chunk_order(self):
        self.assertEqual([k for k, _ in self.chunks],
                         [b"IHDR", b"pHYs", b"iCCP", b"iTXt", b"cHRM", b"IDAT", b"IEND"])
        self.assertEqual(self.by_kind[b"IEND"], b"")

    def test_header(self):
        width, height, depth, colour, compression, filtering, interlace = \
            struct.unpack(">IIBBBBB", self.by_kind[b"IHDR"])
        self.assertEqual((width, height, depth, colour), (640, 480, 8, 6))
        self.assertEqual((compression, filtering, interlace), (0, 0, 0))

    def test_every_pixel_follows_the_row_table(self):
        rows = unfilter(self, zlib.decompress(self.by_kind[b"IDAT"]), 640, 480, 4)
        for y, row in enumerate(rows):
            self.assertEqual(row, bytes(expected_overlay_pixel(y)) * 640, "row %d" % y)

    def test_ancillary_chunks(self):
        self.assertEqual(len(self.by_kind[b"pHYs"]), 9)
        self.assertEqual(len(self.by_kind[b"cHRM"]), 32)
        name, rest = self.by_kind[b"iCCP"].split(b"\0", 1)
        self.assertTrue(1 <= len(name) <= 79 and name.strip() == name)
        self.assertEqual(rest[0], 0, "zlib compression")
        profile = zlib.decompress(rest[1:])
        parse_icc(self, profile)
        jpeg = [p for m, p in jpeg_segments(self, read("backdrop.jpg")) if m == APP(2)][0]
        self.assertEqual(profile, jpeg[14:], "the same profile as the backdrop's")

        keyword, rest = self.by_kind[b"iTXt"].split(b"\0", 1)
        self.assertEqual(keyword, b"XML:com.adobe.xmp")
        flag, method = rest[0], rest[1]
        language, rest = rest[2:].split(b"\0", 1)
        translated, text = rest.split(b"\0", 1)
        check_xmp(self, zlib.decompress(text) if flag else text)


# ------------------------------------------------------------------ ICO

class Icon(unittest.TestCase):
    def test_header_and_sizes(self):
        data = read("icon.ico")
        self.assertEqual(struct.unpack_from("<HHH", data), (0, 1, 1))
        width, height, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6)
        self.assertEqual((width, height, colours, planes, bits), (16, 16, 0, 1, 24))
        self.assertEqual((offset, offset + size), (22, len(data)))
        info = struct.unpack_from("<IiiHHII", data, offset)
        self.assertEqual(info[:6], (40, 16, 32, 1, 24, 0))
        colour_rows, mask_rows = 16 * 16 * 3, 16 * 4
        self.assertEqual(size, 40 + colour_rows + mask_rows)

        colour = data[offset + 40:offset + 40 + colour_rows]
        mask = data[offset + 40 + colour_rows:]
        transparent = [[(mask[(15 - y) * 4 + x // 8] >> (7 - x % 8)) & 1 for x in range(16)] for y in range(16)]
        pixel = lambda x, y: colour[(15 - y) * 48 + 3 * x:(15 - y) * 48 + 3 * x + 3]  # noqa: E731
        self.assertEqual([transparent[0][0], transparent[0][15], transparent[15][0], transparent[15][15]],
                         [1, 1, 1, 1], "corners are transparent")
        self.assertEqual(transparent[8][8], 0)
        greens = 0
        for y in range(16):
            for x in range(16):
                b, g, r = pixel(x, y)
                if transparent[y][x]:
                    self.assertEqual((b, g, r), (0, 0, 0), "masked pixels are black")
                elif g > 2 * r and g > 2 * b:
                    greens += 1
        self.assertGreater(greens, 40, "a green alien")


# ------------------------------------------------------------------ tools

class Regeneration(unittest.TestCase):
    def run_tool(self, *args):
        subprocess.run(list(args), check=True)

    def assertSameFile(self, path, name):
        with open(path, "rb") as f:
            made = f.read()
        committed = read(name)
        if made != committed:
            first = next((i for i, (a, b) in enumerate(zip(made, committed)) if a != b),
                         min(len(made), len(committed)))
            self.fail("%s: made %d bytes, committed %d, first difference at byte %d"
                      % (name, len(made), len(committed), first))

    def test_overlay_and_icon(self):
        with tempfile.TemporaryDirectory() as out:
            for tool, name in (("make_overlay.py", "scanlines.png"), ("make_icon.py", "icon.ico")):
                self.run_tool(PYTHON, os.path.join(TOOLS, tool), os.path.join(out, name))
                self.assertSameFile(os.path.join(out, name), name)

    def test_backdrop(self):
        tool = os.environ.get("QUORBEL_MAKE_BACKDROP")
        self.assertTrue(tool and os.path.exists(tool), "QUORBEL_MAKE_BACKDROP names the built make_backdrop")
        with tempfile.TemporaryDirectory() as out:
            self.run_tool(PYTHON, os.path.join(TOOLS, "picture_meta.py"), out)
            self.run_tool(tool, os.path.join(out, "backdrop.jpg"),
                          os.path.join(out, "quorbel.icc"), os.path.join(out, "backdrop.xmp"))
            self.assertSameFile(os.path.join(out, "backdrop.jpg"), "backdrop.jpg")


if __name__ == "__main__":
    unittest.main()
