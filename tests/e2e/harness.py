"""End-to-end harness: the real quorbel binary on a private X server.

A Desktop is one test's whole world: its own Xvfb (display number chosen by
the server itself through -displayfd, so it is free by construction and the
developer's DISPLAY is never touched), optionally openbox, and a temporary
work folder holding the play folder (where the launcher runs and where the
stand-in child programs leave their records) and the logs.

Everything the Desktop starts is also bound to the test process: each child
gets PR_SET_PDEATHSIG(SIGKILL), so a test runner that kills the test leaves
no X server, window manager or launcher behind. stop() kills, in order, the
launchers, every process whose program file lies inside the work folder
(copies of the launcher and the stand-ins, including children that had no
time to write their record yet), every pid named in a record, openbox and
Xvfb, and removes the work folder (kept when QUORBEL_E2E_KEEP=1).

Standard library only; runs under /usr/bin/python3. Paths come from the
environment that CTest sets: QUORBEL_BIN (the launcher), QUORBEL_XPROBE (the
X helper), QUORBEL_STANDIN (the stand-in child program).
"""

import ctypes
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

TITLE = "Quorbel V0.5"
CLIENT_SIZE = (640, 480)
SCREEN_SIZE = (1024, 768)

# A key pressed and released inside one main-loop pass is never seen; the
# loop runs every few milliseconds, so this hold is far above one pass.
MIN_HOLD_MS = 80

# The keypad's keys by the keysym of their first level (the one Num Lock off
# gives). xdotool presses the key that carries a keysym and adds the modifier
# keys that the keysym's level asks for, counting only modifier keys held
# down: asking for KP_1 presses Num_Lock as well and so toggles Num Lock. The
# first-level keysym presses the key alone, whatever Num Lock says, and the
# key then types KP_1 or KP_End by the Num Lock state, as a real one does.
KEYPAD = {
    "0": "KP_Insert", "1": "KP_End", "2": "KP_Down", "3": "KP_Next", "4": "KP_Left",
    "5": "KP_Begin", "6": "KP_Right", "7": "KP_Home", "8": "KP_Up", "9": "KP_Prior",
    ".": "KP_Delete", "/": "KP_Divide", "*": "KP_Multiply", "-": "KP_Subtract",
    "+": "KP_Add", "enter": "KP_Enter",
}

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


class HarnessError(AssertionError):
    """A step of the harness itself failed (tool missing, X server gone...)."""


def required_path(variable):
    value = os.environ.get(variable)
    if not value or not os.path.exists(value):
        raise unittest.SkipTest(f"{variable} is not set to an existing file")
    return value


def _bind_to_parent(parent_pid):
    """Runs in the child before exec: die with the test process."""
    def bind():
        _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
        if os.getppid() != parent_pid:  # the parent died before prctl took hold
            os._exit(1)
    return bind


def _terminate_on_sigterm():
    # A runner that stops the test with SIGTERM: unwind through the cleanups.
    if signal.getsignal(signal.SIGTERM) is signal.SIG_DFL:
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def _alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        return state != "Z"
    except OSError:
        return False


def cpu_ticks(pid):
    """utime + stime of a process, in clock ticks (os.sysconf SC_CLK_TCK)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # fields[0] is the state (field 3 of the file): utime is field 14, stime 15.
    return int(fields[11]) + int(fields[12])


def unused_display():
    """A DISPLAY value naming a local display that has no server: neither its
    socket (file or abstract), nor its lock file exists. Numbers from 900 up
    lie far above those that Xvfb -displayfd hands out from 0 upwards."""
    try:
        with open("/proc/net/unix") as f:
            sockets = f.read()
    except OSError:
        sockets = ""
    for number in range(900, 1000):
        socket = f"/tmp/.X11-unix/X{number}"
        if (not os.path.exists(socket) and not os.path.exists(f"/tmp/.X{number}-lock")
                and f"@{socket}\n" not in sockets):
            return f":{number}"
    raise HarnessError("no unused display number between 900 and 999")


def read_record(path):
    """A stand-in's record: 'arg' and 'fd' as lists, other keys as text."""
    record = {"arg": [], "fd": []}
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    if "end" not in lines:
        raise HarnessError(f"record {path} is incomplete")
    for line in lines:
        if "=" not in line:
            continue
        key, value = line.split("=", 1)
        if key in ("arg", "fd"):
            record[key].append(value)
        else:
            record[key] = value
    return record


