// Where a program file is found: own directory, current directory, PATH.
#include "launcher/children/children.h"
#include "tests/children/testing_folders.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace {

// The directory of this test program, found without /proc/self/exe (from
// argv[0], so before any change of directory).
std::string testProgramDirectory() {
    char resolved[PATH_MAX];
    if (!realpath(program_invocation_name, resolved)) return "";
    std::string path = resolved;
    return path.substr(0, path.rfind('/'));
}

// Four search directories, the second of them the current one.
class Lookup : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root.path.empty());
        own = testProgramDirectory();
        ASSERT_FALSE(own.empty());
        for (const char* dir : {"own", "cur", "path1", "path2"})
            ASSERT_EQ(mkdir((root / dir).c_str(), 0755), 0);
        here = std::make_unique<InDirectory>(root / "cur");
        ASSERT_TRUE(here->changed);
    }

    std::vector<std::string> searched() const {
        return {root / "own", "", root / "path1", root / "path2"};
    }

    TempFolder root;
    std::string own;  // the directory of this test program
    std::unique_ptr<InDirectory> here;
};

enum class Entry { None, Executable, PlainFile, Directory, DanglingLink, LinkToExecutable };

void place(const std::string& path, Entry entry, const std::string& scratch) {
    switch (entry) {
    case Entry::None: break;
    case Entry::Executable: writeFile(path, "#!/bin/sh\n", 0755); break;
    case Entry::PlainFile: writeFile(path, "#!/bin/sh\n", 0644); break;
    case Entry::Directory: mkdir(path.c_str(), 0755); break;
    case Entry::DanglingLink: ASSERT_EQ(symlink((scratch + "/missing").c_str(), path.c_str()), 0); break;
    case Entry::LinkToExecutable:
        writeFile(scratch + "/target", "#!/bin/sh\n", 0755);
        ASSERT_EQ(symlink((scratch + "/target").c_str(), path.c_str()), 0);
        break;
    }
}

struct OrderCase {
    const char* name;
    Entry own, cur, path1, path2;
    const char* winner;  // the folder whose file is found, or nullptr
};

TEST_F(Lookup, OwnDirectoryThenCurrentThenPathSkippingWhatCannotRun) {
    const OrderCase cases[] = {
        {"all", Entry::Executable, Entry::Executable, Entry::Executable, Entry::Executable, "own"},
        {"cur", Entry::None, Entry::Executable, Entry::Executable, Entry::None, "cur"},
        {"path", Entry::None, Entry::None, Entry::None, Entry::Executable, "path2"},
        {"skips", Entry::Directory, Entry::PlainFile, Entry::DanglingLink, Entry::Executable, "path2"},
        {"link", Entry::LinkToExecutable, Entry::Executable, Entry::None, Entry::None, "own"},
        {"plain", Entry::PlainFile, Entry::Directory, Entry::PlainFile, Entry::None, nullptr},
        {"nothing", Entry::None, Entry::None, Entry::None, Entry::None, nullptr},
    };
    for (const OrderCase& c : cases) {
        TempFolder scratch;
        const std::string dirs[] = {root / "own", root / "cur", root / "path1", root / "path2"};
        const Entry entries[] = {c.own, c.cur, c.path1, c.path2};
        for (int i = 0; i < 4; ++i) place(dirs[i] + "/" + c.name, entries[i], scratch.path);
        std::string expected = c.winner ? root / (std::string(c.winner) + "/" + c.name) : "";
        EXPECT_EQ(findProgramIn(c.name, searched()), expected) << "case " << c.name;
    }
}

TEST_F(Lookup, ANameWithASlashIsTakenAsGivenAgainstTheCurrentDirectory) {
    ASSERT_EQ(mkdir((root / "cur/sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root / "own/sub").c_str(), 0755), 0);
    writeFile(root / "cur/sub/prog", "#!/bin/sh\n", 0755);
    writeFile(root / "own/sub/other", "#!/bin/sh\n", 0755);
    writeFile(root / "cur/sub/plain", "#!/bin/sh\n", 0644);

    std::string found = findProgramIn("sub/prog", searched());
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0], '/');
    struct stat a, b;
    ASSERT_EQ(stat(found.c_str(), &a), 0);
    ASSERT_EQ(stat((root / "cur/sub/prog").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);

    EXPECT_EQ(findProgramIn(root / "cur/sub/prog", searched()), root / "cur/sub/prog");
    EXPECT_EQ(findProgramIn("sub/other", searched()), "");  // not searched in the other folders
    EXPECT_EQ(findProgramIn("sub/plain", searched()), "");
    EXPECT_EQ(findProgramIn("sub", searched()), "");
    EXPECT_EQ(findProgramIn("", searched()), "");
}

struct PathCase {
    const char* path;  // nullptr: unset
    std::vector<std::string> tail;
};

TEST_F(Lookup, SearchesOwnDirectoryCurrentDirectoryThenEachPathEntry) {
    const PathCase cases[] = {
        {"/a::/b", {"/a", "", "/b"}},
        {"/only", {"/only"}},
        {"", {""}},
        {":/x:", {"", "/x", ""}},
        {nullptr, {"/bin", "/usr/bin"}},  // the system's default search path
    };
    for (const PathCase& c : cases) {
        WithEnvironment path("PATH", c.path);
        std::vector<std::string> expected = {own, ""};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(programSearchDirectories(), expected) << "PATH " << (c.path ? c.path : "(unset)");
    }
}

TEST_F(Lookup, FindProgramUsesCurrentDirectoryAndPath) {
    writeFile(root / "path1/quorbel-probe", "#!/bin/sh\n", 0755);
    WithEnvironment path("PATH", (root / "path1").c_str());
    EXPECT_EQ(findProgram("quorbel-probe"), root / "path1/quorbel-probe");
    writeFile(root / "cur/quorbel-probe", "#!/bin/sh\n", 0755);
    EXPECT_EQ(findProgram("quorbel-probe"), root / "cur/quorbel-probe");
    EXPECT_EQ(findProgram("quorbel-nowhere"), "");
}

TEST_F(Lookup, FindProgramPrefersTheLaunchersOwnDirectory) {
    // This test program stands for the launcher: a file of its name in the
    // current directory and on PATH loses against the program itself.
    std::string name = std::string(program_invocation_name).substr(std::string(program_invocation_name).rfind('/') + 1);
    writeFile(root / ("cur/" + name), "#!/bin/sh\n", 0755);
    writeFile(root / ("path1/" + name), "#!/bin/sh\n", 0755);
    WithEnvironment path("PATH", (root / "path1").c_str());
    EXPECT_EQ(findProgram(name), own + "/" + name);
}

}  // namespace
