// Temporary folders and files for the children tests.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// A fresh folder under the system's temporary directory, removed with
// everything in it at the end of the scope. path is fully resolved.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorbel-children-XXXXXX").string();
        if (mkdtemp(pattern.data())) {
            char resolved[PATH_MAX];
            path = realpath(pattern.c_str(), resolved) ? resolved : pattern;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

inline void writeFile(const std::string& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);
}

// The current directory, changed for one scope and put back afterwards.
class InDirectory {
public:
    explicit InDirectory(const std::string& dir) {
        char buffer[PATH_MAX];
        if (getcwd(buffer, sizeof buffer)) previous = buffer;
        changed = chdir(dir.c_str()) == 0;
    }
    ~InDirectory() {
        if (!previous.empty() && chdir(previous.c_str()) != 0) std::abort();
    }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

    bool changed = false;

private:
    std::string previous;
};

// An environment variable, set or unset for one scope and put back afterwards.
class WithEnvironment {
public:
    WithEnvironment(const char* name, const char* value) : name(name) {
        const char* old = getenv(name);
        hadValue = old != nullptr;
        if (old) previous = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~WithEnvironment() {
        if (hadValue) setenv(name, previous.c_str(), 1);
        else unsetenv(name);
    }
    WithEnvironment(const WithEnvironment&) = delete;
    WithEnvironment& operator=(const WithEnvironment&) = delete;

private:
    const char* name;
    bool hadValue = false;
    std::string previous;
};
