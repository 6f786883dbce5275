// Starting and stopping real processes: the stand-in program installed as
// vsid.exe and x64.exe in a temporary play folder.
#include "launcher/children/children.h"
#include "tests/children/testing_folders.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// What the stand-in wrote about itself.
struct Record {
    std::vector<std::string> args;
    std::string cwd;
    pid_t pid = 0, ppid = 0, sid = 0;
    std::string streams[3];
    std::set<int> fds;
};

void pause10ms() {
    const timespec step = {0, 10 * 1000 * 1000};
    nanosleep(&step, nullptr);
}

// Waits for the record file to appear (the stand-in writes it atomically
// once it runs); none after 20 s, which only a stand-in that never ran takes.
std::optional<Record> waitForRecord(const std::string& path) {
    for (int i = 0; i < 2000 && access(path.c_str(), F_OK) != 0; ++i) pause10ms();
    std::ifstream in(path);
    if (!in) return std::nullopt;
    Record r;
    std::string line;
    bool complete = false;
    while (std::getline(in, line)) {
        if (line == "end") complete = true;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "arg") r.args.push_back(value);
        else if (key == "cwd") r.cwd = value;
        else if (key == "pid") r.pid = std::stoi(value);
        else if (key == "ppid") r.ppid = std::stoi(value);
        else if (key == "sid") r.sid = std::stoi(value);
        else if (key == "stdin") r.streams[0] = value;
        else if (key == "stdout") r.streams[1] = value;
        else if (key == "stderr") r.streams[2] = value;
        else if (key == "fd") r.fds.insert(std::stoi(value));
    }
    if (!complete) return std::nullopt;
    return r;
}

std::string streamTarget(int fd) {
    char path[64], target[PATH_MAX];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(path, target, sizeof target - 1);
    return n < 0 ? std::string("closed") : std::string(target, static_cast<size_t>(n));
}

// The process a pidfd refers to, from the kernel's fdinfo.
pid_t pidOfPidfd(int fd) {
    std::ifstream in("/proc/self/fdinfo/" + std::to_string(fd));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Pid:", 0) == 0) return std::stoi(line.substr(4));
    return 0;
}

// The processes whose parent is this one, from /proc.
std::vector<pid_t> childrenOfThisProcess() {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        size_t close = stat.rfind(')');  // the command name may hold spaces
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        fields >> state >> parent;
        if (parent == getpid()) children.push_back(std::stoi(name));
    }
    return children;
}

