"""No stray processes: many launches in a row with stand-in children, ended in
turn by key 1, key 2, Escape, a close request and SIGKILL. Afterwards no tune
player runs, every emulator stand-in that was started is accounted for (one
per launch ended by 1 or 2, each still running, since the emulator outlives
the launcher; the test then kills it), and no zombie of any of them is left.

The number of launches is QUORBEL_STRAYS_LAUNCHES (default 100, which takes
about 30 s in the plain build and 50 s with the sanitizers). All launches
share one X server and one folder holding the launcher and the stand-ins;
each runs in a working folder of its own, where its children leave their
records."""

import os
import signal
import sys
import time
import unittest

import processes
from harness import DesktopTest, read_record

PLAYER_ARGS = ["vsid.exe", "-soundvolume", "60", "117.sid"]
EMULATOR_ARGS = {
    "1": ["x64.exe", "-cartcrt", "joltrak16k.crt", "-fullscreen", "-cartreset"],
    "2": ["x64.exe", "-cartcrt", "joltrak16k.crt", "-cartreset"],
}
ENDINGS = ("1", "2", "escape", "close", "kill")


class StrayProcesses(DesktopTest):
    WINDOW_MANAGER = False

    def test_launches_leave_no_strays(self):
        count = int(os.environ.get("QUORBEL_STRAYS_LAUNCHES", "100"))
        processes.become_subreaper()
        d = self.desktop
        home = d.folder("bin")
        launcher_path = d.install_launcher(home)
        for name in processes.STANDIN_NAMES:
            d.install_standin(name, home)
        # The emulator stand-ins must still run when the last launch is over.
        env = {"QUORBEL_STANDIN_SECONDS": "900"}

        players, emulators, launcher_pids = [], [], []
        began = time.monotonic()
        for i in range(count):
            ending = ENDINGS[i % len(ENDINGS)]
            with self.subTest(launch=i, ending=ending):
                cwd = d.folder(f"run{i:03}")
                launcher = d.start_launcher(binary=launcher_path, cwd=cwd, env=env)
                launcher_pids.append(launcher.pid)
                window = d.find_window(launcher=launcher)
                player_path = os.path.join(cwd, "vsid.exe.record")
                self.assertTrue(processes.wait_until(lambda: os.path.exists(player_path), 5),
                                "the tune player did not start")
                player = read_record(player_path)
                self.assertEqual(player["arg"], PLAYER_ARGS)
                players.append(int(player["pid"]))

                code = self.end(d, launcher, window, ending)
                self.assertEqual(code, -signal.SIGKILL if ending == "kill" else 0,
                                 launcher.stderr())
                self.assertTrue(processes.wait_until(lambda: not processes.alive(players[-1]), 2),
                                "the tune player outlived the launch")
                emulator_path = os.path.join(cwd, "x64.exe.record")
                if ending in EMULATOR_ARGS:
                    self.assertTrue(processes.wait_until(lambda: os.path.exists(emulator_path), 5),
                                    "the emulator did not start")
                    emulator = read_record(emulator_path)
                    self.assertEqual(emulator["arg"], EMULATOR_ARGS[ending])
                    emulators.append(int(emulator["pid"]))
                else:
                    self.assertFalse(os.path.exists(emulator_path), "an emulator was started")
        seconds = time.monotonic() - began

        # Nothing but the emulators runs; each of them is one that a launch started.
        time.sleep(0.3)
        living = processes.living_programs(d.workdir)
        self.assertEqual(sorted(p for p, name in living.items() if name == "vsid.exe"), [])
        self.assertEqual(sorted(living), sorted(emulators))
        self.assertEqual(set(living.values()) - {"x64.exe"}, set())
        for pid in emulators:
            self.assertTrue(processes.kill_and_reap(pid), f"emulator {pid} would not go")
        reaped = processes.reap_orphans()
        for pid in players + emulators + launcher_pids:
            self.assertIsNone(processes.stat(pid), f"pid {pid} is still in the process table")
        self.assertEqual(processes.zombies({os.getpid()}), [])
        sys.stderr.write(f"\n[e2e] {count} launches in {seconds:.1f} s: {len(players)} tune players "
                         f"started and gone, {len(emulators)} emulators started, accounted for "
                         f"and killed, {len(reaped)} zombies handed to the test and reaped\n")

    def end(self, d, launcher, window, ending):
        if ending == "kill":
            time.sleep(0.2)
            os.kill(launcher.pid, signal.SIGKILL)
            return launcher.wait(3.0)
        if ending == "close":
            time.sleep(0.2)
            d.close_request(window)
            return launcher.wait(3.0)
        d.focus(window)
        time.sleep(0.1)
        if ending == "escape":
            d.key_down("Escape")
            try:
                return launcher.wait(3.0)
            finally:
                d.key_up("Escape")
        d.hold_key(ending)
        return launcher.wait(3.0)


if __name__ == "__main__":
    unittest.main()
