"""The title screen as the real launcher shows it on a real X server.

The pictures the window ought to show come from title_reference (the
launcher's own title and ticker code composing on a window in memory; path in
QUORBEL_TITLE_REFERENCE): the composed title, the scroll text as one long
"ribbon" from which the strip of every ticker step can be cut, and the table
of what one scan-line blend makes of each channel value.

The first picture is watched from before the launcher starts: a connection of
our own subscribes to window creations on the root, finds the launcher's
window as soon as it exists and reads its client area as fast as the server
answers. The root is painted a colour that nothing in the launcher uses, so a
client area that shows nothing of its own yet (the root showing through) is
told apart from one that shows black, the colour of a back buffer that was
presented before the title was composed on it.

Also used by test_ticker.py: References, XConnection, analyse_band."""

import ctypes
import ctypes.util
import os
import subprocess
import sys
import tempfile
import time
import unittest

import harness
from harness import CLIENT_SIZE, TITLE, DesktopTest, HarnessError, Picture

WIDTH, HEIGHT = CLIENT_SIZE
BAND_Y = 460          # first window row of the ticker's band
BAND_ROWS = 20        # the band reaches the client area's bottom row
TEXT_TOP, TEXT_BOTTOM = 3, 19  # the text cell's strip rows, half-open
ROW_BYTES = WIDTH * 3
TITLE_BYTES = BAND_Y * ROW_BYTES  # rows 0-459, which only presentations paint
FACE_GREY = (240, 240, 240)       # the window's face colour before the first presentation
ROOT_COLOUR = (255, 0, 255)       # painted on the root; the launcher draws no magenta
YELLOW = (255, 255, 0)
MOST_BLENDS = 40      # more blends than this leave every channel at 0 anyway


# ---- what the window ought to show --------------------------------------

class References:
    """title: Picture 640 x 480; ribbon: Picture (W + 1280) x 20, the strip
    of a step at scrollX = s being its columns 640 - s to 1279 - s;
    text_width: W; blends[k]: a bytes.translate table for k scan-line
    blends."""

    _loaded = None

    @classmethod
    def load(cls):
        if cls._loaded is None:
            cls._loaded = cls(harness.required_path("QUORBEL_TITLE_REFERENCE"))
        return cls._loaded

    def __init__(self, program):
        with tempfile.TemporaryDirectory(prefix="quorbel-title-ref-") as folder:
            title_path = os.path.join(folder, "title.ppm")
            ribbon_path = os.path.join(folder, "ribbon.ppm")
            for args in (["title", title_path], ["ribbon", ribbon_path]):
                done = subprocess.run([program, *args], capture_output=True, text=True, timeout=60)
                if done.returncode != 0:
                    raise HarnessError(f"title_reference {args[0]} failed: {done.stderr.strip()}")
            self.title = Picture.from_ppm(title_path)
            self.ribbon = Picture.from_ppm(ribbon_path)
        done = subprocess.run([program, "darken"], capture_output=True, text=True, timeout=60)
        once = [int(v) for v in done.stdout.split()]
        if done.returncode != 0 or len(once) != 256:
            raise HarnessError(f"title_reference darken failed: {done.stderr.strip()}")
        if (self.title.width, self.title.height) != CLIENT_SIZE or self.ribbon.height != BAND_ROWS:
            raise HarnessError("title_reference wrote pictures of the wrong size")
        self.text_width = self.ribbon.width - 2 * WIDTH
        self.cycle = self.text_width + WIDTH + 1  # steps from scrollX 640 round to 640
        self.blends = [bytes(range(256))]
        for _ in range(MOST_BLENDS):
            self.blends.append(bytes(once[v] for v in self.blends[-1]))

    def strip_row(self, s, y):
        """Row y of the strip of a step that drew the text at scrollX = s."""
        start = (WIDTH - s) * 3
        return self.ribbon.row(y)[start:start + ROW_BYTES]

    def title_rows_match(self, picture):
        return picture.rgb[:TITLE_BYTES] == self.title.rgb[:TITLE_BYTES]


