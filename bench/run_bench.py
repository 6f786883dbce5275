#!/usr/bin/python3
"""Benchmarks of Quorbel: the in-process micro-benchmarks, and the real
quorbel binary on private Xvfb servers, each whole-program figure next to a
floor measured in the same run.

    /usr/bin/python3 bench/run_bench.py --build build-bench [--out bench/RESULTS.md]

The X servers, the window manager, the play folders, starting and killing
programs and pressing keys all come from the end-to-end harness
(tests/e2e/harness.py). The instruments are built with the benchmarks:
quorbel_xwatch (the X side: exec to complete picture, band samples, key
release times), quorbel_floor (the floor programs), quorbel_stamp (a stand-in
emulator that notes when it started) and quorbel_ticker_strip (the scroll
text as the ticker draws it). All times are CLOCK_MONOTONIC, which is also
Python's time.monotonic_ns() and, as checked at run time, the X server's
clock.

Nothing here changes the launcher or asks it for anything: every figure is
read from outside, through /proc, the X server and the stand-ins.
"""

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402

TITLE = harness.TITLE
FLOOR_TITLE = "Quorbel floor"
BAND_Y, BAND_ROWS = 460, 20   # the ticker's band in the client area
TITLE_ROWS = 460              # rows above the band: the title alone
TITLE_STARTS = 20             # starts per time-to-title figure, each program
KEY_STARTS = 15               # starts per key-to-emulator figure, each program
IDLE_SECONDS = 10
SETTLE_SECONDS = 1.0          # after the window is found, before measuring
STEP_BOUND = 1000 / 6         # at most one step per 6 ms


# ---- small helpers -----------------------------------------------------------

def fail(text):
    raise harness.HarnessError(text)


def key_values(text):
    return dict(line.split("=", 1) for line in text.split("\n") if "=" in line)


def stats(values):
    return statistics.median(values), min(values), max(values)


def write_ppm(path, width, height, rgb):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height))
        f.write(rgb)


def read_ppm(path):
    return harness.Picture.from_ppm(path)


