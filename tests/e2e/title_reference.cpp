// title_reference: what the launcher's window ought to show, made in-process
// by the launcher's own title and ticker code on a window system in memory,
// for the end-to-end tests to compare real captures with.
//
//   title <out.ppm>    the title as composeTitle leaves it on the back buffer,
//                      640 x 480, after the same start-up steps the launcher
//                      takes (decoders, embedded pictures and face, fonts)
//   ribbon <out.ppm>   the scroll text in the ticker's yellow on black, drawn
//                      at x = 640 into a (W + 1280) x 20 image, W being the
//                      text's width: the strip of a step that draws at
//                      scrollX = s is the ribbon's columns 640 - s to
//                      1279 - s. Before writing it, runs tickerStep through
//                      one whole cycle on the memory window and checks every
//                      band it pastes against the ribbon (exit 1 if one differs)
//   darken             prints 256 numbers: what one blend of the scan-line
//                      overlay makes of the channel values 0..255 on an odd row
//
// Exit codes: 0 done, 1 a step failed or a band disagreed, 2 usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/assets/embedded.h"
#include "launcher/assets/fonts.h"
#include "launcher/assets/images.h"
#include "launcher/display/draw.h"
#include "launcher/loader_state.h"
#include "launcher/title/clock.h"
#include "launcher/title/ticker.h"
#include "launcher/title/title.h"
#include "tests/support/embedded_assets.h"
#include "tests/support/fake_window.h"

namespace {

constexpr Colour kYellow = rgb(255, 255, 0);

int failWith(const char* what) {
    std::fprintf(stderr, "title_reference: %s\n", what);
    return 1;
}

// Writes a 24- or 32-bit image (B, G, R(, A) bytes) as a binary PPM (R, G, B).
bool writePpm(const char* path, const Image& image) {
    FILE* out = std::fopen(path, "wb");
    if (!out) return false;
    std::fprintf(out, "P6\n%d %d\n255\n", image.width, image.height);
    const int bytesPerPixel = image.bitsPerPixel / 8;
    std::vector<uint8_t> row(static_cast<size_t>(image.width) * 3);
    bool ok = true;
    for (int y = 0; y < image.height && ok; ++y) {
        const uint8_t* p = image.pixels + static_cast<size_t>(y) * image.pitch;
        for (int x = 0; x < image.width; ++x, p += bytesPerPixel) {
            row[x * 3] = p[2];
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = p[0];
        }
        ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
    }
    return std::fclose(out) == 0 && ok;
}

int writeTitle(const char* path) {
    fake::openScreen();
    composeTitle();
    const Image* back = screenBackBuffer();
    if (!back) return failWith("no back buffer");
    return writePpm(path, *back) ? 0 : failWith("cannot write the picture");
}

// A clock that has always moved on by 10 ms: every tickerStep steps.
uint64_t counterNow = 0;
const ClockSource kHastyClock{
    [] { return counterNow += 10; },
    [] { return static_cast<uint64_t>(1000); },
    [] { return static_cast<uint32_t>(counterNow); },
};

// Does the window's band (rows kBandY ...) show the ribbon's columns for a
// step that drew at scrollX = s, with its odd rows blended once?
bool bandMatches(const Image& ribbon, const std::vector<uint8_t>& once, int s) {
    fake::Window& w = fake::window();
    for (int y = 0; y < kStripHeight; ++y) {
        for (int x = 0; x < kStripWidth; ++x) {
            const uint8_t* want = ribbon.pixels + static_cast<size_t>(y) * ribbon.pitch + (640 - s + x) * 4;
            const uint8_t* got = w.at(x, kBandY + y);
            for (int i = 0; i < 3; ++i) {
                const int expected = y % 2 ? once[want[i]] : want[i];
                if (got[i] != expected) return false;
            }
        }
    }
    return true;
}

std::vector<uint8_t> darkenTable() {
    // Row 1 of the overlay is one of its dark rows; row 0 is clear.
    Image* probe = createImage(640, 2, 32);
    if (!probe) return {};
    for (int x = 0; x < 640; ++x)
        for (int i = 0; i < 3; ++i) probe->pixels[probe->pitch + x * 4 + i] = static_cast<uint8_t>(x % 256);
    beginSession(imageTarget(probe));
    blendImage(imageByNumber(OverlayImageNumber), 0, 0, 100);
    endSession();
    std::vector<uint8_t> table(256);
    for (int v = 0; v < 256; ++v) table[v] = probe->pixels[probe->pitch + v * 4];
    destroyImage(probe);
    return table;
}

int writeRibbon(const char* path) {
    fake::openScreen();
    setClockSource(&kHastyClock);
    prepareTicker();
    const int textWidth = loader.scrollLimit - kStripWidth;
    if (textWidth <= 0) return failWith("the scroll text has no width");
    Image* ribbon = createImage(textWidth + 2 * kStripWidth, kStripHeight, 32);
    if (!ribbon) return failWith("no memory for the ribbon");
    beginSession(imageTarget(ribbon));
    selectFont(fontByNumber(TickerFontNumber));
    putText(kStripWidth, kTextY, loader.scrollText.c_str(), kYellow);
    endSession();

    // One whole cycle, 640 down to -W, and the first step of the next.
    const std::vector<uint8_t> once = darkenTable();
    int result = 0;
    for (int step = 0; step <= textWidth + kStripWidth + 1 && result == 0; ++step) {
        const int s = loader.scrollX;
        tickerStep();
        if (!bandMatches(*ribbon, once, s)) {
            std::fprintf(stderr, "title_reference: the band of the step at scrollX %d differs\n", s);
            result = 1;
        }
    }
    setClockSource(nullptr);
    if (result == 0 && !writePpm(path, *ribbon)) result = failWith("cannot write the ribbon");
    destroyImage(ribbon);
    return result;
}

int printDarken() {
    const std::vector<uint8_t> table = darkenTable();
    if (table.empty()) return failWith("no memory for the probe");
    for (int v = 0; v < 256; ++v) std::printf("%d%c", table[v], v == 255 ? '\n' : ' ');
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!(mode == "darken" && argc == 2) && !((mode == "title" || mode == "ribbon") && argc == 3)) {
        std::fprintf(stderr, "usage: title_reference title|ribbon <out.ppm> | darken\n");
        return 2;
    }
    if (!loadEmbeddedAssets()) return failWith("the embedded pictures or fonts did not load");
    int result = mode == "title" ? writeTitle(argv[2]) : mode == "ribbon" ? writeRibbon(argv[2]) : printDarken();
    fake::closeScreen();
    deleteAllFonts();
    deleteAllImages();
    return result;
}
