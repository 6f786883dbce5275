// Starting and stopping the outside programs.
//
//   startProgram    starts a program by its file name and a parameters
//                   string; never waits for it. With KeepHandle the result is
//                   a ChildProgram, without it 1; 0 when nothing started
//                   (not found, not executable, or the exec itself failed).
//   stopProgram     kills a kept program at once (SIGKILL); does not wait,
//                   reap or release. Does nothing for nullptr.
//   buildCommandLine  the program name in double quotes (unless it already
//                   begins with one), then one space and the parameters,
//                   unchanged; nothing after the name when they are empty.
//   splitCommandLine  a command line into arguments, by the rules a Windows
//                   program's C runtime start-up code applies to its own
//                   command line (the rules are listed in children.cpp).
//   findProgram     where a program is found: a name with a '/' as given, a
//                   bare name in the launcher's own directory, then the
//                   current directory, then PATH.
//
// Children and the launcher's life: a kept program (KeepHandle, the tune
// player) is bound to the launcher and is killed by the kernel when the
// launcher ends in any way, crash and SIGKILL included. A program started
// without KeepHandle (the emulator) runs in a session of its own and
// outlives the launcher and its terminal.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum StartOptions : uint32_t {
    Hidden = 2,      // no window, no console: a session of its own, streams on /dev/null
    KeepHandle = 4,  // hand back a ChildProgram that stopProgram can act on; bound to the launcher's life
};

// Made by startProgram with KeepHandle; never released by the launcher: it
// and its pidfd disappear with the launcher's process.
struct ChildProgram {
    int process = -1;       // pidfd of the process, or -1 where the kernel has none
    int32_t processId = 0;  // the process id
    uint32_t options = 0;   // the StartOptions it was started with
};

// A ChildProgram*, reinterpret_cast'able from the uintptr_t result, or 1, or 0.
// nullptr strings count as empty; an empty workingDirectory means the
// launcher's current directory.
uintptr_t startProgram(const char* file, const char* parameters,
                       const char* workingDirectory, uint32_t options);
uintptr_t startProgram(const char* file, const char* parameters);  // options 0, no working directory
// 0 when the kill was sent or the process had already ended, -1 when the
// kernel refused it; 0 for nullptr.
int stopProgram(ChildProgram* program);

std::string buildCommandLine(const char* file, const char* parameters);
// Never empty: the first element is the program name (empty for an empty line).
std::vector<std::string> splitCommandLine(const std::string& commandLine);

std::string findProgram(const std::string& name);  // full path; empty when not found
// The same lookup over an explicit list of directories for a bare name
// (an empty entry is the current directory).
std::string findProgramIn(const std::string& name, const std::vector<std::string>& directories);
// The directories findProgram searches, in order: the directory of the
// launcher's own program file, the current directory, then each PATH entry
// (PATH unset: the system's default search path, confstr(_CS_PATH)).
std::vector<std::string> programSearchDirectories();