def first_differing_row(picture, reference, rows):
    for y in rows:
        if picture.row(y) != reference.row(y):
            return y
    return None


def band_row(picture, y):
    return picture.row(BAND_Y + y)


def strip_positions(refs, picture):
    """Every scrollX whose strip has the even rows of the picture's band."""
    probe = band_row(picture, TEXT_TOP + 1)  # an even row through the text
    haystack = refs.ribbon.row(TEXT_TOP + 1)
    found = set()
    at = haystack.find(probe)
    while at >= 0:
        if at % 3 == 0:
            s = WIDTH - at // 3
            if all(band_row(picture, y) == refs.strip_row(s, y) for y in range(0, BAND_ROWS, 2)):
                found.add(s)
        at = haystack.find(probe, at + 1)
    return found


def blends_over(refs, picture, source_row):
    """k when every odd row of the band is source_row(y) blended k times,
    with one k for the whole band (one blend covers all of it); else None."""
    for k, table in enumerate(refs.blends):
        if all(band_row(picture, y) == source_row(y).translate(table)
               for y in range(1, BAND_ROWS, 2)):
            return k
    return None


def analyse_band(refs, picture):
    """What the band (rows 460-479) shows: ('title', None, k) when its even
    rows are the title's and its odd rows the title's blended k more times;
    ('strip', positions, k) when its even rows are the strip of a step at
    any scrollX in `positions` and its odd rows that strip's blended k times
    (k is None when they are not); None when the even rows are neither."""
    if all(band_row(picture, y) == refs.title.row(BAND_Y + y) for y in range(0, BAND_ROWS, 2)):
        return "title", None, blends_over(refs, picture, lambda y: refs.title.row(BAND_Y + y))
    positions = strip_positions(refs, picture)
    if not positions:
        return None
    s = min(positions)  # positions share their odd rows as they share the even ones
    return "strip", positions, blends_over(refs, picture, lambda y: refs.strip_row(s, y))


def plain(picture, colour):
    return picture.rgb == bytes(colour) * (picture.width * picture.height)


# ---- our own X connection ----------------------------------------------

class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong),
                ("blue_mask", ctypes.c_ulong)]


class _XCreateWindowEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("parent", ctypes.c_ulong),
                ("window", ctypes.c_ulong)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xcreatewindow", _XCreateWindowEvent),
                ("pad", ctypes.c_long * 24)]


_CREATE_NOTIFY = 16
_SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
_Z_PIXMAP = 2
_ALL_PLANES = 0xFFFFFFFF

_xlib = None
_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
# A request on a window that is not viewable yet fails with BadMatch; the
# default handler would end the test process.
_ignore_errors = _ERROR_HANDLER(lambda display, event: 0)


