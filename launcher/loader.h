// The launcher's whole run: the fixed start-up sequence, the main-loop pass
// and the end of program.
//
//   runLauncher    start-up, then passes until one ends the program; never returns
//   startUp        start-up steps in order; false when start-up has to end the
//                  program (any message has been shown)
//   mainLoopPass   one pass: snapshot, released keys, key decision, event
//                  drain, ticker step; End once the program has to end (the tune
//                  player stopped and, on 1 or 2, the emulator started)
//   endProgram     releases the keyboard, the screen, the window, the fonts and
//                  the images, in that order, and exits with code 0
//   releaseProgram the releasing half of endProgram, for tests
#pragma once

enum class PassOutcome { Continue, End };

[[noreturn]] void runLauncher();
bool startUp();
PassOutcome mainLoopPass();
[[noreturn]] void endProgram();
void releaseProgram();

// The launcher's own texts and command lines.
inline constexpr char kWindowTitle[] = "Quorbel V0.5";
inline constexpr char kErrorCaption[] = "Error";
inline constexpr char kNoScreenText[] = "Can't open screen & sprite environment!";
inline constexpr char kScreenFailedText[] = "Shice - da geht was nicht";
inline constexpr char kPlayerFile[] = "vsid.exe";
inline constexpr char kPlayerArguments[] = "-soundvolume 60 117.sid";
inline constexpr char kEmulatorFile[] = "x64.exe";
inline constexpr char kFullScreenArguments[] = "-cartcrt joltrak16k.crt -fullscreen -cartreset";
inline constexpr char kWindowedArguments[] = "-cartcrt joltrak16k.crt -cartreset";
