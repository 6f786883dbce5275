"""Process accounting for the end-to-end tests that look for strays: which
stand-in children a launcher left behind, alive or as zombies, and starting
the launcher in conditions the harness does not make (closed standard
streams, a deleted working directory).

The test process makes itself a child subreaper, so that every process a
launcher leaves behind when it ends (the emulator, which outlives it on
purpose; a killed tune player that nobody reaped) becomes the test's child
instead of init's: the test sees it, accounts for it and reaps it. Only
processes named like the stand-ins are ever reaped here; the launcher itself
stays with its Popen object, which must see its real exit status.

Standard library only; runs under /usr/bin/python3.
"""

import ctypes
import os
import signal
import subprocess
import time

import harness

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36

STANDIN_NAMES = ("vsid.exe", "x64.exe")


def become_subreaper():
    if _libc.prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise harness.HarnessError(f"PR_SET_CHILD_SUBREAPER failed: errno {ctypes.get_errno()}")


def stat(pid):
    """(state, ppid, comm) of a process, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            text = f.read()
    except OSError:
        return None
    comm = text[text.index("(") + 1: text.rindex(")")]
    fields = text.rsplit(")", 1)[1].split()
    return fields[0], int(fields[1]), comm


def all_pids():
    return [int(e) for e in os.listdir("/proc") if e.isdigit()]


def zombies(parents, names=STANDIN_NAMES):
    """Zombies named like a stand-in whose parent is one of `parents`."""
    found = []
    for pid in all_pids():
        s = stat(pid)
        if s and s[0] == "Z" and s[1] in parents and s[2] in names:
            found.append(pid)
    return found


def children_of(parent):
    """(pid, state, comm) of every process whose parent is `parent`."""
    found = []
    for pid in all_pids():
        s = stat(pid)
        if s and s[1] == parent:
            found.append((pid, s[0], s[2]))
    return found


def reap_orphans(keep=()):
    """Reaps the zombies that were handed to this process and are named like
    a stand-in or the launcher (a forked launcher child that failed before
    its exec still carries the launcher's name), except the pids in `keep`
    (launchers whose Popen object must still collect their exit status).
    Returns the reaped pids."""
    reaped = []
    for pid in zombies({os.getpid()}, STANDIN_NAMES + ("quorbel",)):
        if pid in keep:
            continue
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            continue
        if done == pid:
            reaped.append(pid)
    return reaped


def living_programs(folder):
    """pid -> program file name of every living (not zombie) process whose
    program file lies inside `folder`."""
    found = {}
    for pid in all_pids():
        try:
            exe = os.readlink(f"/proc/{pid}/exe")
        except OSError:
            continue  # gone, a zombie, or not ours to look at
        if exe.endswith(" (deleted)"):
            exe = exe[: -len(" (deleted)")]
        if exe.startswith(folder + os.sep):
            found[pid] = os.path.basename(exe)
    return found


def wait_until(condition, timeout, step=0.01):
    """True once condition() is true, False when timeout s passed first."""
    deadline = time.monotonic() + timeout
    while True:
        if condition():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(step)


def alive(pid):
    s = stat(pid)
    return s is not None and s[0] != "Z"


def kill_and_reap(pid):
    """Kills a process that was handed to this test (the emulator stand-in)
    and reaps it; True when it is gone from the process table afterwards."""
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    wait_until(lambda: not alive(pid), 3)
    try:
        os.waitpid(pid, 0)
    except ChildProcessError:
        pass  # not our child: its parent reaps it
    return wait_until(lambda: stat(pid) is None, 3)


def start_launcher(desktop, binary, cwd=None, env=None, close_streams=(), remove_cwd=None,
                   name="custom"):
    """Starts the launcher like Desktop.start_launcher, with two conditions the
    harness does not make: close_streams (standard descriptors to close
    before exec, e.g. (1, 2)) and remove_cwd (a folder to change into and
    remove before exec, so the launcher starts in a deleted directory).
    The caller must kill it (Launcher.kill) when done."""
    out_path = os.path.join(desktop.logs, f"{name}.stdout")
    err_path = os.path.join(desktop.logs, f"{name}.stderr")
    parent = os.getpid()

    def prepare():
        _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
        if os.getppid() != parent:
            os._exit(1)
        if remove_cwd:
            os.chdir(remove_cwd)
            os.rmdir(remove_cwd)
        for fd in close_streams:
            os.close(fd)

    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        proc = subprocess.Popen([binary], cwd=cwd, env=desktop.env(env),
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                start_new_session=True, preexec_fn=prepare)
    return harness.Launcher(proc, out_path, err_path)
