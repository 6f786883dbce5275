"""The launcher's window on a real X server: size, place, title, fixed size,
and the three ways a user ends the launcher without starting the game; and
the start-up error when there is no display at all."""

import os
import re
import subprocess
import sys
import time
import unittest

import harness
from harness import CLIENT_SIZE, SCREEN_SIZE, TITLE, Desktop, DesktopTest

NO_SCREEN_LINE = "Error: Can't open screen & sprite environment!\n"


class WithoutWindowManager(DesktopTest):
    WINDOW_MANAGER = False

    def test_client_area_is_640x480_at_192_144(self):
        _, window = self.start_and_find()
        g = self.desktop.settled_geometry(window)
        self.assertEqual((g["client_w"], g["client_h"]), CLIENT_SIZE, g)
        # Nothing reparents the window, so it is its own outer frame.
        self.assertEqual(g["frame"], window, g)
        self.assertIsNone(g["net_extents"], g)
        self.assertEqual((g["client_x"], g["client_y"]), (192, 144), g)

    def test_title_and_fixed_size(self):
        _, window = self.start_and_find()
        names = self.desktop.title(window)
        self.assertEqual(names.get("wm_name"), TITLE, names)
        self.assertEqual(names.get("net_wm_name"), TITLE, names)
        hints = self.desktop.size_hints(window)
        self.assertEqual(hints, {"min": CLIENT_SIZE, "max": CLIENT_SIZE})
        self.assertEqual(len(self.desktop.windows_titled()), 1)

    def test_close_request_ends_the_launcher_with_0_within_a_second(self):
        launcher, window = self.start_and_find()
        self.assertIn("WM_DELETE_WINDOW", self.desktop.protocols(window))
        time.sleep(0.3)  # well inside the main loop by now
        self.assertTrue(launcher.running())
        self.desktop.close_request(window)
        self.assertEqual(launcher.wait(1.0), 0, launcher.stderr())
        self.assertEqual(launcher.stderr(), "")  # the launcher keeps no log

    def test_escape_ends_the_launcher_with_0_while_held(self):
        launcher, window = self.start_and_find()
        self.desktop.focus(window)
        time.sleep(0.3)
        self.desktop.key_down("Escape")
        try:
            # Escape acts while it is down: no release is needed.
            code = launcher.wait(1.5)
        finally:
            self.desktop.key_up("Escape")
        self.assertEqual(code, 0, launcher.stderr())
        self.assertEqual(launcher.stderr(), "")

    def test_idle_launcher_keeps_running_and_its_cpu_is_reported(self):
        launcher, window = self.start_and_find()
        time.sleep(1.0)
        ticks_before, clock_before = launcher.cpu_ticks(), time.monotonic()
        time.sleep(5.0)
        ticks_after, clock_after = launcher.cpu_ticks(), time.monotonic()
        self.assertTrue(launcher.running(), launcher.stderr())
        self.assertTrue(self.desktop.window_exists(window))
        seconds = (ticks_after - ticks_before) / os.sysconf("SC_CLK_TCK")
        share = 100.0 * seconds / (clock_after - clock_before)
        sys.stderr.write(f"\n[e2e] idle launcher: {seconds:.2f} s of CPU in "
                         f"{clock_after - clock_before:.2f} s = {share:.1f} %\n")


class WithOpenbox(DesktopTest):
    WINDOW_MANAGER = True

    def test_client_area_is_640x480_and_the_frame_is_centred(self):
        # openbox itself would centre a window that asks for no place on an
        # empty screen; with this one in the middle it puts it at (0, 0).
        self.desktop.start_client("xmessage", "-geometry", "400x300+312+234", "in the way")
        self.desktop.find_window("xmessage")
        _, window = self.start_and_find()
        g = self.desktop.settled_geometry(window)
        self.assertEqual((g["client_w"], g["client_h"]), CLIENT_SIZE, g)
        self.assertNotEqual(g["frame"], window, "openbox did not reparent the window")
        self.assertIsNotNone(g["net_extents"], g)
        left, right, top, bottom = g["net_extents"]
        # The frame window and the announced extents agree on the frame.
        self.assertEqual((g["outer_w"], g["outer_h"]),
                         (CLIENT_SIZE[0] + left + right, CLIENT_SIZE[1] + top + bottom), g)
        self.assertEqual((g["outer_x"], g["outer_y"]),
                         (g["client_x"] - left, g["client_y"] - top), g)
        self.assertEqual((g["screen_w"], g["screen_h"]), SCREEN_SIZE)
        want = ((SCREEN_SIZE[0] - g["outer_w"]) // 2, (SCREEN_SIZE[1] - g["outer_h"]) // 2)
        self.assertEqual((g["outer_x"], g["outer_y"]), want, g)

    def test_close_request_ends_the_launcher_with_0_within_a_second(self):
        launcher, window = self.start_and_find()
        time.sleep(0.3)
        self.desktop.close_request(window)
        self.assertEqual(launcher.wait(1.0), 0, launcher.stderr())
        self.assertEqual(launcher.stderr(), "")  # the launcher keeps no log

    def test_the_window_asks_for_moving_and_closing_only(self):
        _, window = self.start_and_find()
        self.desktop.settled_geometry(window)

        def prop(name):
            done = subprocess.run(["xprop", "-id", str(window), name], env=self.desktop.env(),
                                  capture_output=True, text=True, timeout=10)
            return done.stdout

        # Functions and decorations given (flags 3); functions move 0x4 and
        # close 0x20; decorations border, title and window menu.
        self.assertRegex(prop("_MOTIF_WM_HINTS"), r"= 0x3, 0x24, 0x1a, 0x0, 0x0")
        # openbox grants moving and closing, and neither resizing nor
        # maximising; it keeps minimising by its own policy.
        actions = set(re.findall(r"_NET_WM_ACTION_\w+", prop("_NET_WM_ALLOWED_ACTIONS")))
        self.assertTrue({"_NET_WM_ACTION_CLOSE", "_NET_WM_ACTION_MOVE"} <= actions, actions)
        for refused in ("RESIZE", "MAXIMIZE_HORZ", "MAXIMIZE_VERT"):
            self.assertNotIn("_NET_WM_ACTION_" + refused, actions)

    def test_alt_f4_ends_the_launcher_with_0(self):
        launcher, window = self.start_and_find()
        self.desktop.focus(window)
        time.sleep(0.3)
        self.desktop.hold_key("alt+F4")
        self.assertEqual(launcher.wait(2.0), 0, launcher.stderr())
        self.assertEqual(launcher.stderr(), "")


class WithoutDisplay(unittest.TestCase):
    """No X server to talk to: the launcher reports it on stderr, as one
    line, starts nothing and ends with 0."""

    def setUp(self):
        self.desktop = Desktop(x_server=False)
        self.addCleanup(self.desktop.stop)
        self.desktop.start()
        # A tune player ready in the current folder: it must not be started.
        self.desktop.install_standin("vsid.exe")

    def check_start_up_error(self, env):
        launcher = self.desktop.start_launcher(env=env)
        self.assertEqual(launcher.wait(10.0), 0, launcher.stderr())
        self.assertEqual(launcher.stderr(), NO_SCREEN_LINE)
        self.assertEqual(launcher.stdout(), "")
        time.sleep(0.3)
        self.assertEqual(self.desktop.records(), {})

    def test_display_unset(self):
        self.check_start_up_error(env={"DISPLAY": None})

    def test_display_that_does_not_exist(self):
        self.check_start_up_error(env={"DISPLAY": harness.unused_display()})


if __name__ == "__main__":
    unittest.main()
