#include "launcher/title/ticker.h"

#include "launcher/assets/fonts.h"
#include "launcher/assets/images.h"
#include "launcher/display/draw.h"
#include "launcher/loader_state.h"
#include "launcher/title/clock.h"

const char kScrollText[] =
    "QUORBEL V0.5 BY THE QUORBEL CREW... PLAY JOLTRAK(C64) BY ORVO KAST"
    " +++ SPECIALE THX TO MIRA DUN"
    " +++ SIDTUNE STOLEN FROM HIGH VOLTAGE SID COLLECTION - TRACK: UNKOWN117"
    " +++ GREETINGS TO VOXELMOTH - RASTERFROST - BITMILL - COPPERWAVE - NYBBLEHAUS - GLIMMER"
    " - PETPILOT - ZPZOO - FLUXHARBOR - TAPELOOP - SPRITEWARD - CHIPFERN - BORDERS - KERNALKIDS"
    " - AND ALL PEOPLE OVER THE WORLD :D ";

namespace {

constexpr int32_t kTickIntervalMs = 5;  // a step is due once more than this has passed
constexpr Colour kTextColour = rgb(255, 255, 0);
constexpr int kOverlayOpacity = 100;

// lastTickMs + tickIntervalMs with the wrap-around of 32-bit arithmetic.
int32_t dueAfter(int32_t last, int32_t interval) {
    return static_cast<int32_t>(static_cast<uint32_t>(last) + static_cast<uint32_t>(interval));
}

}  // namespace

void prepareTicker() {
    Image* strip = createImage(kStripWidth, kStripHeight, 32);
    if (strip) {
        // Black, alpha 255 everywhere.
        for (int y = 0; y < strip->height; ++y)
            for (int x = 0; x < strip->width; ++x) strip->pixels[y * strip->pitch + x * 4 + 3] = 255;
    }
    storeImage(StripImageNumber, strip);

    loader.scrollText = kScrollText;
    beginSession(imageTarget(strip));
    selectFont(fontByNumber(TickerFontNumber));
    loader.scrollLimit = measureText(loader.scrollText.c_str()) + kStripWidth;
    endSession();

    loader.scrollX = kStripWidth;
    loader.tickIntervalMs = kTickIntervalMs;
    loader.lastTickMs = clockMs();
}

void tickerStep() {
    const int32_t now = clockMs();
    if (dueAfter(loader.lastTickMs, loader.tickIntervalMs) < now) {
        loader.lastTickMs = clockMs();
        Image* strip = imageByNumber(StripImageNumber);

        beginSession(imageTarget(strip));
        selectFont(fontByNumber(TickerFontNumber));
        putText(loader.scrollX, kTextY, loader.scrollText.c_str(), kTextColour);
        endSession();

        beginSession(windowTarget());
        pasteImage(strip, 0, kBandY);
        endSession();

        --loader.scrollX;
        if (loader.scrollX < kStripWidth - loader.scrollLimit) loader.scrollX = kStripWidth;
    }

    // Every pass, step or not, darkens the band's odd rows once more.
    beginSession(windowTarget());
    blendImage(imageByNumber(OverlayImageNumber), 0, kBandY, kOverlayOpacity);
    endSession();
}
