"""The scroll ticker as the real launcher draws it on a real X server: the
yellow text runs from right to left along the window's bottom 20 rows, no
faster than one pixel per 6 ms; the band is the strip of one ticker step
with its odd rows darkened by the scan lines; the title above it is never
touched.

Every picture is matched exactly against title_reference's pictures (see
test_title.py): the band's even rows name the scroll position of the step
that drew it, its odd rows how many times the scan lines were blended over
them since."""

import sys
import time
import unittest

from harness import DesktopTest
from test_title import (BAND_ROWS, BAND_Y, ROW_BYTES, TEXT_BOTTOM, TEXT_TOP, YELLOW, References,
                        XConnection, analyse_band, band_row, first_differing_row)

# Steps are due once more than 5 ms have passed on a millisecond clock.
STEP_MS = 6


class TickerChecks:
    """Mixed into a DesktopTest."""

    def setUp(self):
        self.refs = References.load()
        super().setUp()
        self.xconn = XConnection(self.desktop.display)
        self.addCleanup(self.xconn.close)  # runs before the Desktop stops

    def start_ticking(self):
        launcher, window = self.start_and_find()
        self.desktop.settled_geometry(window)
        return launcher, window

    def read_band(self, window, what):
        """(picture, t0, t1, band) of one read, band as analyse_band gives
        it; the title rows above the band are checked on the way."""
        picture, t0, t1 = self.xconn.grab(window)
        self.assertIsNotNone(picture, f"{what}: the window is not viewable")
        y = first_differing_row(picture, self.refs.title, range(BAND_Y))
        self.assertIsNone(y, f"{what}: title row {y} changed")
        band = analyse_band(self.refs, picture)
        self.assertIsNotNone(band, f"{what}: the band is neither the title's rows nor a ticker strip")
        return picture, t0, t1, band

    def position(self, window, what):
        """(scrollX, t0, t1) of a read whose band names one scroll position."""
        for _ in range(20):
            _, t0, t1, (source, positions, _) = self.read_band(window, what)
            if source == "strip" and len(positions) == 1:
                return next(iter(positions)), t0, t1
            time.sleep(0.003)  # an empty strip, or the title's rows just after a presentation
        self.fail(f"{what}: twenty reads named no single scroll position")

    def test_text_moves_leftwards_no_faster_than_one_pixel_per_6_ms(self):
        launcher, window = self.start_ticking()
        rates = []
        for pair in range(3):
            s0, a0, a1 = self.position(window, f"pair {pair}, first read")
            time.sleep(1.0)
            s1, b0, b1 = self.position(window, f"pair {pair}, second read")
            moved = (s0 - s1) % self.refs.cycle  # pixels leftwards, across a wrap too
            # The reads took place somewhere inside [a0, a1] and [b0, b1].
            longest_ms = (b1 - a0) * 1000
            self.assertGreater(moved, 0, f"the text stood still or moved right: {s0} -> {s1}")
            # n steps need more than STEP_MS * n - 1 ms of the millisecond clock.
            self.assertLessEqual(moved, (longest_ms + 1) / STEP_MS + 1,
                                 f"{moved} px in at most {longest_ms:.1f} ms")
            rates.append(moved / ((b0 + b1 - a0 - a1) / 2))
        self.assertTrue(launcher.running(), launcher.stderr())
        sys.stderr.write("\n[e2e] ticker: " + ", ".join(f"{r:.1f}" for r in rates)
                         + f" steps/s (bound {1000 / STEP_MS:.1f})\n")

    def test_band_is_one_strip_with_its_scan_lines_darkened(self):
        launcher, window = self.start_ticking()
        reads, darkened, yellow_pixels, positions_seen = 16, 0, 0, set()
        black_row = bytes(ROW_BYTES)
        for n in range(reads):
            what = f"read {n}"
            picture, _, _, (source, positions, blends) = self.read_band(window, what)
            self.assertEqual(source, "strip", f"{what}: the band shows the title's own rows")
            self.assertIsNotNone(blends, f"{what}: the odd rows are not the strip's blended "
                                         f"with the scan lines")
            positions_seen |= positions
            # The text cell is strip rows 3-18: the rows above and below it
            # are never painted, and black stays black under the scan lines.
            for y in (*range(TEXT_TOP), *range(TEXT_BOTTOM, BAND_ROWS)):
                self.assertEqual(band_row(picture, y), black_row, f"{what}: band row {y} is not black")
            if blends:
                darkened += 1
            # Each glyph pixel covers an odd row and the even row below it;
            # only the odd one lies under a scan line.
            strip = min(positions)
            for y in range(TEXT_TOP, TEXT_BOTTOM - 1, 2):
                drawn = self.refs.strip_row(strip, y)
                odd, even = band_row(picture, y), band_row(picture, y + 1)
                for x in range(0, ROW_BYTES, 3):
                    if drawn[x:x + 3] != bytes(YELLOW):
                        continue
                    yellow_pixels += 1
                    self.assertEqual(even[x:x + 3], bytes(YELLOW), f"{what}: row {BAND_Y + y + 1}")
                    if blends:
                        self.assertTrue(odd[x] < 255 and odd[x + 1] < 255 and odd[x + 2] == 0,
                                        f"{what}: row {BAND_Y + y}, x {x // 3}: {tuple(odd[x:x + 3])}")
            time.sleep(0.025)
        self.assertTrue(launcher.running(), launcher.stderr())
        self.assertGreater(yellow_pixels, 0, "no read showed any of the text")
        self.assertGreater(len(positions_seen), 1, f"the text stood at {positions_seen}")
        # Only a read between a step's paste and its blend sees them undarkened.
        self.assertGreater(darkened, reads // 2, f"{darkened} of {reads} reads had darkened scan lines")


class WithoutWindowManager(TickerChecks, DesktopTest):
    WINDOW_MANAGER = False


class WithOpenbox(TickerChecks, DesktopTest):
    WINDOW_MANAGER = True


if __name__ == "__main__":
    unittest.main()