class Picture:
    """A captured client area: width, height and packed RGB rows."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    @classmethod
    def from_ppm(cls, path):
        with open(path, "rb") as f:
            data = f.read()
        # "P6", width, height, maxval, each after whitespace, then exactly
        # one whitespace byte before the pixels (which may begin with bytes
        # that look like whitespace themselves).
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        if not header or header.group(3) != b"255":
            raise HarnessError(f"{path} is not a binary 8-bit PPM")
        width, height = int(header.group(1)), int(header.group(2))
        rgb = data[header.end():]
        if len(rgb) != width * height * 3:
            raise HarnessError(f"{path}: {len(rgb)} bytes of pixels for {width}x{height}")
        return cls(width, height, rgb)

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.rgb[at:at + 3])

    def row(self, y):
        return self.rgb[y * self.width * 3:(y + 1) * self.width * 3]

    def colours(self, x0=0, y0=0, x1=None, y1=None):
        """The set of RGB triples inside [x0, x1) x [y0, y1)."""
        x1 = self.width if x1 is None else x1
        y1 = self.height if y1 is None else y1
        seen = set()
        for y in range(y0, y1):
            row = self.rgb[(y * self.width + x0) * 3:(y * self.width + x1) * 3]
            seen.update(zip(row[0::3], row[1::3], row[2::3]))
        return seen


class Launcher:
    """One started launcher process with its output files."""

    def __init__(self, proc, stdout_path, stderr_path):
        self.proc, self.pid = proc, proc.pid
        self.stdout_path, self.stderr_path = stdout_path, stderr_path

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout):
        """The exit code; HarnessError when it has not ended within timeout s."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"the launcher (pid {self.pid}) still runs after {timeout} s; "
                               f"stderr: {self.stderr()!r}") from None

    def stderr(self):
        with open(self.stderr_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stdout(self):
        with open(self.stdout_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def cpu_ticks(self):
        return cpu_ticks(self.pid)

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            pass


class Desktop:
    """A private X server (optionally with openbox) and a work folder."""

    def __init__(self, window_manager=False, screen="1024x768x24", x_server=True):
        """x_server=False: only the work folder and the launchers, and no
        DISPLAY in their environment (window_manager is then ignored)."""
        self.x_server = x_server
        self.window_manager = window_manager and x_server
        self.screen = screen
        self.display = None
        self.workdir = None
        self.play = None
        self.logs = None
        self._xvfb = None
        self._openbox = None
        self._launchers = []
        self._clients = []
        self._captures = 0
        self._log_files = []

    # ---- life -----------------------------------------------------------

    def start(self):
        _terminate_on_sigterm()
        tools = ()
        if self.x_server:
            self.xprobe_path = required_path("QUORBEL_XPROBE")
            tools = ("Xvfb", "xdotool") + (("openbox",) if self.window_manager else ())
        for tool in tools:
            if not shutil.which(tool):
                raise HarnessError(f"{tool} is not installed")
        self.workdir = tempfile.mkdtemp(prefix="quorbel-e2e-")
        self.play = os.path.join(self.workdir, "play")
        self.logs = os.path.join(self.workdir, "logs")
        os.mkdir(self.play)
        os.mkdir(self.logs)
        if self.x_server:
            self._start_xvfb()
        if self.window_manager:
            self._start_openbox()
        if self.x_server:
            self._warm_up_keyboard()
        return self

    def stop(self):
        """Kills everything this Desktop started; safe to call more than once."""
        for launcher in self._launchers:
            launcher.kill()
        for client in self._clients:
            if client.poll() is None:
                client.kill()
            client.wait(5)
        self._clients = []
        if self.workdir:
            self._kill_own_programs()
        for proc in (self._openbox, self._xvfb):
            if proc and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(3)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait(3)
        self._openbox = self._xvfb = None
        self.display = None
        for f in self._log_files:
            f.close()
        self._log_files = []
        if self.workdir and os.environ.get("QUORBEL_E2E_KEEP") != "1":
            shutil.rmtree(self.workdir, ignore_errors=True)
        elif self.workdir:
            sys.stderr.write(f"[e2e] kept {self.workdir}\n")
        self.workdir = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *_):
        self.stop()

    def _log(self, name):
        f = open(os.path.join(self.logs, name), "ab")
        self._log_files.append(f)
        return f

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        try:
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen,
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                stdout=self._log("xvfb.log"), stderr=subprocess.STDOUT,
                start_new_session=True, preexec_fn=_bind_to_parent(os.getpid()))
            os.close(write_end)
            write_end = -1
            number = b""
            deadline = time.monotonic() + 10
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise HarnessError("Xvfb did not report its display number within 10 s")
                chunk = os.read(read_end, 32)
                if not chunk:
                    raise HarnessError("Xvfb ended before reporting its display number")
                number += chunk
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        self.display = ":" + number.decode().strip()

    def _start_openbox(self):
        config = os.path.join(self.workdir, "config")  # no user rc.xml: the system defaults
        os.mkdir(config)
        env = self.env()
        env["XDG_CONFIG_HOME"] = config
        self._openbox = subprocess.Popen(
            ["openbox", "--sm-disable"], env=env, stdin=subprocess.DEVNULL,
            stdout=self._log("openbox.log"), stderr=subprocess.STDOUT,
            start_new_session=True, preexec_fn=_bind_to_parent(os.getpid()))
        self.xprobe("wm-check", "10000", timeout=15)

    def _warm_up_keyboard(self):
        # The first XTEST key event of a fresh server switches the core
        # keyboard over to the XTEST device, and every client gets a keymap
        # notification; openbox then grabs its key bindings anew and, while
        # it does, may miss a combination such as Alt+F4. One key pressed
        # before any test program runs takes that switch out of the tests.
        self.hold_key("shift")
        time.sleep(0.2)

    def _own_program(self, pid):
        try:
            exe = os.readlink(f"/proc/{pid}/exe")
        except OSError:
            return False
        if exe.endswith(" (deleted)"):
            exe = exe[: -len(" (deleted)")]
        return exe.startswith(self.workdir + os.sep)

    def _kill_own_programs(self):
        pids = set()
        for entry in os.listdir("/proc"):
            if entry.isdigit() and int(entry) != os.getpid() and self._own_program(entry):
                pids.add(int(entry))
        for folder, _, files in os.walk(self.workdir):
            for name in files:
                if not name.endswith(".record"):
                    continue
                try:
                    pid = int(read_record(os.path.join(folder, name)).get("pid", "0"))
                except (OSError, ValueError, HarnessError):
                    continue
                if pid > 0 and self._own_program(pid):  # never a recycled pid
                    pids.add(pid)
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 3
        while any(_alive(p) for p in pids) and time.monotonic() < deadline:
            time.sleep(0.01)

    # ---- environment and files -------------------------------------------

    def env(self, overrides=None):
        """The environment for programs on this display. overrides: name ->
        value, or None to remove the name."""
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("SDL_") and k not in ("WAYLAND_DISPLAY", "XAUTHORITY")}
        if self.display:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        # A stand-in that nobody stops ends by itself after this long.
        env["QUORBEL_STANDIN_SECONDS"] = "60"
        for key, value in (overrides or {}).items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def folder(self, name):
        """A new folder inside the work folder."""
        path = os.path.join(self.workdir, name)
        os.makedirs(path)
        return path

    def install_standin(self, name, folder=None):
        """Copies the stand-in program as `name` (vsid.exe, x64.exe) into the
        folder (default: the play folder)."""
        target = os.path.join(folder or self.play, name)
        shutil.copy(required_path("QUORBEL_STANDIN"), target)
        os.chmod(target, 0o755)
        return target

    def install_launcher(self, folder=None, name="quorbel"):
        """Copies (never links: the launcher finds its own folder through
        /proc/self/exe) the launcher binary into the folder."""
        target = os.path.join(folder or self.play, name)
        shutil.copy(required_path("QUORBEL_BIN"), target)
        os.chmod(target, 0o755)
        return target

    def records(self, folder=None):
        """name -> record of every stand-in record in the folder."""
        folder = folder or self.play
        return {name[: -len(".record")]: read_record(os.path.join(folder, name))
                for name in sorted(os.listdir(folder)) if name.endswith(".record")}

    # ---- the launcher -----------------------------------------------------

    def start_launcher(self, binary=None, cwd=None, env=None):
        """Starts the launcher (default: QUORBEL_BIN) in cwd (default: the play
        folder) with stdin from /dev/null and stdout/stderr into log files."""
        binary = binary or required_path("QUORBEL_BIN")
        index = len(self._launchers)
        out_path = os.path.join(self.logs, f"launcher{index}.stdout")
        err_path = os.path.join(self.logs, f"launcher{index}.stderr")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(
                [binary], cwd=cwd or self.play, env=self.env(env),
                stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                start_new_session=True, preexec_fn=_bind_to_parent(os.getpid()))
        launcher = Launcher(proc, out_path, err_path)
        self._launchers.append(launcher)
        return launcher

    def start_client(self, *argv):
        """Starts another X program on this display (xmessage as a window in
        the way, say); it is killed in stop()."""
        proc = subprocess.Popen(list(argv), env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=self._log("clients.log"), stderr=subprocess.STDOUT,
                                start_new_session=True, preexec_fn=_bind_to_parent(os.getpid()))
        self._clients.append(proc)
        return proc

    # ---- looking at windows -------------------------------------------------

    def xprobe(self, *args, timeout=10, check=True):
        """Runs the X helper on this display; its stdout, or HarnessError."""
        try:
            done = subprocess.run([self.xprobe_path, *map(str, args)], env=self.env(),
                                  capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"xprobe {' '.join(map(str, args))} hung") from None
        if check and done.returncode != 0:
            raise HarnessError(f"xprobe {' '.join(map(str, args))} failed "
                               f"({done.returncode}): {done.stderr.strip()}")
        return done.stdout

    def find_window(self, title=TITLE, timeout=10.0, launcher=None):
        """Id of the viewable top-level window with that title."""
        done = subprocess.run([self.xprobe_path, "find", title, str(int(timeout * 1000))],
                              env=self.env(), capture_output=True, text=True,
                              timeout=timeout + 10)
        if done.returncode != 0:
            detail = ""
            if launcher is not None:
                state = "running" if launcher.running() else f"exited {launcher.proc.poll()}"
                detail = f"; launcher {state}, stderr: {launcher.stderr()!r}"
            raise HarnessError(f"no window titled {title!r} within {timeout} s{detail}")
        return int(done.stdout.split()[0])

    def windows_titled(self, title=TITLE):
        """(id, map_state) of every top-level client with that title."""
        lines = self.xprobe("list", title).split("\n")
        return [(int(l.split()[0]), l.split()[1]) for l in lines if l.strip()]

    def geometry(self, window):
        """client_x/_y/_w/_h, border, outer_x/_y/_w/_h, frame, screen_w/_h as
        ints; net_extents as (left, right, top, bottom) or None; map_state."""
        result = {}
        for line in self.xprobe("geometry", window).split("\n"):
            if "=" not in line:
                continue
            key, value = line.split("=", 1)
            if key == "net_extents":
                result[key] = None if value == "none" else tuple(map(int, value.split()))
            elif key == "map_state":
                result[key] = value
            else:
                result[key] = int(value)
        return result

    def settled_geometry(self, window, quiet=0.5, timeout=5.0):
        """The geometry once it has stayed the same for `quiet` seconds (a
        window manager and the program may still move the window after it
        is first shown). HarnessError when it never settles."""
        deadline = time.monotonic() + timeout
        last = self.geometry(window)
        since = time.monotonic()
        while True:
            time.sleep(0.02)
            now = self.geometry(window)
            if now != last:
                last, since = now, time.monotonic()
            elif time.monotonic() - since >= quiet:
                return now
            if time.monotonic() > deadline:
                raise HarnessError(f"the geometry kept changing for {timeout} s: {now}")

    def title(self, window):
        out = {}
        for line in self.xprobe("title", window).split("\n"):
            if "=" in line:
                key, value = line.split("=", 1)
                out[key] = value
        return out

    def size_hints(self, window):
        """{'min': (w, h) or None, 'max': (w, h) or None} from WM_NORMAL_HINTS."""
        out = {}
        for line in self.xprobe("wmhints", window).split("\n"):
            if "=" in line:
                key, value = line.split("=", 1)
                out[key] = None if value == "none" else tuple(map(int, value.split("x")))
        return out

    def protocols(self, window):
        return [l for l in self.xprobe("protocols", window).split("\n") if l]

    def window_exists(self, window):
        return "exists=1" in self.xprobe("exists", window)

    def _picture_path(self):
        self._captures += 1
        return os.path.join(self.logs, f"capture{self._captures}.ppm")

    def capture(self, window):
        """The client area's pixels now."""
        path = self._picture_path()
        self.xprobe("capture", window, path)
        return Picture.from_ppm(path)

    def watch_first(self, window, timeout=5.0, background="000000"):
        """The first picture of the client area that is not plain `background`
        (polled as fast as X allows), with the helper's poll count and delay."""
        path = self._picture_path()
        out = self.xprobe("watch-first", window, path, int(timeout * 1000), background,
                          timeout=timeout + 10)
        stats = dict(line.split("=", 1) for line in out.split("\n") if "=" in line)
        return Picture.from_ppm(path), {k: int(v) for k, v in stats.items()}

    # ---- acting on windows ----------------------------------------------

    def close_request(self, window):
        """What a close box sends: WM_DELETE_WINDOW to the window itself."""
        self.xprobe("close", window)

    def focus(self, window):
        """Gives the window the keyboard focus: through the window manager's
        activation request when one runs, else directly."""
        if self.window_manager:
            self.xprobe("activate", window, 3000)
        else:
            self.xprobe("focus", window)

    def focused_window(self):
        return int(self.xprobe("getfocus").split()[0])

    def _xdotool(self, *args):
        done = subprocess.run(["xdotool", *args], env=self.env(), capture_output=True,
                              text=True, timeout=10)
        if done.returncode != 0:
            raise HarnessError(f"xdotool {' '.join(args)} failed: {done.stderr.strip()}")

    def key_down(self, keys):
        """keys: xdotool key names joined by '+' (keysyms such as KP_End, or
        combinations such as alt+F4), pressed in order through XTEST."""
        self._xdotool("keydown", keys)

    def key_up(self, keys):
        self._xdotool("keyup", keys)

    def hold_key(self, keys, ms=100):
        """Presses, holds for `ms` milliseconds (at least MIN_HOLD_MS), releases."""
        if ms < MIN_HOLD_MS:
            raise HarnessError(f"a hold of {ms} ms may fall inside one main-loop pass")
        self.key_down(keys)
        try:
            time.sleep(ms / 1000)
        finally:
            self.key_up(keys)

    def move_pointer(self, x, y):
        self._xdotool("mousemove", str(x), str(y))

    def numlock(self):
        return "numlock=on" in self.xprobe("modstate")

    def hold_keypad(self, key, ms=100):
        """Holds one keypad key (a KEYPAD name: "1", ".", "enter"...) without
        changing Num Lock; HarnessError if Num Lock changed all the same."""
        before = self.numlock()
        self.hold_key(KEYPAD[key], ms)
        if self.numlock() != before:
            raise HarnessError(f"holding keypad {key} toggled Num Lock")

    def set_numlock(self, on):
        """Toggles Num Lock with a real key press until it is as asked."""
        if self.numlock() != on:
            self.hold_key("Num_Lock")
            deadline = time.monotonic() + 2
            while self.numlock() != on:
                if time.monotonic() > deadline:
                    raise HarnessError("Num Lock did not change")
                time.sleep(0.01)


class DesktopTest(unittest.TestCase):
    """Base for end-to-end tests: self.desktop is started before each test
    and stopped after it, also when the test fails."""

    WINDOW_MANAGER = False

    def setUp(self):
        self.desktop = Desktop(window_manager=self.WINDOW_MANAGER)
        self.addCleanup(self.desktop.stop)
        self.desktop.start()

    def start_and_find(self, **kwargs):
        """Starts the launcher and waits for its window; (launcher, window)."""
        launcher = self.desktop.start_launcher(**kwargs)
        window = self.desktop.find_window(launcher=launcher)
        return launcher, window
