// Stand-in for the outside programs (install a copy as vsid.exe or x64.exe
// in a play folder): records how it was started, then waits.
//
// Record: into the file named by QUORBEL_STANDIN_RECORD, else into
// <cwd>/<name>.record, where <name> is the last part of argv[0]. It is
// written to <record>.part and renamed, so once the record exists it is
// complete. One "key=value" per line:
//   arg=<each argv element, in order>
//   cwd=<working directory>
//   pid=, ppid=, sid=
//   stdin=, stdout=, stderr=   where each standard stream leads ("closed" if none)
//   fd=<each open descriptor number, from /proc/self/fd>
//   end
// Waiting: until killed, until the file <record>.stop appears (then it exits
// with code 0), or at most QUORBEL_STANDIN_SECONDS seconds (default 60; then
// exit code 3), so a stand-in that nobody stops does not stay forever.
// Exit code 2: the record could not be written.
#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

static std::string streamTarget(int fd) {
    char path[64], target[PATH_MAX];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(path, target, sizeof target - 1);
    return n < 0 ? std::string("closed") : std::string(target, static_cast<size_t>(n));
}

int main(int argc, char** argv) {
    std::string record;
    if (const char* named = std::getenv("QUORBEL_STANDIN_RECORD")) {
        record = named;
    } else {
        const char* name = argc > 0 ? std::strrchr(argv[0], '/') : nullptr;
        name = name ? name + 1 : (argc > 0 ? argv[0] : "standin");
        record = std::string(name) + ".record";
    }

    // The descriptors first, before this program opens anything itself.
    std::vector<int> fds;
    if (DIR* dir = opendir("/proc/self/fd")) {
        int own = dirfd(dir);
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            int fd = std::atoi(entry->d_name);
            if (fd != own) fds.push_back(fd);
        }
        closedir(dir);
    }
    std::string streams[3] = {streamTarget(0), streamTarget(1), streamTarget(2)};
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) std::strcpy(cwd, "?");

    std::string part = record + ".part";
    FILE* out = std::fopen(part.c_str(), "w");
    if (!out) return 2;
    for (int i = 0; i < argc; ++i) std::fprintf(out, "arg=%s\n", argv[i]);
    std::fprintf(out, "cwd=%s\n", cwd);
    std::fprintf(out, "pid=%d\nppid=%d\nsid=%d\n", static_cast<int>(getpid()),
                 static_cast<int>(getppid()), static_cast<int>(getsid(0)));
    std::fprintf(out, "stdin=%s\nstdout=%s\nstderr=%s\n", streams[0].c_str(), streams[1].c_str(),
                 streams[2].c_str());
    for (int fd : fds) std::fprintf(out, "fd=%d\n", fd);
    std::fprintf(out, "end\n");
    if (std::fclose(out) != 0 || std::rename(part.c_str(), record.c_str()) != 0) return 2;

    long seconds = 60;
    if (const char* limit = std::getenv("QUORBEL_STANDIN_SECONDS")) seconds = std::atol(limit);
    std::string stop = record + ".stop";
    const timespec step = {0, 20 * 1000 * 1000};
    for (long waited = 0; waited < seconds * 50; ++waited) {
        if (access(stop.c_str(), F_OK) == 0) return 0;
        nanosleep(&step, nullptr);
    }
    return 3;
}