def _load_xlib():
    global _xlib
    if _xlib is None:
        path = ctypes.util.find_library("X11")
        if not path:
            raise HarnessError("libX11 is not installed")
        x = ctypes.CDLL(path)
        vp, ul = ctypes.c_void_p, ctypes.c_ulong
        x.XOpenDisplay.restype, x.XOpenDisplay.argtypes = vp, [ctypes.c_char_p]
        x.XCloseDisplay.argtypes = [vp]
        x.XDefaultRootWindow.restype, x.XDefaultRootWindow.argtypes = ul, [vp]
        x.XSelectInput.argtypes = [vp, ul, ctypes.c_long]
        x.XSetWindowBackground.argtypes = [vp, ul, ul]
        x.XClearWindow.argtypes = [vp, ul]
        x.XSync.argtypes = [vp, ctypes.c_int]
        x.XPending.argtypes = [vp]
        x.XNextEvent.argtypes = [vp, ctypes.POINTER(_XEvent)]
        x.XFetchName.argtypes = [vp, ul, ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [vp]
        x.XGetImage.restype = ctypes.POINTER(_XImage)
        x.XGetImage.argtypes = [vp, ul, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                ctypes.c_uint, ul, ctypes.c_int]
        x.XSetErrorHandler.argtypes = [_ERROR_HANDLER]
        x.XSetErrorHandler(_ignore_errors)
        _xlib = x
    return _xlib


class XConnection:
    """A connection of the test's own to the Desktop's server: window
    creations on the root, window names, client-area pictures. Close it
    before the server goes (Xlib ends the process on a lost connection)."""

    def __init__(self, display):
        self.x = _load_xlib()
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise HarnessError(f"cannot open display {display}")
        self.root = self.x.XDefaultRootWindow(self.dpy)

    def close(self):
        if self.dpy:
            self.x.XCloseDisplay(self.dpy)
            self.dpy = None

    def paint_root(self, colour):
        red, green, blue = colour
        self.x.XSetWindowBackground(self.dpy, self.root, red << 16 | green << 8 | blue)
        self.x.XClearWindow(self.dpy, self.root)
        self.x.XSync(self.dpy, 0)

    def watch_creations(self):
        self.x.XSelectInput(self.dpy, self.root, _SUBSTRUCTURE_NOTIFY_MASK)
        self.x.XSync(self.dpy, 0)

    def created_windows(self):
        """Ids of the root's children created since the last call."""
        created = []
        event = _XEvent()
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, ctypes.byref(event))
            if event.type == _CREATE_NOTIFY:
                created.append(event.xcreatewindow.window)
        return created

    def name(self, window):
        text = ctypes.c_void_p()
        if not self.x.XFetchName(self.dpy, window, ctypes.byref(text)) or not text.value:
            return None
        value = ctypes.string_at(text.value)
        self.x.XFree(text)
        return value.decode("latin-1")

    def grab(self, window):
        """(picture, t0, t1): the client area, read between the monotonic
        times t0 and t1; picture is None while the window is not viewable."""
        t0 = time.monotonic()
        image = self.x.XGetImage(self.dpy, window, 0, 0, WIDTH, HEIGHT, _ALL_PLANES, _Z_PIXMAP)
        t1 = time.monotonic()
        if not image:
            return None, t0, t1
        im = image.contents
        try:
            if (im.bits_per_pixel != 32 or im.bytes_per_line != WIDTH * 4 or im.byte_order != 0
                    or (im.red_mask, im.green_mask, im.blue_mask) != (0xFF0000, 0xFF00, 0xFF)):
                raise HarnessError("the server's pixels are not 32-bit B, G, R, X")
            data = ctypes.string_at(im.data, WIDTH * 4 * HEIGHT)
        finally:
            self.x.XFree(im.data)
            self.x.XFree(image)
        rgb = bytearray(WIDTH * HEIGHT * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = data[2::4], data[1::4], data[0::4]
        return Picture(WIDTH, HEIGHT, bytes(rgb)), t0, t1

    def picture(self, window):
        picture, _, _ = self.grab(window)
        if picture is None:
            raise HarnessError(f"window {window} is not viewable")
        return picture


def watch_start(desktop, xconn, timeout=10.0):
    """Starts the launcher with the root painted ROOT_COLOUR and reads the
    client area from the moment its window can be read until it shows
    something other than the root colour or the face grey.

    Returns (launcher, window, first, before, polls): first is that
    picture, before the list of 'root' / 'grey' names of the distinct plain
    pictures seen before it, polls the number of pictures read (the reads
    before the window became viewable not counted)."""
    xconn.paint_root(ROOT_COLOUR)
    xconn.watch_creations()
    xconn.created_windows()
    launcher = desktop.start_launcher()
    deadline = time.monotonic() + timeout
    candidates, window, before, polls = [], None, [], 0
    while time.monotonic() < deadline:
        if window is None:
            candidates += xconn.created_windows()
            window = next((w for w in candidates if xconn.name(w) == TITLE), None)
            if window is None:
                time.sleep(0.0005)
                continue
        picture, _, _ = xconn.grab(window)
        if picture is None:
            continue
        polls += 1
        kind = "root" if plain(picture, ROOT_COLOUR) else "grey" if plain(picture, FACE_GREY) else None
        if kind is None:
            return launcher, window, picture, before, polls
        if not before or before[-1] != kind:
            before.append(kind)
    raise HarnessError(f"the launcher's window showed nothing of its own within {timeout} s; "
                       f"launcher running: {launcher.running()}, stderr: {launcher.stderr()!r}")


# ---- the tests ------------------------------------------------------------

class TitleChecks:
    """Mixed into a DesktopTest; self.refs, self.xconn are set up."""

    STARTS = 8

    def setUp(self):
        self.refs = References.load()
        super().setUp()
        self.xconn = XConnection(self.desktop.display)
        self.addCleanup(self.xconn.close)  # runs before the Desktop stops

    def assertTitleRows(self, picture, what):
        y = first_differing_row(picture, self.refs.title, range(BAND_Y))
        self.assertIsNone(y, f"{what}: row {y} differs from the composed title")

    def assertBandIsTitleOrStrip(self, picture, what):
        band = analyse_band(self.refs, picture)
        self.assertIsNotNone(band, f"{what}: the band's even rows are neither the title's "
                                   f"nor those of any ticker step")
        source, _, blends = band
        self.assertIsNotNone(blends, f"{what}: the band's even rows are the {source}'s, but its "
                                     f"odd rows are not those blended with the scan lines")
        return band

    def test_first_picture_is_the_whole_title(self):
        seen = []
        for start in range(self.STARTS):
            launcher, window, first, before, polls = watch_start(self.desktop, self.xconn)
            what = f"start {start + 1}, first picture after {before or 'nothing'}"
            # Before it, only the plain root (nothing drawn yet) or the face grey.
            self.assertTitleRows(first, what)
            source, positions, blends = self.assertBandIsTitleOrStrip(first, what)
            if source == "strip":
                # The title is presented before the first ticker step, so a
                # strip in the first picture can only be one of the first steps.
                self.assertGreater(max(positions), WIDTH - 50, f"{what}: strip at {positions}")
            seen.append(f"{'+'.join(before) or '-'} -> title with {source} band "
                        f"({blends} blends) at picture {polls}")
            launcher.kill()
        sys.stderr.write("\n[e2e] first pictures: " + "; ".join(seen) + "\n")

    def test_title_stays_and_is_repainted_after_being_uncovered(self):
        launcher, window = self.start_and_find()
        g = self.desktop.settled_geometry(window)
        time.sleep(1.0)
        later = self.xconn.picture(window)
        self.assertTitleRows(later, "a second after the start")
        self.assertEqual(self.assertBandIsTitleOrStrip(later, "a second after the start")[0], "strip")

        # Another window over the middle and bottom of the client area.
        cover = self.desktop.start_client(
            "xmessage", "-geometry", f"360x200+{g['client_x'] + 140}+{g['client_y'] + 200}",
            "-bg", "#20c040", "in the way")
        self.desktop.find_window("xmessage")
        deadline = time.monotonic() + 5
        while self.refs.title_rows_match(self.xconn.picture(window)):
            if time.monotonic() > deadline:
                self.fail("the other window never showed over the launcher's client area")
            time.sleep(0.02)

        cover.kill()
        cover.wait(5)
        # The uncovered part shows what the cover left until the launcher
        # presents its back buffer again.
        deadline = time.monotonic() + 2
        picture = self.xconn.picture(window)
        while not self.refs.title_rows_match(picture) and time.monotonic() < deadline:
            time.sleep(0.01)
            picture = self.xconn.picture(window)
        self.assertTitleRows(picture, "after the other window went")
        self.assertBandIsTitleOrStrip(picture, "after the other window went")
        # The presentation put the title's own band rows back; the next
        # ticker step pastes its strip over them again.
        time.sleep(0.1)
        later = self.xconn.picture(window)
        self.assertTitleRows(later, "a while after the repaint")
        self.assertEqual(self.assertBandIsTitleOrStrip(later, "a while after the repaint")[0], "strip")
        self.assertTrue(launcher.running(), launcher.stderr())


class WithoutWindowManager(TitleChecks, DesktopTest):
    WINDOW_MANAGER = False


class WithOpenbox(TitleChecks, DesktopTest):
    WINDOW_MANAGER = True


if __name__ == "__main__":
    unittest.main()
