// Font data registered from memory, private to this process, and the numbered
// font store.
//
//   registerFontData  keeps a TrueType block for later openFont calls; the
//                     block must outlive the process's fonts. Returns a
//                     non-zero handle, or 0 when the data holds no face.
//   openFont          makes a font from the registered face whose family name
//                     matches (case-insensitive), sized by emPixelsFor at the
//                     display's resolution; stores it under the number,
//                     deleting what was there. Returns it, or nullptr (the
//                     number is then empty).
//   fontByNumber      the font under a number, or nullptr
//   deleteAllFonts    deletes every stored font (end of program)
//   emPixelsFor       points * dpi / 72, rounded half away from zero
#pragma once
#include <cstddef>
#include <cstdint>
#include "launcher/display/font.h"

enum FontNumber {
    TickerFontNumber = 1,  // "cbm", 12 points: 16 px at 96 dpi
    MenuFontNumber = 2,    // "cbm", 9 points: 12 px at 96 dpi
};

// The launcher declares no display scaling awareness, so it is given 96 dpi.
constexpr int kDisplayDpi = 96;

uintptr_t registerFontData(const uint8_t* data, size_t length);
Font* openFont(int number, const char* family, int points);
Font* fontByNumber(int number);
void deleteAllFonts();
int emPixelsFor(int points, int dpi);

// For tests: drop every registration, as at process start (fonts stay).
void resetFontRegistrations();
