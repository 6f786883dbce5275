// A font as drawing uses it: every character's coverage bitmap, rendered once
// when the font is opened, so that drawing text allocates nothing and calls
// no font engine.
//
// The font engine that fills these tables lives in launcher/assets/fonts.cpp.
#pragma once
#include <cstdint>

struct Glyph {
    int left = 0;                     // x of the bitmap's first column, from the pen position, pixels
    int top = 0;                      // y of the bitmap's first row, from the top of the text cell, pixels
    int width = 0;                    // bitmap columns
    int height = 0;                   // bitmap rows
    int advance = 0;                  // pen movement after the character, whole pixels
    const uint8_t* coverage = nullptr;  // width * height bytes, 0 (none) to 255 (full), row by row
};

struct Font {
    int emPixels = 0;                 // the size the face was set to, pixels per em
    int ascent = 0;                   // rounded scaled ascent, pixels above the baseline
    int descent = 0;                  // rounded scaled descent, pixels below the baseline
    int lineHeight = 0;               // ascent + descent: the height of a text cell, pixels
    Glyph glyphs[256];                // indexed by the text's byte; a byte without a glyph has advance 0 and no bitmap
    void* engine = nullptr;           // the font engine's own data (face, bitmaps); owned by the font store
};
