// The launcher's process-wide variables: one instance for the whole run,
// cleared by the first step of start-up.
#pragma once
#include <cstdint>
#include <string>

struct ChildProgram;

struct LoaderState {
    std::string scrollText;         // the scroll text, set once by prepareTicker
    int32_t scrollLimit = 0;        // width of scrollText in the ticker font, pixels, plus 640
    int32_t scrollX = 0;            // x of the scroll text's left edge inside the strip, pixels; may be negative
    int32_t tickIntervalMs = 0;     // least gap between two ticker steps, ms (5)
    int32_t lastTickMs = 0;         // clockMs reading at the latest ticker step
    std::string playerArguments;    // "-soundvolume 60 117.sid"
    ChildProgram* player = nullptr;  // the running tune player; nullptr when it could not be started
    std::string keyString;          // the released-keys text of the current pass
    std::string emulatorArguments;  // the emulator's argument string, set by the key decision
    int32_t lastEvent = 0;          // the code that the latest waitForEvent returned
};

extern LoaderState loader;

// Every number 0, every text empty, player none.
void clearLoaderState();
