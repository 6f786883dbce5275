// The title screen: composed once onto the screen's back buffer.
//
//   composeTitle  the backdrop, the seven menu lines in the menu font, and the
//                 scan-line overlay blended once over the whole picture
#pragma once
#include "launcher/display/display.h"

struct MenuLine {
    const char* text;
    int x, y;       // top-left corner of the line's text cell, back-buffer pixels
    Colour colour;
};

// Fixed positions: they are not derived from the texts' widths.
extern const MenuLine kMenuLines[7];

void composeTitle();
