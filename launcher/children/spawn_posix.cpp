// Process creation and forced termination on Linux: posix_spawn for a
// program that runs on by itself, fork + PR_SET_PDEATHSIG for one bound to
// the launcher's life, pidfds to hold kept processes.
#include "launcher/children/children.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <new>

extern char** environ;

namespace {

// Everything a start needs, prepared before any process is created: after a
// fork only async-signal-safe calls may run, so no allocation happens there.
struct Launch {
    std::string path;                // absolute path of the program file
    std::vector<std::string> args;   // argv as split from the command line
    std::vector<char*> argv;         // pointers into args, nullptr-terminated
    const char* workingDirectory;    // nullptr: stay in the launcher's current directory
    bool hidden;                     // streams on /dev/null
};

// A descriptor at 3 or above, close-on-exec, in place of fd; -1 on failure
// (fd is closed either way). A launcher started with a standard stream
// closed would otherwise get 0, 1 or 2 here, which the child overwrites.
int moveAbove2(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

void waitForChild(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Runs the program on its own: a new session (no controlling terminal, out
// of the launcher's process group, so neither the terminal's hang-up nor a
// kill of the launcher's group reaches it), default signal dispositions and
// an empty signal mask, descriptors beyond 0, 1, 2 closed. -1 when glibc
// reports that the child could not get as far as running the program; it
// reaps such a child itself.
pid_t spawnOnItsOwn(Launch& launch) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }

    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    bool ready =
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                  POSIX_SPAWN_SETSIGDEF) == 0 &&
        posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
        posix_spawnattr_setsigdefault(&attributes, &all) == 0;
    if (ready && launch.workingDirectory)
        ready = posix_spawn_file_actions_addchdir_np(&actions, launch.workingDirectory) == 0;
    if (ready && launch.hidden)
        ready = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDWR, 0) == 0 &&
                posix_spawn_file_actions_adddup2(&actions, 0, 1) == 0 &&
                posix_spawn_file_actions_adddup2(&actions, 0, 2) == 0;
    if (ready) ready = posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;

    pid_t pid = -1;
    if (ready && posix_spawn(&pid, launch.path.c_str(), &actions, &attributes,
                             launch.argv.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Closes every descriptor from 3 up except keep (which is 3 or above).
// Async-signal-safe. fallbackLimit bounds the loop for kernels without
// close_range.
void closeDescriptorsExcept(int keep, int fallbackLimit) {
    bool done = (keep == 3 || close_range(3, static_cast<unsigned>(keep) - 1, 0) == 0) &&
                close_range(static_cast<unsigned>(keep) + 1, ~0U, 0) == 0;
    if (done) return;
    for (int fd = 3; fd < fallbackLimit; ++fd)
        if (fd != keep) close(fd);
}

// In the child after fork: only async-signal-safe calls. Reports errno
// through the report pipe and exits when any step fails.
[[noreturn]] void runBoundChild(const Launch& launch, pid_t launcher, int nullFd, int report,
                                int fallbackLimit) {
    // Killed by the kernel the moment the launcher ends, however it ends (the
    // signal follows the thread that forked; the launcher has only the one).
    // The launcher may already have ended between fork and prctl: then this
    // process has a new parent, nobody reads the report, and the program
    // must not run at all.
    int error = prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 ? 0 : errno;
    if (getppid() != launcher) _exit(127);
    setsid();

    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &byDefault, nullptr);  // fails harmlessly for SIGKILL etc.

    if (!error && launch.workingDirectory && chdir(launch.workingDirectory) != 0) error = errno;
    if (!error && nullFd >= 0 &&
        (dup2(nullFd, 0) < 0 || dup2(nullFd, 1) < 0 || dup2(nullFd, 2) < 0))
        error = errno;
    if (!error) {
        closeDescriptorsExcept(report, fallbackLimit);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(launch.path.c_str(), launch.argv.data(), environ);
        error = errno;
    }
    ssize_t written;
    do {
        written = write(report, &error, sizeof error);
    } while (written < 0 && errno == EINTR);
    _exit(127);
}

// Runs the program bound to the launcher's life (posix_spawn cannot set the
// parent-death signal in the child, so this forks). Otherwise the child is
// set up as spawnOnItsOwn sets it up. -1 when the child failed before the
// program ran (reaped here).
pid_t forkBound(Launch& launch) {
    int nullFd = -1;
    if (launch.hidden) {
        nullFd = moveAbove2(open("/dev/null", O_RDWR | O_CLOEXEC));
        if (nullFd < 0) return -1;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        if (nullFd >= 0) close(nullFd);
        return -1;
    }
    int readEnd = moveAbove2(pipeFds[0]);
    int writeEnd = moveAbove2(pipeFds[1]);
    if (readEnd < 0 || writeEnd < 0) {
        if (readEnd >= 0) close(readEnd);
        if (writeEnd >= 0) close(writeEnd);
        if (nullFd >= 0) close(nullFd);
        return -1;
    }

    int fallbackLimit = 65536;
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < static_cast<rlim_t>(fallbackLimit))
        fallbackLimit = static_cast<int>(limit.rlim_cur);
    pid_t launcher = getpid();

    // No handler of the launcher may run in the child before its dispositions
    // are reset, so every signal stays blocked across the fork.
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &previous);
    pid_t pid = fork();
    if (pid == 0) runBoundChild(launch, launcher, nullFd, writeEnd, fallbackLimit);
    sigprocmask(SIG_SETMASK, &previous, nullptr);

