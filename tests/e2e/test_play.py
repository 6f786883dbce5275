"""Playing: the keys that start the game, and the two child programs, with
stand-ins for vsid.exe and x64.exe that record how they were started."""

import os
import signal
import subprocess
import time
import unittest

from harness import Desktop, DesktopTest, HarnessError, read_record

PLAYER_ARGS = ["vsid.exe", "-soundvolume", "60", "117.sid"]
FULL_SCREEN_ARGS = ["x64.exe", "-cartcrt", "joltrak16k.crt", "-fullscreen", "-cartreset"]
WINDOWED_ARGS = ["x64.exe", "-cartcrt", "joltrak16k.crt", "-cartreset"]


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.01)


def alive(pid):
    """True while the process exists and is not a zombie."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def shifted(desktop, key):
    """Shift held around a held key, released after it, as a person types."""
    desktop.key_down("shift")
    try:
        time.sleep(0.05)
        desktop.hold_key(key)
        time.sleep(0.05)
    finally:
        desktop.key_up("shift")


class Play(DesktopTest):
    """Runs with both stand-ins beside the launcher, in the play folder."""

    CHILDREN = ("vsid.exe", "x64.exe")

    def setUp(self):
        super().setUp()
        for name in self.CHILDREN:
            self.desktop.install_standin(name)
        self.launcher, self.window = self.start_and_find()
        self.desktop.focus(self.window)
        time.sleep(0.3)  # well inside the main loop

    def record(self, name, timeout=3.0):
        path = os.path.join(self.desktop.play, name + ".record")
        wait_for(lambda: os.path.exists(path), timeout, path)
        return read_record(path)

    def no_record(self, name):
        return not os.path.exists(os.path.join(self.desktop.play, name + ".record"))

    def assert_ended_with_0(self):
        self.assertEqual(self.launcher.wait(2.0), 0, self.launcher.stderr())
        self.assertEqual(self.launcher.stderr(), "")

    def assert_player_gone(self, player):
        wait_for(lambda: not alive(int(player["pid"])), 2.0, "the tune player to end")


class Keys(Play):
    def test_tune_player_starts_hidden_with_its_arguments(self):
        player = self.record("vsid.exe")
        self.assertEqual(player["arg"], PLAYER_ARGS)
        self.assertEqual(player["cwd"], self.desktop.play)
        for stream in ("stdin", "stdout", "stderr"):
            self.assertEqual(player[stream], "/dev/null", stream)
        self.assertEqual(player["sid"], player["pid"], "a session of its own")
        self.assertEqual(player["fd"], ["0", "1", "2"], "nothing inherited beyond the streams")
        self.assertTrue(self.no_record("x64.exe"))

    def test_released_2_starts_the_windowed_game_and_ends(self):
        player = self.record("vsid.exe")
        self.desktop.hold_key("2")
        self.assert_ended_with_0()
        emulator = self.record("x64.exe")
        self.assertEqual(emulator["arg"], WINDOWED_ARGS)
        self.assertEqual(emulator["cwd"], self.desktop.play)
        self.assertEqual(emulator["fd"], ["0", "1", "2"])
        self.assert_player_gone(player)
        time.sleep(0.5)
        self.assertTrue(alive(int(emulator["pid"])), "the emulator outlives the launcher")

    def test_keypad_1_starts_full_screen_whatever_num_lock_says(self):
        self.record("vsid.exe")
        self.desktop.set_numlock(False)
        self.desktop.hold_keypad("1")
        self.assert_ended_with_0()
        self.assertEqual(self.record("x64.exe")["arg"], FULL_SCREEN_ARGS)

    def test_top_row_1_starts_full_screen(self):
        self.desktop.hold_key("1")
        self.assert_ended_with_0()
        self.assertEqual(self.record("x64.exe")["arg"], FULL_SCREEN_ARGS)

    def test_holding_1_does_nothing_until_it_is_released(self):
        self.desktop.key_down("1")
        try:
            time.sleep(0.4)
            self.assertTrue(self.launcher.running())
            self.assertTrue(self.no_record("x64.exe"))
        finally:
            self.desktop.key_up("1")
        self.assert_ended_with_0()
        self.assertEqual(self.record("x64.exe")["arg"], FULL_SCREEN_ARGS)

    def test_shift_1_and_other_keys_start_nothing(self):
        shifted(self.desktop, "1")
        for keys in ("3", "a", "Return", "KP_Add", "F1"):
            self.desktop.hold_key(keys)
        time.sleep(0.3)
        self.assertTrue(self.launcher.running())
        self.assertTrue(self.no_record("x64.exe"))
        # The launcher still listens: 2 alone starts the game.
        self.desktop.hold_key("2")
        self.assert_ended_with_0()
        self.assertEqual(self.record("x64.exe")["arg"], WINDOWED_ARGS)

    def test_escape_and_close_request_stop_the_tune_and_start_nothing(self):
        player = self.record("vsid.exe")
        self.desktop.key_down("Escape")
        try:
            self.assert_ended_with_0()
        finally:
            self.desktop.key_up("Escape")
        self.assert_player_gone(player)
        self.assertTrue(self.no_record("x64.exe"))

    def test_close_request_stops_the_tune(self):
        player = self.record("vsid.exe")
        self.desktop.close_request(self.window)
        self.assert_ended_with_0()
        self.assert_player_gone(player)
        self.assertTrue(self.no_record("x64.exe"))

    def test_kill_9_leaves_no_tune_playing(self):
        player = self.record("vsid.exe")
        os.kill(self.launcher.proc.pid, signal.SIGKILL)
        self.launcher.wait(2.0)
        self.assert_player_gone(player)


class FrenchLayout(Play):
    def setUp(self):
        super().setUp()
        done = subprocess.run(["setxkbmap", "-display", self.desktop.env()["DISPLAY"], "fr"],
                              capture_output=True, text=True, timeout=10)
        if done.returncode != 0:
            raise HarnessError(f"setxkbmap fr failed: {done.stderr.strip()}")
        time.sleep(0.3)

    def test_the_key_in_the_1_position_types_ampersand_and_starts_nothing(self):
        self.desktop.hold_key("ampersand")
        time.sleep(0.3)
        self.assertTrue(self.launcher.running())
        self.assertTrue(self.no_record("x64.exe"))

    def test_shift_with_that_key_types_1_and_starts_full_screen(self):
        shifted(self.desktop, "ampersand")
        self.assert_ended_with_0()
        self.assertEqual(self.record("x64.exe")["arg"], FULL_SCREEN_ARGS)


class Focus(Play):
    WINDOW_MANAGER = True

    def other_window(self):
        self.desktop.start_client("xmessage", "-title", "other", "-geometry", "+0+0", "elsewhere")
        other = self.desktop.find_window("other")
        self.desktop.focus(other)
        wait_for(lambda: self.desktop.focused_window() != self.window, 3.0, "the focus to move")
        return other

    def test_keys_do_nothing_while_another_window_has_the_focus(self):
        self.other_window()
        self.desktop.hold_key("2")
        self.desktop.hold_key("Escape")
        time.sleep(0.3)
        self.assertTrue(self.launcher.running())
        self.assertTrue(self.no_record("x64.exe"))
        # A close request still ends it.
        self.desktop.close_request(self.window)
        self.assert_ended_with_0()

    def test_key_released_without_focus_counts_when_focus_returns(self):
        self.desktop.key_down("2")
        try:
            time.sleep(0.2)
            self.other_window()
        finally:
            self.desktop.key_up("2")
        time.sleep(0.3)
        self.assertTrue(self.launcher.running(), "nothing happens while the focus is elsewhere")
        # Straight to the window: openbox may decline an activation request
        # while the other window is the newest.
        self.desktop.xprobe("focus", self.window)
        self.assert_ended_with_0()
        self.assertEqual(self.record("x64.exe")["arg"], WINDOWED_ARGS)


class MissingChildren(DesktopTest):
    def test_without_vsid_the_title_runs_and_2_still_starts_the_game(self):
        self.desktop.install_standin("x64.exe")
        launcher, window = self.start_and_find()
        self.desktop.focus(window)
        time.sleep(0.3)
        self.assertTrue(launcher.running())
        self.desktop.hold_key("2")
        self.assertEqual(launcher.wait(2.0), 0, launcher.stderr())
        self.assertEqual(launcher.stderr(), "")
        path = os.path.join(self.desktop.play, "x64.exe.record")
        wait_for(lambda: os.path.exists(path), 3.0, path)
        self.assertEqual(read_record(path)["arg"], WINDOWED_ARGS)

    def test_without_x64_key_2_ends_the_launcher_quietly(self):
        self.desktop.install_standin("vsid.exe")
        launcher, window = self.start_and_find()
        self.desktop.focus(window)
        time.sleep(0.3)
        self.desktop.hold_key("2")
        self.assertEqual(launcher.wait(2.0), 0)
        self.assertEqual(launcher.stderr(), "")

    def test_children_are_found_beside_the_launcher_and_run_in_its_current_directory(self):
        home = self.desktop.folder("home")
        binary = self.desktop.install_launcher(home)
        for name in ("vsid.exe", "x64.exe"):
            self.desktop.install_standin(name, home)
        elsewhere = self.desktop.folder("elsewhere")
        launcher = self.desktop.start_launcher(binary=binary, cwd=elsewhere)
        window = self.desktop.find_window(launcher=launcher)
        self.desktop.focus(window)
        time.sleep(0.3)
        self.desktop.hold_key("2")
        self.assertEqual(launcher.wait(2.0), 0, launcher.stderr())
        for name in ("vsid.exe", "x64.exe"):
            path = os.path.join(elsewhere, name + ".record")
            wait_for(lambda: os.path.exists(path), 3.0, path)
            self.assertEqual(read_record(path)["cwd"], elsewhere, name)


if __name__ == "__main__":
    unittest.main()
