// A window system in memory: a client area of pixels that tests can read, and
// a record of what was pushed to the display.
#pragma once
#include <vector>

#include "launcher/display/display.h"

namespace fake {

struct Push {
    int x, y, width, height;
};

struct Window {
    bool facilityWorks = true;
    bool windowWorks = true;
    int clientWidth = 640, clientHeight = 480;
    std::vector<uint8_t> pixels;  // B, G, R, X
    std::vector<Push> pushes;     // every showClientRect, in order
    bool exists = false;
    int created = 0;

    uint8_t* at(int x, int y) { return &pixels[(static_cast<size_t>(y) * clientWidth + x) * 4]; }
};

inline Window& window() {
    static Window w;
    return w;
}

inline const WindowSystem& system() {
    static const WindowSystem s{
        [] { return window().facilityWorks; },
        [] {},
        [](int w, int h, const char*, const Image*) -> uintptr_t {
            Window& f = window();
            if (!f.windowWorks) return 0;
            f.clientWidth = w;
            f.clientHeight = h;
            f.pixels.assign(static_cast<size_t>(w) * h * 4, 0xF0);  // the face colour
            f.exists = true;
            ++f.created;
            return 0x5A17;
        },
        [] { window().exists = false; },
        [](PixelView* out) {
            Window& f = window();
            if (!f.exists) return false;
            *out = {f.pixels.data(), f.clientWidth, f.clientHeight, f.clientWidth * 4, 4};
            return true;
        },
        [](int x, int y, int w, int h) { window().pushes.push_back({x, y, w, h}); },
        [](int* w, int* h) {
            *w = window().clientWidth;
            *h = window().clientHeight;
        },
    };
    return s;
}

// A fresh memory window system with an open 640 x 480 screen in a window.
inline void openScreen() {
    destroyScreen();
    destroyLoaderWindow();
    window() = Window{};
    setWindowSystem(&system());
    initScreenFacility();
    const uintptr_t handle = createLoaderWindow(640, 480, "test");
    createScreen(handle, 0, 0, 640, 480, true, 0, 0, true);
}

inline void closeScreen() {
    destroyScreen();
    destroyLoaderWindow();
    setWindowSystem(&system());
}

// A font of square glyphs for drawing tests: every byte in `drawn` is a solid
// `cell` x `cell` block advancing `cell` pixels; the others advance too but
// have no bitmap. One column of the block can be given partial coverage.
struct BlockFont {
    Font font;
    std::vector<uint8_t> bitmap;

    BlockFont(int cell, const char* drawn, uint8_t edgeCoverage = 255) {
        bitmap.assign(static_cast<size_t>(cell) * cell, 255);
        for (int row = 0; row < cell; ++row) bitmap[static_cast<size_t>(row) * cell + cell - 1] = edgeCoverage;
        font.emPixels = font.ascent = font.lineHeight = cell;
        for (Glyph& g : font.glyphs) g.advance = cell;
        for (const char* p = drawn; *p; ++p) {
            Glyph& g = font.glyphs[static_cast<unsigned char>(*p)];
            g.width = g.height = cell;
            g.coverage = bitmap.data();
        }
    }
};

}  // namespace fake