    close(writeEnd);
    if (nullFd >= 0) close(nullFd);
    if (pid < 0) {
        close(readEnd);
        return -1;
    }
    int error = 0;
    ssize_t got;
    do {
        got = read(readEnd, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(readEnd);
    if (got != 0) {
        // An errno from the child: it did not run the program and is exiting.
        // (A failed read leaves its state unknown; the kill makes sure it
        // does not run on unheld.)
        kill(pid, SIGKILL);
        waitForChild(pid);
        return -1;
    }
    return pid;  // end of file: the exec closed the report pipe
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = syscall(SYS_pidfd_open, pid, 0);  // close-on-exec by itself
    return fd < 0 ? -1 : static_cast<int>(fd);
#else
    (void)pid;
    return -1;
#endif
}

}  // namespace

uintptr_t startProgram(const char* file, const char* parameters, const char* workingDirectory,
                       uint32_t options) {
    Launch launch;
    launch.args = splitCommandLine(buildCommandLine(file, parameters));
    // The program file is looked up relative to the launcher, never to the
    // child's working directory.
    launch.path = findProgram(launch.args[0]);
    launch.workingDirectory =
        (workingDirectory && workingDirectory[0] != '\0') ? workingDirectory : nullptr;
    launch.hidden = (options & Hidden) != 0;
    for (std::string& arg : launch.args) launch.argv.push_back(arg.data());
    launch.argv.push_back(nullptr);

    // A kept program is one the launcher means to stop: it must never outlive
    // the launcher. Any other program is left to run on by itself.
    bool bound = (options & KeepHandle) != 0;
    pid_t pid = -1;
    if (!launch.path.empty()) pid = bound ? forkBound(launch) : spawnOnItsOwn(launch);
    // Windows would now try the desktop shell's default action for the file.
    // Linux has no desktop shell to fall back on: a failed start is final.
    if (pid < 0) return 0;

    if (!bound) return 1;  // nothing of the process is held, so nothing to close
    ChildProgram* program = new (std::nothrow) ChildProgram{};
    if (!program) {  // a bound child nobody can stop would play on: end it now
        kill(pid, SIGKILL);
        waitForChild(pid);
        return 0;
    }
    program->process = openPidfd(pid);
    program->processId = pid;
    program->options = options;
    return reinterpret_cast<uintptr_t>(program);
}

uintptr_t startProgram(const char* file, const char* parameters) {
    return startProgram(file, parameters, "", 0);
}

int stopProgram(ChildProgram* program) {
    if (!program) return 0;
#ifdef SYS_pidfd_send_signal
    if (program->process >= 0) {
        if (syscall(SYS_pidfd_send_signal, program->process, SIGKILL, nullptr, 0) == 0) return 0;
        // ESRCH: ended and reaped. The process id may belong to another
        // process by now, so it must not be tried.
        if (errno == ESRCH) return 0;
        if (errno != ENOSYS) return -1;
    }
#endif
    // kill(0) and kill(-1) would hit the launcher's group or every process:
    // a record without a real process id stops nothing.
    if (program->processId <= 0) return 0;
    return (kill(program->processId, SIGKILL) == 0 || errno == ESRCH) ? 0 : -1;
}