def task_runtime_ns(pid):
    """CPU time of all of a process's threads so far, ns (schedstat)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass  # a thread that ended between the listing and the read
    return total


def status_kib(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    fail(f"no {field} in /proc/{pid}/status")


# ---- the machine ---------------------------------------------------------------

def machine():
    model, cores = "unknown", os.cpu_count()
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    xvfb = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "xvfb"], capture_output=True, text=True)
    xvfb_version = xvfb.stdout.strip() or "unknown"
    sdl = subprocess.run(["pkg-config", "--modversion", "sdl2"], capture_output=True, text=True)
    sdl_version = sdl.stdout.strip() or "unknown"
    return {
        "cpu": model, "cores": cores, "memory": f"{mem_kib / 1024 / 1024:.1f} GiB",
        "kernel": platform.release(), "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "load": load, "xvfb": xvfb_version, "sdl": sdl_version,
    }


# ---- micro-benchmarks ------------------------------------------------------------

def micro(build):
    """name -> (median, min, max of CPU time per call, ns; median real time, ns)."""
    done = subprocess.run(
        [os.path.join(build, "bench", "quorbel_micro"), "--benchmark_format=json",
         "--benchmark_repetitions=5", "--benchmark_min_time=0.1"],
        capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        fail(f"quorbel_micro failed: {done.stderr}")
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
    cpu, real, order = {}, {}, []
    for run in json.loads(done.stdout)["benchmarks"]:
        if run.get("run_type") != "iteration":
            continue
        if run.get("error_occurred"):
            fail(f"{run['run_name']}: {run.get('error_message')}")
        name = run["run_name"]
        if name not in cpu:
            order.append(name)
            cpu[name], real[name] = [], []
        cpu[name].append(run["cpu_time"] * scale[run["time_unit"]])
        real[name].append(run["real_time"] * scale[run["time_unit"]])
    return [(name, *stats(cpu[name]), statistics.median(real[name])) for name in order]


# ---- whole program ---------------------------------------------------------------

class Programs:
    """The launcher and the instruments of one build."""

    def __init__(self, build):
        self.launcher = os.path.join(build, "launcher", "quorbel")
        b = os.path.join(build, "bench")
        self.xwatch = os.path.join(b, "quorbel_xwatch")
        self.floor = os.path.join(b, "quorbel_floor")
        self.stamp = os.path.join(b, "quorbel_stamp")
        self.strip = os.path.join(b, "quorbel_ticker_strip")
        xprobe = os.path.join(build, "tests", "e2e", "xprobe")
        if not os.path.exists(xprobe):
            xprobe = os.path.join(b, "xprobe")
        for path in (self.launcher, self.xwatch, self.floor, self.stamp, self.strip, xprobe):
            if not os.path.exists(path):
                fail(f"{path} is not built")
        # What the harness reads.
        os.environ["QUORBEL_BIN"] = self.launcher
        os.environ["QUORBEL_XPROBE"] = xprobe
        os.environ["QUORBEL_STANDIN"] = os.path.join(build, "tests", "standins", "quorbel_standin")


class Play:
    """One Desktop with the launcher, the floor and the stand-ins in its play
    folder: vsid.exe is the harness's stand-in (it runs until killed, as a
    tune player does), x64.exe the stamp stand-in."""

    def __init__(self, programs, window_manager):
        self.p = programs
        self.desktop = harness.Desktop(window_manager=window_manager).start()
        d = self.desktop
        d.install_standin("vsid.exe")
        self.emulator = os.path.join(d.play, "x64.exe")
        shutil.copy(programs.stamp, self.emulator)
        self.stamp_path = os.path.join(d.play, "x64.exe.stamp")
        self.launcher = d.install_launcher()
        self.floor = os.path.join(d.play, "floor")
        shutil.copy(programs.floor, self.floor)
        self.refs = {}

    def stop(self):
        self.desktop.stop()

    def start(self, which, floor_mode="picture"):
        """(process, window) of the launcher or the floor, window found."""
        d = self.desktop
        if which == "launcher":
            proc = d.start_launcher(self.launcher)
            window = d.find_window(TITLE, launcher=proc)
        else:
            proc = d.start_launcher(self.floor, env={"QUORBEL_FLOOR": floor_mode})
            window = d.find_window(FLOOR_TITLE, launcher=proc)
        return proc, window

    def reference(self, which):
        """The settled picture's rows above the band, as a PPM file: what a
        complete start shows. Its run also warms the caches."""
        if which in self.refs:
            return self.refs[which]
        proc, window = self.start(which)
        time.sleep(SETTLE_SECONDS)
        picture = self.desktop.capture(window)
        proc.kill()
        if picture.width != 640 or picture.height < TITLE_ROWS:
            fail(f"{which}: the client area is {picture.width} x {picture.height}")
        path = os.path.join(self.desktop.workdir, f"{which}-reference.ppm")
        write_ppm(path, picture.width, TITLE_ROWS, picture.rgb[:picture.width * TITLE_ROWS * 3])
        self.refs[which] = path
        if which == "launcher":
            # The title must be there: plain black or face grey would mean
            # the reference was taken too early.
            if len(picture.colours(0, 0, 640, TITLE_ROWS)) < 16:
                fail("the launcher's settled picture has almost no colours")
        return path

    def time_to_picture(self, which):
        """ms from exec to the complete picture, and to the window's title."""
        ref = self.reference(which)
        argv = [self.launcher] if which == "launcher" else [self.floor, "picture"]
        title = TITLE if which == "launcher" else FLOOR_TITLE
        done = subprocess.run([self.p.xwatch, "title", title, ref, str(TITLE_ROWS), "5000", *argv],
                              cwd=self.desktop.play, env=self.desktop.env(), capture_output=True,
                              text=True, timeout=30)
        if done.returncode != 0:
            fail(f"xwatch title {which}: {done.stderr.strip()}")
        v = {k: int(x) for k, x in key_values(done.stdout).items()}
        time.sleep(0.2)  # the window manager forgets the window
        return (v["title_ns"] - v["exec_ns"]) / 1e6, (v["window_ns"] - v["exec_ns"]) / 1e6

    def idle(self, which, floor_mode="idle"):
        """Runs the program on its title (or bare window) for IDLE_SECONDS.
        Returns per-second CPU % (schedstat), the total % over the whole time
        (utime + stime), the X server's % over the same time, VmHWM in KiB and,
        for the launcher, the band samples' file."""
        d = self.desktop
        proc, window = self.start(which, floor_mode=floor_mode)
        time.sleep(SETTLE_SECONDS)
        xserver = d._xvfb.pid
        band_file = None
        sampler = None  # the band sampler, for the ticker's rate
        if which == "launcher":
            band_file = os.path.join(d.workdir, "band.samples")
            sampler = subprocess.Popen(
                [self.p.xwatch, "band", str(window), str(BAND_Y), str(BAND_ROWS),
                 str(IDLE_SECONDS + 1), "1000", band_file],
                env=d.env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        tick = os.sysconf("SC_CLK_TCK")
        start = time.monotonic()
        first_ticks, first_x = harness.cpu_ticks(proc.pid), harness.cpu_ticks(xserver)
        runtimes = [(time.monotonic_ns(), task_runtime_ns(proc.pid))]
        for second in range(1, IDLE_SECONDS + 1):
            time.sleep(max(0.0, start + second - time.monotonic()))
            runtimes.append((time.monotonic_ns(), task_runtime_ns(proc.pid)))
        last_ticks, last_x = harness.cpu_ticks(proc.pid), harness.cpu_ticks(xserver)
        elapsed = time.monotonic() - start
        hwm = status_kib(proc.pid, "VmHWM")
        if sampler:
            out, err = sampler.communicate(timeout=30)
            if sampler.returncode != 0:
                fail(f"xwatch band: {err.strip()}")
        if not proc.running():
            fail(f"{which} ended during the idle run")
        proc.kill()
        per_second = [100 * (b[1] - a[1]) / (b[0] - a[0]) for a, b in zip(runtimes, runtimes[1:])]
        total = 100 * (last_ticks - first_ticks) / tick / elapsed
        xtotal = 100 * (last_x - first_x) / tick / elapsed
        return per_second, total, xtotal, hwm, band_file

    def key_to_emulator(self, which):
        """ms from the release of 2 to the emulator stand-in's start, with the
        release's time taken from the X event (and from just before xdotool
        keyup, as a check), and VmHWM on the title just before, KiB."""
        d = self.desktop
        if os.path.exists(self.stamp_path):
            os.remove(self.stamp_path)
        floor_mode = f"key {self.emulator}"
        proc, window = self.start(which, floor_mode=floor_mode)
        d.focus(window)
        time.sleep(0.5)
        hwm = status_kib(proc.pid, "VmHWM")
        listener = subprocess.Popen([self.p.xwatch, "keyup", str(window), "5000"], env=d.env(),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        lines = []
        while True:
            line = listener.stdout.readline()
            if not line:
                fail(f"xwatch keyup: {listener.stderr.read().strip()}")
            if line.strip() == "ready":
                break
            lines.append(line)
        d.key_down("2")
        time.sleep(0.1)
        before_keyup = time.monotonic_ns()
        d.key_up("2")
        out, err = listener.communicate(timeout=10)
        if listener.returncode != 0:
            fail(f"xwatch keyup: {err.strip()}")
        v = key_values("".join(lines) + out)
        code = proc.wait(5)
        if code != 0:
            fail(f"{which} ended with {code} after 2: {proc.stderr().strip()}")
        deadline = time.monotonic() + 3
        while not os.path.exists(self.stamp_path):
            if time.monotonic() > deadline:
                fail(f"{which}: the emulator stand-in never started")
            time.sleep(0.01)
        with open(self.stamp_path) as f:
            started = int(f.read())
        # The server's clock must be CLOCK_MONOTONIC in ms for the event time
        # to count; the probe's change lies between the two readings.
        server = int(v["probe_server_ms"])
        clock_ok = int(v["probe_before_ns"]) // 1_000_000 <= server <= int(v["probe_after_ns"]) // 1_000_000
        if not clock_ok:
            fail("the X server's clock is not CLOCK_MONOTONIC; event times cannot be compared")
        from_event = (started - int(v["key_time_ms"]) * 1_000_000) / 1e6
        from_keyup = (started - before_keyup) / 1e6
        if from_keyup <= 0:
            fail(f"{which}: the emulator stand-in started before the key was released")
        return from_event, from_keyup, hwm


def locate(samples_path, strip_path, width):
    """scrollX-like positions of the text in each band sample: (ns, x) for
    the samples whose even rows (which the overlay never darkens) show a
    part of the text that is found exactly once in the reference line."""
    line = read_ppm(strip_path)
    if line.width != width:
        fail("the reference line's width disagrees with quorbel_ticker_strip's")

    def columns(picture_rows, w, rows):
        # Each column as the green channel of its even rows: R = G = coverage.
        out = bytearray()
        for x in range(w):
            for y in range(0, rows, 2):
                out.append(picture_rows[(y * w + x) * 3 + 1])
        return bytes(out)

    per = (BAND_ROWS + 1) // 2
    black = bytes(per * 640)
    reference = black + columns(line.rgb, line.width, BAND_ROWS) + black
    found = []
    with open(samples_path, "rb") as f:
        data = f.read()
    at, size = 0, 640 * BAND_ROWS * 3
    while at < len(data):
        end = data.index(b"\n", at)
        ns = int(data[at:end].split()[1])
        rgb = data[end + 1:end + 1 + size]
        at = end + 1 + size
        band = columns(rgb, 640, BAND_ROWS)
        if band == bytes(len(band)):
            continue  # all black: between two passes of the text
        hits = []
        start = 0
        while len(hits) < 2:
            i = reference.find(band, start)
            if i < 0:
                break
            if i % per == 0:
                hits.append(i // per)
            start = i + 1
        if len(hits) == 1:
            found.append((ns, 640 - hits[0]))  # where the text's cell begins
    return found


def ticker_rates(positions, cycle):
    """steps/s between consecutive located samples, and over all of them."""
    rates = []
    steps_total, ns_total = 0, 0
    for (t0, x0), (t1, x1) in zip(positions, positions[1:]):
        steps = (x0 - x1) % cycle
        rates.append(steps / ((t1 - t0) / 1e9))
        steps_total += steps
        ns_total += t1 - t0
    return rates, (steps_total / (ns_total / 1e9) if ns_total else 0.0)


# ---- the run ------------------------------------------------------------------

def fmt(value, unit):
    return f"{value:.1f} {unit}" if unit != "steps/s" else f"{value:.1f}"


def run(build):
    programs = Programs(build)
    out = {"machine": machine(), "rows": [], "micro": [], "notes": []}
    rows, notes = out["rows"], out["notes"]

    print("micro-benchmarks ...", flush=True)
    out["micro"] = micro(build)

    strip_path = os.path.join(build, "bench", "ticker-line.ppm")
    done = subprocess.run([programs.strip, strip_path], capture_output=True, text=True, check=True)
    text_width = int(key_values(done.stdout)["width"])
    cycle = text_width + 641  # positions 640 .. -W

    for wm in (False, True):
        where = "openbox" if wm else "no window manager"
        print(f"whole program, {where} ...", flush=True)
        play = Play(programs, wm)
        try:
            title, window, floor_title, floor_window = [], [], [], []
            for _ in range(TITLE_STARTS):
                t, w = play.time_to_picture("launcher")
                title.append(t)
                window.append(w)
                t, w = play.time_to_picture("floor")
                floor_title.append(t)
                floor_window.append(w)
            med, lo, hi = stats(title)
            floor = statistics.median(floor_title)
            rows.append({"figure": f"time to title, exec to complete title ({where})", "unit": "ms",
                         "median": med, "min": lo, "max": hi, "floor": floor,
                         "target": "≤ 1.5 × floor and ≤ 60 ms", "met": med <= 1.5 * floor and med <= 60})
            rows.append({"figure": f"time to window, exec to titled window ({where})", "unit": "ms",
                         **dict(zip(("median", "min", "max"), stats(window))),
                         "floor": statistics.median(floor_window), "target": "—", "met": None})

            keys, keys_xdotool, hwms = [], [], []
            floor_keys, floor_keys_xdotool, floor_hwms = [], [], []
            for _ in range(KEY_STARTS):
                e, k, h = play.key_to_emulator("launcher")
                keys.append(e)
                keys_xdotool.append(k)
                hwms.append(h)
                e, k, h = play.key_to_emulator("floor")
                floor_keys.append(e)
                floor_keys_xdotool.append(k)
                floor_hwms.append(h)
            med, lo, hi = stats(keys)
            rows.append({"figure": f"key to emulator, X release event to stand-in start ({where})",
                         "unit": "ms", "median": med, "min": lo, "max": hi,
                         "floor": statistics.median(floor_keys), "target": "≤ 5 ms", "met": med <= 5})
            rows.append({"figure": f"key to emulator, before `xdotool keyup` to stand-in start ({where})",
                         "unit": "ms", **dict(zip(("median", "min", "max"), stats(keys_xdotool))),
                         "floor": statistics.median(floor_keys_xdotool), "target": "—", "met": None})
            mb = [h * 1024 / 1e6 for h in hwms]
            med, lo, hi = stats(mb)
            rows.append({"figure": f"peak memory on the title, VmHWM ({where})", "unit": "MB",
                         "median": med, "min": lo, "max": hi,
                         "floor": statistics.median(h * 1024 / 1e6 for h in floor_hwms),
                         "target": "≤ 30 MB", "met": med <= 30})

            if not wm:
                per_second, total, xtotal, hwm, band_file = play.idle("launcher")
                f_per_second, f_total, f_xtotal, f_hwm, _ = play.idle("floor")
                med, lo, hi = stats(per_second)
                f_med = statistics.median(f_per_second)
                rows.append({"figure": "idle CPU on the title, per second (schedstat)", "unit": "%",
                             "median": med, "min": lo, "max": hi, "floor": f_med,
                             "target": "≤ 2 × floor and ≤ 5 %", "met": med <= 2 * f_med and med <= 5})
                rows.append({"figure": f"idle CPU on the title, utime + stime over {IDLE_SECONDS} s",
                             "unit": "%", "median": total, "min": total, "max": total,
                             "floor": f_total, "target": "≤ 2 × floor and ≤ 5 %",
                             "met": total <= 2 * f_total and total <= 5})
                b_per_second, b_total, b_xtotal, _, _ = play.idle("floor", floor_mode="band")
                rows.append({"figure": "idle CPU of a floor that also shows the band after every empty wait",
                             "unit": "%", **dict(zip(("median", "min", "max"), stats(b_per_second))),
                             "floor": f_med, "target": "—", "met": None})
                rows.append({"figure": f"X server CPU meanwhile, utime + stime over {IDLE_SECONDS} s",
                             "unit": "%", "median": xtotal, "min": xtotal, "max": xtotal,
                             "floor": f_xtotal, "target": "—", "met": None})
                notes.append(f"X server CPU while the band floor ran: {b_xtotal:.1f} % of a core.")
                positions = locate(band_file, strip_path, text_width)
                rates, overall = ticker_rates(positions, cycle)
                if len(rates) < IDLE_SECONDS // 2:
                    fail(f"only {len(positions)} band samples showed the text where expected")
                med, lo, hi = stats(rates)
                rows.append({"figure": "ticker rate, steps per second (band read from the X server)",
                             "unit": "steps/s", "median": med, "min": lo, "max": hi,
                             "floor": STEP_BOUND, "floor_text": "166.7 (bound)",
                             "target": "≥ 150 steps/s", "met": med >= 150})
                notes.append(f"Ticker: {len(positions)} of {IDLE_SECONDS + 1} band samples located, "
                             f"{overall:.1f} steps/s over all of them; the text is {text_width} px wide, "
                             f"a cycle {cycle} steps.")
                notes.append(f"VmHWM after the {IDLE_SECONDS} s idle run: launcher {hwm * 1024 / 1e6:.1f} MB, "
                             f"floor {f_hwm * 1024 / 1e6:.1f} MB.")
        finally:
            play.stop()
    with open("/proc/loadavg") as f:
        out["machine"]["load_end"] = " ".join(f.read().split()[:3])
    return out


def table(out):
    m = out["machine"]
    lines = [
        "# Benchmarks",
        "",
        "Written by `make bench` (bench/run_bench.py): a Release build in `build-bench/`,",
        "the real `quorbel` binary on private Xvfb servers, and the in-process",
        "micro-benchmarks. Each whole-program figure has its floor, measured in the",
        "same run: a minimal SDL program (bench/floor.cpp) with the launcher's settings.",
        "",
        f"Machine: {m['cpu']}, {m['cores']} cores, {m['memory']} memory, Linux {m['kernel']},",
        f"Xvfb {m['xvfb']}, SDL {m['sdl']}; {m['date']}; load average {m['load']} at the start,",
        f"{m['load_end']} at the end (the machine is shared: above 1 means other work ran alongside).",
        "",
        "| figure | median | min | max | target | floor | met |",
        "|---|---|---|---|---|---|---|",
    ]
    for r in out["rows"]:
        unit = r["unit"]
        floor = r.get("floor_text") or fmt(r["floor"], unit)
        met = "—" if r["met"] is None else ("yes" if r["met"] else "**no**")
        lines.append(f"| {r['figure']} | {fmt(r['median'], unit)} | {fmt(r['min'], unit)} | "
                     f"{fmt(r['max'], unit)} | {r['target']} | {floor} | {met} |")
    lines += ["", "Units: ms, MB (10⁶ bytes), % of one core, steps per second.", ""]
    lines += [f"- {n}" for n in out["notes"]]
    lines += [
        "- Time to title: exec (read in the child just before execvp) to the DAMAGE event after",
        f"  which the window's rows 0 to 459 equal the settled title exactly; {TITLE_STARTS} starts, the",
        "  launcher and the floor alternating. Floor: a window showing one computed picture.",
        "- Key to emulator: the X server's time of the key release event (ms, the server's",
        "  clock checked to be CLOCK_MONOTONIC) to the stand-in emulator's first clock reading",
        f"  (a static program), {KEY_STARTS} starts each; the event time is whole ms, so this reads",
        "  up to 1 ms high. Peak memory: VmHWM on the title just before each of these keys.",
        "  Floor: an SDL program that starts the stand-in on the release of 2.",
        "- Idle CPU: the title shown, ticker running, per-second CPU of all the process's",
        "  threads from /proc/<pid>/task/*/schedstat; floor: an SDL window looping on",
        "  SDL_WaitEventTimeout(&e, 1). The band floor also calls SDL_UpdateWindowSurfaceRects",
        "  on the bottom 640 x 20 rows after every empty wait: the least that a pass which shows",
        "  the band costs through SDL (XShmPutImage and a round trip to the server).",
        "",
        "## Micro-benchmarks (in-process, memory window system)",
        "",
        "CPU time per call over 5 repetitions; real time can be higher when the machine is busy.",
        "",
        "| benchmark | median | min | max | real (median) |",
        "|---|---|---|---|---|",
    ]

    def us(ns):
        return f"{ns / 1e3:.2f} µs" if ns >= 100 else f"{ns:.1f} ns"

    for name, med, lo, hi, real in out["micro"]:
        lines.append(f"| {name} | {us(med)} | {us(lo)} | {us(hi)} | {us(real)} |")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="the CMake build folder")
    parser.add_argument("--out", help="where to write the Markdown results")
    parser.add_argument("--quick", action="store_true",
                        help="3 starts per figure and 4 s idle runs, to try the driver out")
    args = parser.parse_args()
    if args.quick:
        global TITLE_STARTS, KEY_STARTS, IDLE_SECONDS
        TITLE_STARTS, KEY_STARTS, IDLE_SECONDS = 3, 3, 4
    out = run(os.path.abspath(args.build))
    text = table(out)
    print(text)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
