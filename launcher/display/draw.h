// Drawing operations inside the current session (see display.h). With no
// current session, or given a missing image or font, they draw nothing.
// Coordinates are whole pixels from the target's top-left corner; negative
// ones are allowed, and everything is clipped to the target.
//
//   pasteImage         copies the image's colours; its alpha plays no part
//   blendImage         composites the image by weight (alpha/255)*(opacity/255);
//                      an image without alpha counts as alpha 255
//   setTextColour      colour of later text in this session
//   setTextBackground  Opaque (the cell is filled) or Transparent (glyphs only)
//   selectFont         font of later text in this session (nullptr keeps the current one)
//   putText            one line with its cell's top-left corner at (x, y), in the
//                      session's colour or the one given; returns the x right of it
//   measureText        the width putText gives the text's cell, pixels
//
// On 32-bit targets the fourth byte (alpha, or unused on the window) is never
// changed by any of them.
#pragma once
#include "launcher/display/display.h"

constexpr Colour rgb(int red, int green, int blue) {
    return static_cast<Colour>(red) | static_cast<Colour>(green) << 8 | static_cast<Colour>(blue) << 16;
}

void pasteImage(const Image* image, int x, int y);
void blendImage(const Image* image, int x, int y, int opacity);
void setTextColour(Colour colour);
void setTextBackground(TextBackground mode);
void selectFont(const Font* font);
int putText(int x, int y, const char* text);
int putText(int x, int y, const char* text, Colour colour);
int measureText(const char* text);
