"""The real launcher in a hostile environment, one table row per condition:
no display, broken child programs, no PATH, a deleted working directory,
closed standard streams, an X server that dies under it, a flood of pointer
motion. Every row says how the launcher must end (exit code, message), and
afterwards every process it started must be accounted for: the tune player
gone, the emulator stand-in running only where it was started (the test then
kills it), and nothing of the row left in the process table, zombies
included. Each row runs on an X server of its own.

The outcome of every row (exit code, time to the end, what was started) is
printed to stderr as a table."""

import os
import signal
import subprocess
import sys
import time
import unittest
from collections import namedtuple

import harness
import processes
from harness import Desktop, read_record

NO_SCREEN_LINE = "Error: Can't open screen & sprite environment!\n"
EMULATOR_WINDOWED = ["x64.exe", "-cartcrt", "joltrak16k.crt", "-cartreset"]
PLAYER_ARGS = ["vsid.exe", "-soundvolume", "60", "117.sid"]
CRASH_SIGNS = ("AddressSanitizer", "LeakSanitizer", "runtime error:", "Segmentation fault")

# How a child program file can be broken.
def _missing(folder, name):
    pass


def _not_executable(folder, name):
    path = os.path.join(folder, name)
    harness_copy = harness.required_path("QUORBEL_STANDIN")
    with open(harness_copy, "rb") as src, open(path, "wb") as dst:
        dst.write(src.read())
    os.chmod(path, 0o644)


def _directory(folder, name):
    os.mkdir(os.path.join(folder, name))


def _dangling_link(folder, name):
    os.symlink(os.path.join(folder, "nowhere", name), os.path.join(folder, name))


def _bad_interpreter(folder, name):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write("#!/nonexistent/interpreter\nexit 0\n")
    os.chmod(path, 0o755)


BREAKAGES = {
    "missing": _missing,
    "not executable": _not_executable,
    "a directory": _directory,
    "a dangling link": _dangling_link,
    "a bad interpreter": _bad_interpreter,
}

# display: "x" (a private Xvfb), "unset" (no DISPLAY), "nothing" (a DISPLAY
# without a server). broken: (program, breakage) or None. env: overrides.
# streams: descriptors closed before exec. deleted_cwd: start in a removed
# folder, the launcher and the stand-ins in another. end: how the run ends:
# "start-up" (it ends by itself at once), "2", "escape", "kill-x", "flood".
# player/emulator: whether that stand-in must have started. message: what
# stderr must be exactly (None: not checked beyond crash reports).
Row = namedtuple("Row", "name display broken env streams deleted_cwd end player emulator message",
                 defaults=(None, None, (), False, "2", True, True, None))

ROWS = [
    Row("no DISPLAY", "unset", end="start-up", player=False, emulator=False,
        message=NO_SCREEN_LINE),
    Row("DISPLAY names no server", "nothing", end="start-up", player=False, emulator=False,
        message=NO_SCREEN_LINE),
    Row("no DISPLAY, stdout and stderr closed", "unset", streams=(1, 2), end="start-up",
        player=False, emulator=False, message=""),
] + [
    Row(f"vsid.exe {how}", "x", broken=("vsid.exe", how), player=False, emulator=True)
    for how in BREAKAGES
] + [
    Row(f"x64.exe {how}", "x", broken=("x64.exe", how), player=True, emulator=False)
    for how in BREAKAGES
] + [
    Row("PATH empty", "x", env={"PATH": ""}),
    Row("PATH unset", "x", env={"PATH": None}),
    Row("current directory deleted before start", "x", deleted_cwd=True),
    Row("stdout and stderr closed", "x", streams=(1, 2)),
    Row("stdin, stdout and stderr closed", "x", streams=(0, 1, 2)),
    Row("tune player ends at once by itself", "x", env={"QUORBEL_STANDIN_SECONDS": "0"}),
    Row("X server killed during the title", "x", end="kill-x", emulator=False),
    Row("2 s of pointer-motion flood, then Escape", "x", end="flood", emulator=False),
]


