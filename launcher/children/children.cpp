// The command line of a child and where its program file is found.
#include "launcher/children/children.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

std::string buildCommandLine(const char* file, const char* parameters) {
    std::string name = file ? file : "";
    std::string line = (!name.empty() && name[0] == '"') ? name : "\"" + name + "\"";
    if (parameters && parameters[0] != '\0') {
        line += ' ';
        line += parameters;
    }
    return line;
}

// The Microsoft C runtime's rules for a program's own command line, in the
// form its runtimes have used since 2008 (Visual C++ 2008 and the Universal
// CRT), which is what the children were built against:
//
//  * The program name ends at the first space or tab outside double quotes;
//    every double quote toggles quoting and is
//    removed; backslashes are plain characters. A line that starts with a
//    space therefore has an empty program name.
//  * The other arguments are separated by runs of spaces and tabs outside
//    quotes. Inside an argument:
//      2n backslashes and a quote   -> n backslashes; the quote toggles quoting
//      2n+1 backslashes and a quote -> n backslashes and a literal quote
//      backslashes before anything else are literal
//      "" while quoting             -> one literal quote, quoting goes on
//    (the runtimes before 2008 left quoting after such a pair).
//  * An unterminated quote runs to the end of the line; "" alone is an empty
//    argument.
//
// The line ends at its end or at the first zero byte, whichever comes first,
// as it would for a C string; nothing beyond it is read.
std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    const char* p = commandLine.c_str();  // zero-terminated; stops at an embedded zero too
    std::vector<std::string> args;

    std::string name;
    bool quoting = false;
    for (; *p != '\0'; ++p) {
        if (*p == '"') {
            quoting = !quoting;
        } else if (!quoting && (*p == ' ' || *p == '\t')) {
            break;  // the separators are skipped below
        } else {
            name += *p;
        }
    }
    args.push_back(name);

    for (;;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == '\0') break;

        std::string arg;
        quoting = false;
        for (;;) {
            size_t backslashes = 0;
            while (*p == '\\') {
                ++p;
                ++backslashes;
            }
            bool literal = true;  // whether the character at p is part of the argument
            if (*p == '"') {
                if (backslashes % 2 == 0) {
                    if (quoting && p[1] == '"') {
                        ++p;  // a doubled quote inside quotes: the second one is kept
                    } else {
                        literal = false;
                        quoting = !quoting;
                    }
                }
                backslashes /= 2;
            }
            arg.append(backslashes, '\\');
            if (*p == '\0' || (!quoting && (*p == ' ' || *p == '\t'))) break;
            if (literal) arg += *p;
            ++p;
        }
        args.push_back(arg);
    }
    return args;
}

static bool isExecutableFile(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return access(path.c_str(), X_OK) == 0;
}

static std::string currentDirectory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

// The directory part of the launcher's own program file, without the final
// slash; empty when the kernel does not tell.
static std::string ownDirectory() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// dir + "/" + name, with an empty dir standing for the current directory,
// so that the result never depends on a later change of directory.
static std::string joinPath(const std::string& dir, const std::string& name) {
    std::string base = dir.empty() ? currentDirectory() : dir;
    if (base.empty()) return name;
    if (base.back() == '/') return base + name;
    return base + "/" + name;
}

std::string findProgramIn(const std::string& name, const std::vector<std::string>& directories) {
    if (name.empty()) return std::string();
    if (name.find('/') != std::string::npos) {
        std::string path = name[0] == '/' ? name : joinPath("", name);
        return isExecutableFile(path) ? path : std::string();
    }
    for (const std::string& dir : directories) {
        std::string path = joinPath(dir, name);
        if (isExecutableFile(path)) return path;
    }
    return std::string();
}

std::vector<std::string> programSearchDirectories() {
    std::vector<std::string> dirs;
    std::string own = ownDirectory();
    if (!own.empty()) dirs.push_back(own);
    dirs.push_back(std::string());  // the current directory

    // Without PATH, use the system's own default, as the exec family and the
    // shell do; it stands where Windows searches its system directories.
    std::string path;
    if (const char* env = getenv("PATH")) {
        path = env;
    } else {
        char buffer[256];
        size_t n = confstr(_CS_PATH, buffer, sizeof buffer);
        path = (n > 0 && n <= sizeof buffer) ? std::string(buffer) : std::string("/bin:/usr/bin");
    }
    size_t start = 0;
    for (;;) {
        size_t colon = path.find(':', start);
        dirs.push_back(path.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return dirs;
}

std::string findProgram(const std::string& name) {
    return findProgramIn(name, programSearchDirectories());
}