bool hasNoChildren() {
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

// Reaps pid and returns its wait status (-1 if it is not our child).
int reap(pid_t pid) {
    int status = 0;
    pid_t got;
    do {
        got = waitpid(pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    return got == pid ? status : -1;
}

bool killedBySigkill(int status) { return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }
bool exitedWith(int status, int code) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code; }

const char* const PlayerParameters = "-soundvolume 60 117.sid";

// A play folder with the stand-in as vsid.exe and x64.exe, made the current
// directory. Everything started is killed and reaped at the end.
class Spawn : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(play.path.empty());
        install(play / "vsid.exe");
        install(play / "x64.exe");
        here = std::make_unique<InDirectory>(play.path);
        ASSERT_TRUE(here->changed);
    }

    void TearDown() override {
        // Only children not reaped yet: their ids cannot have been reused.
        for (pid_t pid : started) {
            if (waitpid(pid, nullptr, WNOHANG) != 0) continue;
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        // Whatever else is left (a start the test never saw running) is a
        // fault; end it so that it cannot spoil the tests that follow.
        for (pid_t pid : childrenOfThisProcess()) {
            ADD_FAILURE() << "child " << pid << " left running";
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        for (ChildProgram* program : kept) {
            if (program->process >= 0) close(program->process);
            delete program;
        }
        EXPECT_TRUE(hasNoChildren());
    }

    static void install(const std::string& path) {
        std::filesystem::copy_file(QUORBEL_STANDIN, path);
        chmod(path.c_str(), 0755);
    }

    // Remembers a start for the clean-up; a ChildProgram is given back.
    ChildProgram* keep(uintptr_t result) {
        if (result <= 1) return nullptr;
        ChildProgram* program = reinterpret_cast<ChildProgram*>(result);
        kept.push_back(program);
        return program;
    }

    std::optional<Record> recordOf(const std::string& path) {
        std::optional<Record> r = waitForRecord(path);
        if (r) started.push_back(r->pid);
        return r;
    }

    TempFolder play;
    std::unique_ptr<InDirectory> here;
    std::vector<pid_t> started;
    std::vector<ChildProgram*> kept;
};

struct ChildCase {
    const char* file;
    const char* parameters;
    uint32_t options;
    std::vector<std::string> args;
};

TEST_F(Spawn, ChildGetsItsArgumentsCurrentDirectorySessionAndStreams) {
    const ChildCase cases[] = {
        {"vsid.exe", PlayerParameters, Hidden | KeepHandle, {"vsid.exe", "-soundvolume", "60", "117.sid"}},
        {"x64.exe", "-cartcrt joltrak16k.crt -fullscreen -cartreset", 0,
         {"x64.exe", "-cartcrt", "joltrak16k.crt", "-fullscreen", "-cartreset"}},
        {"x64.exe", "-cartcrt joltrak16k.crt -cartreset", 0,
         {"x64.exe", "-cartcrt", "joltrak16k.crt", "-cartreset"}},
        {"vsid.exe", "", Hidden, {"vsid.exe"}},
        {"\"vsid.exe\"", "-x \"a b\" c\\\"d \"\"", KeepHandle, {"vsid.exe", "-x", "a b", "c\"d", ""}},
    };
    // A descriptor the test leaves open on exec, low and high: no child may get it.
    int leaked = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    ASSERT_EQ(dup2(leaked, 100), 100);
    std::set<int> ownStandard;
    for (int fd = 0; fd < 3; ++fd)
        if (fcntl(fd, F_GETFD) != -1) ownStandard.insert(fd);

    for (const ChildCase& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.parameters);
        std::string recordPath = play / (c.args[0] + ".record");
        unlink(recordPath.c_str());
        uintptr_t result = startProgram(c.file, c.parameters, "", c.options);
        ASSERT_NE(result, 0u);
        std::optional<Record> r = recordOf(recordPath);
        ASSERT_TRUE(r);

        EXPECT_EQ(r->args, c.args);
        EXPECT_EQ(r->cwd, play.path);
        EXPECT_EQ(r->ppid, getpid());
        EXPECT_EQ(r->sid, r->pid);  // a session of its own, hidden or not
        bool hidden = (c.options & Hidden) != 0;
        for (int fd = 0; fd < 3; ++fd)
            EXPECT_EQ(r->streams[fd], hidden ? "/dev/null" : streamTarget(fd)) << "stream " << fd;
        EXPECT_EQ(r->fds, (hidden ? std::set<int>{0, 1, 2} : ownStandard));

        if (c.options & KeepHandle) {
            ChildProgram* program = keep(result);
            ASSERT_NE(program, nullptr);
            EXPECT_EQ(program->processId, r->pid);
            EXPECT_EQ(program->options, c.options);
            ASSERT_GE(program->process, 0);
            EXPECT_EQ(pidOfPidfd(program->process), r->pid);
            EXPECT_EQ(fcntl(program->process, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
        } else {
            EXPECT_EQ(result, 1u);
        }
    }
    close(leaked);
    close(100);
}

TEST_F(Spawn, ShortFormStartsWithoutOptions) {
    EXPECT_EQ(startProgram("x64.exe", "-cartcrt joltrak16k.crt -cartreset"), 1u);
    std::optional<Record> r = recordOf(play / "x64.exe.record");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->args, (std::vector<std::string>{"x64.exe", "-cartcrt", "joltrak16k.crt", "-cartreset"}));
    EXPECT_EQ(r->streams[1], streamTarget(1));
}

TEST_F(Spawn, GivenWorkingDirectoryIsTheChildsButTheProgramIsFoundFromTheLaunchers) {
    TempFolder elsewhere;
    for (uint32_t options : {0u, uint32_t(Hidden | KeepHandle)}) {
        SCOPED_TRACE(options);
        std::string recordPath = elsewhere / "vsid.exe.record";
        unlink(recordPath.c_str());
        uintptr_t result = startProgram("vsid.exe", PlayerParameters, elsewhere.path.c_str(), options);
        keep(result);
        ASSERT_NE(result, 0u);
        std::optional<Record> r = recordOf(recordPath);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->cwd, elsewhere.path);
    }
}

struct FailureCase {
    const char* name;
    const char* workingDirectory;
};

TEST_F(Spawn, ProgramThatCannotRunGivesZeroAndLeavesNoChild) {
    ASSERT_EQ(mkdir((play / "folder.exe").c_str(), 0755), 0);
    writeFile(play / "plain.exe", "#!/bin/sh\nexit 0\n", 0644);
    ASSERT_EQ(symlink((play / "gone.exe").c_str(), (play / "dangling.exe").c_str()), 0);
    writeFile(play / "badinterp.exe", "#!/nonexistent\n", 0755);
    writeFile(play / "garbage.exe", std::string("\x7f" "ELF\x02\x01\x01 not really", 18), 0755);
    const FailureCase cases[] = {
        {"missing.exe", ""},    {"folder.exe", ""},  {"plain.exe", ""},
        {"dangling.exe", ""},   {"badinterp.exe", ""}, {"garbage.exe", ""},
        {"vsid.exe", "/nonexistent-working-directory"},  // found, but the child cannot start there
        {"", ""},
    };
    for (const FailureCase& c : cases) {
        for (uint32_t options : {0u, uint32_t(Hidden), uint32_t(KeepHandle), uint32_t(Hidden | KeepHandle)}) {
            SCOPED_TRACE(std::string(c.name) + " options " + std::to_string(options));
            EXPECT_EQ(startProgram(c.name, PlayerParameters, c.workingDirectory, options), 0u);
            EXPECT_TRUE(hasNoChildren());
        }
    }
}

TEST_F(Spawn, StopProgramKillsAKeptProgram) {
    ChildProgram* program = keep(startProgram("vsid.exe", PlayerParameters, "", Hidden | KeepHandle));
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(recordOf(play / "vsid.exe.record"));
    EXPECT_EQ(stopProgram(program), 0);
    EXPECT_TRUE(killedBySigkill(reap(program->processId)));
    // Ended and reaped: stopping again is harmless, and the record stays as it was.
    EXPECT_EQ(stopProgram(program), 0);
    EXPECT_EQ(program->options, uint32_t(Hidden | KeepHandle));
    EXPECT_GE(fcntl(program->process, F_GETFD), 0);  // the pidfd is not closed by stopping
}

TEST_F(Spawn, StopProgramWithoutPidfdUsesTheProcessId) {
    ChildProgram* program = keep(startProgram("vsid.exe", PlayerParameters, "", Hidden | KeepHandle));
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(recordOf(play / "vsid.exe.record"));
    ChildProgram byId;
    byId.process = -1;
    byId.processId = program->processId;
    EXPECT_EQ(stopProgram(&byId), 0);
    EXPECT_TRUE(killedBySigkill(reap(program->processId)));
}

TEST_F(Spawn, StopProgramOfNothingDoesNothing) {
    EXPECT_EQ(startProgram("x64.exe", "-cartcrt joltrak16k.crt -cartreset", "", 0), 1u);
    std::optional<Record> r = recordOf(play / "x64.exe.record");
    ASSERT_TRUE(r);
    EXPECT_EQ(stopProgram(nullptr), 0);

    // A record without a process must not turn into kill(0), which would hit
    // the caller's whole process group: try it in a group of its own.
    pid_t probe = fork();
    ASSERT_GE(probe, 0);
    if (probe == 0) {
        setpgid(0, 0);
        ChildProgram none;
        none.process = -1;
        none.processId = 0;
        _exit(stopProgram(&none) == 0 ? 0 : 1);
    }
    EXPECT_TRUE(exitedWith(reap(probe), 0));

    // The unrelated child is still running and ends normally when told to.
    std::ofstream(play / "x64.exe.record.stop") << "";
    EXPECT_TRUE(exitedWith(reap(r->pid), 0));
}

// Starts a child from an intermediate process (standing in for the
// launcher), kills the intermediate with SIGKILL and returns the child's
// wait status: this process collects orphans as their subreaper.
int statusAfterLauncherIsKilled(const std::string& recordPath, const char* file,
                                const char* parameters, uint32_t options) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    int report[2];
    if (pipe(report) != 0) return -2;
    pid_t launcher = fork();
    if (launcher == 0) {
        close(report[0]);
        uintptr_t result = startProgram(file, parameters, "", options);
        char ok = result != 0 ? 1 : 0;
        if (write(report[1], &ok, 1) != 1) _exit(1);
        for (;;) pause();
    }
    close(report[1]);
    char ok = 0;
    ssize_t got = launcher > 0 ? read(report[0], &ok, 1) : -1;
    close(report[0]);
    std::optional<Record> r = (got == 1 && ok) ? waitForRecord(recordPath) : std::nullopt;
    if (launcher > 0) {
        kill(launcher, SIGKILL);
        reap(launcher);
    }
    int status = -2;
    if (r) {
        if (!(options & KeepHandle)) std::ofstream(recordPath + ".stop") << "";
        status = reap(r->pid);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    return status;
}

TEST_F(Spawn, KeptProgramEndsWithTheLauncher) {
    WithEnvironment limit("QUORBEL_STANDIN_SECONDS", "20");  // a stand-in left unbound gives up by itself
    int status = statusAfterLauncherIsKilled(play / "vsid.exe.record", "vsid.exe", PlayerParameters,
                                             Hidden | KeepHandle);
    EXPECT_TRUE(killedBySigkill(status)) << "wait status " << status;
}

TEST_F(Spawn, UnkeptProgramOutlivesTheLauncher) {
    WithEnvironment limit("QUORBEL_STANDIN_SECONDS", "20");
    int status = statusAfterLauncherIsKilled(play / "x64.exe.record", "x64.exe",
                                             "-cartcrt joltrak16k.crt -cartreset", 0);
    EXPECT_TRUE(exitedWith(status, 0)) << "wait status " << status;
}

}  // namespace