class HostileEnvironment(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        processes.become_subreaper()
        cls.outcomes = []

    @classmethod
    def tearDownClass(cls):
        width = max(len(r[0]) for r in cls.outcomes) if cls.outcomes else 10
        lines = [f"\n[e2e] hostile environment ({os.path.basename(os.environ.get('QUORBEL_BIN', ''))}):"]
        for name, code, seconds, note in cls.outcomes:
            lines.append(f"  {name:<{width}}  exit {code!s:>4}  after {seconds:5.2f} s  {note}")
        sys.stderr.write("\n".join(lines) + "\n")

    def test_rows(self):
        harness.required_path("QUORBEL_BIN")
        harness.required_path("QUORBEL_STANDIN")
        for row in ROWS:
            with self.subTest(row.name):
                self.run_row(row)

    # ---- one row -------------------------------------------------------------

    def run_row(self, row):
        desktop = Desktop(x_server=row.display == "x")
        self.addCleanup(desktop.stop)
        desktop.start()
        try:
            self.play_row(desktop, row)
        finally:
            desktop.stop()

    def play_row(self, d, row):
        env = dict(row.env or {})
        if row.display == "unset":
            env["DISPLAY"] = None
        elif row.display == "nothing":
            env["DISPLAY"] = harness.unused_display()

        # The launcher with its children beside it, as a user installs them.
        home = d.folder("bin") if row.deleted_cwd else d.play
        launcher_path = d.install_launcher(home)
        for name in processes.STANDIN_NAMES:
            if row.broken and row.broken[0] == name:
                BREAKAGES[row.broken[1]](home, name)
            else:
                d.install_standin(name, home)
        if row.deleted_cwd:
            # The stand-ins cannot write into a deleted folder: one record
            # file for both, the emulator's replacing the player's.
            records = d.folder("records")
            record_path = os.path.join(records, "child.record")
            env["QUORBEL_STANDIN_RECORD"] = record_path
            cwd, remove = None, d.folder("gone")
        else:
            cwd, remove = d.play, None

        launcher = processes.start_launcher(d, launcher_path, cwd=cwd, env=env,
                                            close_streams=row.streams, remove_cwd=remove,
                                            name="launcher")
        self.addCleanup(launcher.kill)

        def record_of(child):
            if row.deleted_cwd:
                if not os.path.exists(record_path):
                    return None
                r = read_record(record_path)
                return r if r["arg"] and r["arg"][0] == child else None
            path = os.path.join(d.play, child + ".record")
            return read_record(path) if os.path.exists(path) else None

        started = time.monotonic()
        note = []
        player = None
        if row.end == "start-up":
            code = launcher.wait(10.0)
        else:
            window = d.find_window(launcher=launcher)
            if row.player:
                self.assertTrue(processes.wait_until(lambda: record_of("vsid.exe"), 5),
                                "the tune player did not start")
                player = record_of("vsid.exe")
                self.assertEqual(player["arg"], PLAYER_ARGS)
            time.sleep(0.5)  # the title runs
            self.assertTrue(launcher.running(), launcher.stderr())
            if not row.player:
                self.assertIsNone(record_of("vsid.exe"), "a tune player was started")
                self.assertNotIn("vsid.exe", processes.living_programs(d.workdir).values())
            held = [c for c in processes.children_of(launcher.pid) if c[1] == "Z"]
            if held:
                note.append(f"holds {len(held)} zombie child(ren) during the title")
            if row.deleted_cwd and player:
                os.unlink(record_path)  # make room for the emulator's record
            code, started = self.end_run(d, row, launcher, window)

        seconds = time.monotonic() - started
        self.outcomes.append((row.name, code, seconds, "; ".join(note)))

        # What it started, and that nothing of it is left.
        row_pids = {launcher.pid}
        if player:
            row_pids.add(int(player["pid"]))
            self.assertTrue(processes.wait_until(lambda: not processes.alive(int(player["pid"])), 2),
                            "the tune player still runs after the launcher ended")
        emulator = None
        if row.emulator:
            self.assertTrue(processes.wait_until(lambda: record_of("x64.exe"), 5),
                            "the emulator did not start")
            emulator = record_of("x64.exe")
            self.assertEqual(emulator["arg"], EMULATOR_WINDOWED)
            if row.deleted_cwd:
                # It runs in the launcher's current folder, which is gone.
                self.assertEqual(emulator["cwd"], "?")
            for stream in ("stdin", "stdout", "stderr"):
                # Never one of the launcher's own descriptors (its X connection).
                self.assertIn(emulator[stream], ("closed", "/dev/null") + self.own_streams(d),
                              f"the emulator's {stream}")
            self.assertTrue(set(emulator["fd"]) <= {"0", "1", "2"}, emulator["fd"])
            pid = int(emulator["pid"])
            row_pids.add(pid)
            if row.env is None or "QUORBEL_STANDIN_SECONDS" not in row.env:
                self.assertTrue(processes.alive(pid), "the emulator did not outlive the launcher")
            processes.kill_and_reap(pid)
        else:
            time.sleep(0.2)
            self.assertIsNone(record_of("x64.exe"), "an emulator was started")
        self.assertEqual(processes.living_programs(d.workdir), {})
        reaped = processes.reap_orphans(keep={launcher.pid})
        if reaped:
            self.outcomes[-1] = self.outcomes[-1][:3] + (
                "; ".join(note + [f"{len(reaped)} zombie(s) handed to the test and reaped"]),)
        for pid in row_pids:
            self.assertTrue(processes.wait_until(lambda: processes.stat(pid) is None, 2),
                            f"pid {pid} is still in the process table: {processes.stat(pid)}")

        # How it ended.
        stderr = launcher.stderr()
        for sign in CRASH_SIGNS:
            self.assertNotIn(sign, stderr)
        self.assertEqual(code, 0, f"stderr: {stderr!r}")
        if row.message is not None:
            self.assertEqual(stderr, row.message)
        if row.end == "start-up":
            self.assertEqual(launcher.stdout(), "")

    def own_streams(self, d):
        # What the test itself gave the launcher: /dev/null for stdin and its
        # two log files.
        return tuple(os.path.join(d.logs, f"launcher.{n}") for n in ("stdout", "stderr"))

    def end_run(self, d, row, launcher, window):
        """Ends the run the row's way; (exit code, the moment the end began)."""
        if row.end == "2":
            d.focus(window)
            time.sleep(0.1)
            began = time.monotonic()
            d.hold_key("2")
            return launcher.wait(3.0), began
        if row.end == "kill-x":
            xvfb = [pid for pid, state, comm in processes.children_of(os.getpid())
                    if comm == "Xvfb" and state != "Z"]
            self.assertEqual(len(xvfb), 1, "cannot tell which X server is this row's")
            began = time.monotonic()
            os.kill(xvfb[0], signal.SIGKILL)
            return launcher.wait(5.0), began
        if row.end == "flood":
            moves = self.flood(d, 2.0)
            self.assertTrue(launcher.running(), launcher.stderr())
            self.assertTrue(d.window_exists(window))
            sys.stderr.write(f"\n[e2e] pointer flood: {moves} moves in 2 s\n")
        d.focus(window)
        time.sleep(0.1)
        began = time.monotonic()
        d.key_down("Escape")
        try:
            return launcher.wait(2.0), began
        finally:
            d.key_up("Escape")

    def flood(self, d, seconds):
        """Moves the pointer back and forth over the client area (which sits
        at (192, 144) without a window manager) for `seconds`; the count."""
        points = []
        for i in range(200):
            points += ["mousemove", str(200 + (i * 37) % 620), str(150 + (i * 53) % 460)]
        moves = 0
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            subprocess.run(["xdotool", *points], env=d.env(), check=True, timeout=10,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            moves += 200
        return moves


if __name__ == "__main__":
    unittest.main()
