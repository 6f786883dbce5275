"""The harness checked against plain X clients whose behaviour is known
(xmessage, xprobe's own key-log window): if these fail, a failing launcher
test says nothing about the launcher."""

import collections
import os
import subprocess
import time
import unittest

import harness
from harness import DesktopTest


class HarnessWithoutWindowManager(DesktopTest):

    def setUp(self):
        super().setUp()
        self.procs = []
        self.addCleanup(lambda: [p.kill() for p in self.procs])

    def xmessage(self, *args):
        proc = self.desktop.start_client("xmessage", *args)
        return proc, self.desktop.find_window("xmessage")

    def test_own_display_and_nothing_left_after_stop(self):
        d = self.desktop
        self.assertNotEqual(d.display, os.environ.get("DISPLAY"))
        socket = f"/tmp/.X11-unix/X{d.display[1:]}"
        self.assertTrue(os.path.exists(socket))
        xvfb = d._xvfb
        # A stand-in in a session of its own, as the emulator runs: found by
        # its program file inside the work folder.
        program = d.install_standin("x64.exe")
        loose = subprocess.Popen([program], cwd=d.play, start_new_session=True,
                                 env=d.env({"QUORBEL_STANDIN_SECONDS": "30"}))
        launcher = d.start_launcher(binary=d.install_standin("vsid.exe"))
        deadline = time.monotonic() + 5
        while len(d.records()) < 2 and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertEqual(sorted(d.records()), ["vsid.exe", "x64.exe"])
        d.stop()
        self.assertIsNotNone(xvfb.poll())
        self.assertFalse(os.path.exists(socket))
        self.assertFalse(harness._alive(loose.pid))
        self.assertFalse(launcher.running())
        loose.wait(1)

    def test_find_geometry_capture_close_on_a_plain_client(self):
        proc, window = self.xmessage("-geometry", "300x100+50+60", "-bg", "#0a200c", "hello")
        g = self.desktop.settled_geometry(window)
        self.assertEqual((g["client_w"], g["client_h"], g["border"]), (300, 100, 1), g)
        self.assertEqual((g["outer_x"], g["outer_y"], g["outer_w"], g["outer_h"]),
                         (50, 60, 302, 102), g)
        self.assertEqual((g["client_x"], g["client_y"]), (51, 61), g)
        picture = self.desktop.capture(window)
        self.assertEqual((picture.width, picture.height), (300, 100))
        counts = collections.Counter(zip(picture.rgb[0::3], picture.rgb[1::3], picture.rgb[2::3]))
        # Distinct channels show the order; bytes that look like whitespace
        # (LF, space, FF) right after the PPM header must stay pixels.
        self.assertEqual(counts.most_common(1)[0][0], (0x0A, 0x20, 0x0C))
        self.assertEqual(picture.pixel(0, 0), (0x0A, 0x20, 0x0C))
        first, stats = self.desktop.watch_first(window, timeout=1.0)
        self.assertEqual(first.rgb, picture.rgb)
        self.assertEqual(stats["polls"], 1)
        self.assertEqual(self.desktop.windows_titled("xmessage"), [(window, "viewable")])
        self.assertEqual(self.desktop.title(window), {"wm_name": "xmessage"})
        self.desktop.close_request(window)
        proc.wait(1.0)
        self.assertFalse(self.desktop.window_exists(window))
        with self.assertRaises(harness.HarnessError):
            self.desktop.find_window("xmessage", timeout=0.2)

    def test_keys_are_held_and_the_keypad_keeps_num_lock(self):
        d = self.desktop
        log = subprocess.Popen([d.xprobe_path, "keylog", "4"], env=d.env(),
                               stdout=subprocess.PIPE, text=True)
        self.procs.append(log)
        self.assertTrue(log.stdout.readline().startswith("ready"))
        d.set_numlock(False)
        d.hold_key("Escape", 100)
        d.hold_keypad("1")
        d.set_numlock(True)
        d.hold_keypad("1")
        d.hold_key("shift+1")
        out, _ = log.communicate(timeout=10)
        events = [dict(f.split("=", 1) for f in line.split()[1:])
                  | {"kind": line.split()[0]} for line in out.splitlines()]
        escape = [e for e in events if e["base"] == "Escape"]
        self.assertEqual([e["kind"] for e in escape], ["press", "release"])
        self.assertGreaterEqual(int(escape[1]["time"]) - int(escape[0]["time"]),
                                harness.MIN_HOLD_MS)
        keypad = [e for e in events if e["base"] == "KP_End"]
        self.assertEqual([(e["kind"], e["keysym"]) for e in keypad],
                         [("press", "KP_End"), ("release", "KP_End"),
                          ("press", "KP_1"), ("release", "KP_1")])
        self.assertEqual(keypad[0]["keycode"], keypad[2]["keycode"])
        shifted = [e["keysym"] for e in events if e["base"] == "1" and e["kind"] == "press"]
        self.assertEqual(shifted, ["exclam"])


class HarnessWithOpenbox(DesktopTest):
    WINDOW_MANAGER = True

    def test_frame_focus_and_alt_f4_on_a_plain_client(self):
        proc = self.desktop.start_client("xmessage", "hello")
        window = self.desktop.find_window("xmessage")
        g = self.desktop.settled_geometry(window)
        self.assertNotEqual(g["frame"], window)
        left, right, top, bottom = g["net_extents"]
        self.assertGreater(top, 0)
        self.assertEqual((g["outer_w"], g["outer_h"]),
                         (g["client_w"] + left + right, g["client_h"] + top + bottom))
        self.assertEqual((g["outer_x"], g["outer_y"]), (g["client_x"] - left, g["client_y"] - top))
        self.desktop.focus(window)
        self.assertEqual(self.desktop.focused_window(), window)
        self.desktop.hold_key("alt+F4")
        proc.wait(2.0)


if __name__ == "__main__":
    unittest.main()
