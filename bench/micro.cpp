// In-process micro-benchmarks of the launcher's drawing, ticker, title and
// decoders, on a window system held in memory so that only the launcher's own
// work is timed (no X server, no display).
//
// Every benchmark that draws on the window uses the same 640 x 480 client
// area; pushes to the "display" are counted and dropped.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "launcher/assets/embedded.h"
#include "launcher/assets/fonts.h"
#include "launcher/assets/images.h"
#include "launcher/display/display.h"
#include "launcher/display/draw.h"
#include "launcher/loader_state.h"
#include "launcher/title/clock.h"
#include "launcher/title/ticker.h"
#include "launcher/title/title.h"
#include "tests/support/embedded_assets.h"

namespace {

constexpr int kClientWidth = 640;
constexpr int kClientHeight = 480;

// ---- a window system in memory -------------------------------------------

std::vector<uint8_t> clientArea;  // B, G, R, X
long long pushedPixels = 0;       // everything showClientRect was asked to show

const WindowSystem kMemoryWindow{
    [] { return true; },
    [] {},
    [](int w, int h, const char*, const Image*) -> uintptr_t {
        clientArea.assign(static_cast<size_t>(w) * h * 4, 0xF0);
        return 1;
    },
    [] { clientArea.clear(); },
    [](PixelView* out) {
        if (clientArea.empty()) return false;
        *out = {clientArea.data(), kClientWidth, kClientHeight, kClientWidth * 4, 4};
        return true;
    },
    [](int, int, int w, int h) { pushedPixels += static_cast<long long>(w) * h; },
    [](int* w, int* h) {
        *w = kClientWidth;
        *h = kClientHeight;
    },
};

// ---- a scripted clock -----------------------------------------------------

// Counts milliseconds directly (1000 counts per second). Each reading moves
// it on by `clockStride` ms: 10 makes every tickerStep step, 0 stops time.
uint64_t clockNow = 1000;
uint64_t clockStride = 0;
const ClockSource kScriptedClock{
    [] {
        clockNow += clockStride;
        return clockNow;
    },
    []() -> uint64_t { return 1000; },
    []() -> uint32_t { return static_cast<uint32_t>(clockNow); },
};

// ---- the launcher's pictures, fonts, window and screen, once ------------

void setUpLauncher() {
    static bool done = false;
    if (done) return;
    done = true;
    clearLoaderState();
    setWindowSystem(&kMemoryWindow);
    setClockSource(&kScriptedClock);
    if (!loadEmbeddedAssets()) {
        std::fprintf(stderr, "micro: the embedded pictures or fonts did not load\n");
        std::exit(1);
    }
    prepareTicker();
    initScreenFacility();
    const uintptr_t window = createLoaderWindow(kClientWidth, kClientHeight, "bench");
    if (!createScreen(window, 0, 0, kClientWidth, kClientHeight, true, 0, 0, true)) {
        std::fprintf(stderr, "micro: no screen in the memory window\n");
        std::exit(1);
    }
    composeTitle();
}

// The overlay's first 20 rows as an image of their own: what a blend onto the
// band costs when nothing has to be clipped away.
Image* overlayBand() {
    static Image* band = nullptr;
    if (band) return band;
    const Image* overlay = imageByNumber(OverlayImageNumber);
    band = createImage(overlay->width, kStripHeight, overlay->bitsPerPixel);
    for (int y = 0; y < kStripHeight; ++y)
        for (int i = 0; i < overlay->width * overlay->bitsPerPixel / 8; ++i)
            band->pixels[y * band->pitch + i] = overlay->pixels[y * overlay->pitch + i];
    return band;
}

void setBandPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kStripWidth * kStripHeight);
}

// ---- drawing ----------------------------------------------------------------

// The ticker's blend: the whole 640 x 480 overlay at y = 460, clipped to the
// window's bottom 20 rows.
void BM_BlendOverlayOnBand(benchmark::State& state) {
    setUpLauncher();
    const Image* overlay = imageByNumber(OverlayImageNumber);
    for (auto _ : state) {
        beginSession(windowTarget());
        blendImage(overlay, 0, kBandY, 100);
        endSession();
        benchmark::ClobberMemory();
    }
    setBandPixels(state);
}
BENCHMARK(BM_BlendOverlayOnBand);

// Its floor: a 640 x 20 image blended at the same place.
void BM_BlendBandImageOnBand(benchmark::State& state) {
    setUpLauncher();
    const Image* band = overlayBand();
    for (auto _ : state) {
        beginSession(windowTarget());
        blendImage(band, 0, kBandY, 100);
        endSession();
        benchmark::ClobberMemory();
    }
    setBandPixels(state);
}
BENCHMARK(BM_BlendBandImageOnBand);

// Pasting the strip on the window, as every step does.
void BM_PasteStripOnBand(benchmark::State& state) {
    setUpLauncher();
    Image* strip = imageByNumber(StripImageNumber);
    for (auto _ : state) {
        beginSession(windowTarget());
        pasteImage(strip, 0, kBandY);
        endSession();
        benchmark::ClobberMemory();
    }
    setBandPixels(state);
}
BENCHMARK(BM_PasteStripOnBand);

// The scroll text into the strip in the ticker font, opaque, yellow, at x =
// state.range(0): 0 and -3000 put text over the whole strip, 320 half of it.
void BM_PutScrollTextInStrip(benchmark::State& state) {
    setUpLauncher();
    Image* strip = imageByNumber(StripImageNumber);
    const Font* font = fontByNumber(TickerFontNumber);
    const int x = static_cast<int>(state.range(0));
    for (auto _ : state) {
        beginSession(imageTarget(strip));
        selectFont(font);
        putText(x, kTextY, kScrollText, rgb(255, 255, 0));
        endSession();
        benchmark::ClobberMemory();
    }
    setBandPixels(state);
}
BENCHMARK(BM_PutScrollTextInStrip)->Arg(320)->Arg(0)->Arg(-3000);

// One beginSession / endSession pair on the window, drawing nothing.
void BM_EmptyWindowSession(benchmark::State& state) {
    setUpLauncher();
    for (auto _ : state) {
        beginSession(windowTarget());
        endSession();
    }
}
BENCHMARK(BM_EmptyWindowSession);

// ---- the ticker -------------------------------------------------------------

// A tickerStep that steps: the clock moves 10 ms per reading.
void BM_TickerStepStepping(benchmark::State& state) {
    setUpLauncher();
    clockStride = 10;
    setClockSource(&kScriptedClock);
    const int32_t before = loader.scrollX;
    for (auto _ : state) {
        tickerStep();
        benchmark::ClobberMemory();
    }
    clockStride = 0;
    // Every call must have moved the text one pixel (modulo the cycle).
    const long long cycle = loader.scrollLimit + 1;
    const long long moved = ((before - loader.scrollX) % cycle + cycle) % cycle;
    if (moved != static_cast<long long>(state.iterations() % cycle))
        state.SkipWithError("tickerStep did not step on every call");
}
BENCHMARK(BM_TickerStepStepping);

// A tickerStep that does not step: the clock stands still; only the blend.
void BM_TickerStepNotStepping(benchmark::State& state) {
    setUpLauncher();
    clockStride = 0;
    setClockSource(&kScriptedClock);
    tickerStep();  // takes lastTickMs to the frozen reading, if not there yet
    const int32_t before = loader.scrollX;
    for (auto _ : state) {
        tickerStep();
        benchmark::ClobberMemory();
    }
    if (loader.scrollX != before) state.SkipWithError("tickerStep stepped with the clock stopped");
}
BENCHMARK(BM_TickerStepNotStepping);

// One clock reading through the launcher's own (SDL) counter.
void BM_ClockMs(benchmark::State& state) {
    setUpLauncher();
    setClockSource(nullptr);
    for (auto _ : state) benchmark::DoNotOptimize(clockMs());
    setClockSource(&kScriptedClock);
}
BENCHMARK(BM_ClockMs);

// ---- presentation and the title --------------------------------------------

void BM_PresentScreen(benchmark::State& state) {
    setUpLauncher();
    for (auto _ : state) {
        presentScreen();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kClientWidth * kClientHeight);
}
BENCHMARK(BM_PresentScreen);

void BM_ComposeTitle(benchmark::State& state) {
    setUpLauncher();
    for (auto _ : state) {
        composeTitle();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kClientWidth * kClientHeight);
}
BENCHMARK(BM_ComposeTitle)->Unit(benchmark::kMicrosecond);

// ---- decoding and fonts: the start-up work before the window opens ----------

void BM_DecodeBackdropJpeg(benchmark::State& state) {
    const EmbeddedBlock block = embeddedBackdrop();
    for (auto _ : state) {
        Image* image = decodeJpeg(block.data, block.length);
        if (!image) state.SkipWithError("the backdrop did not decode");
        destroyImage(image);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(block.length));
}
BENCHMARK(BM_DecodeBackdropJpeg)->Unit(benchmark::kMicrosecond);

void BM_DecodeOverlayPng(benchmark::State& state) {
    const EmbeddedBlock block = embeddedOverlay();
    for (auto _ : state) {
        Image* image = decodePng(block.data, block.length);
        if (!image) state.SkipWithError("the overlay did not decode");
        destroyImage(image);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(block.length));
}
BENCHMARK(BM_DecodeOverlayPng)->Unit(benchmark::kMicrosecond);

// Opening the ticker font: sizing the face and rendering all 256 byte values.
void BM_OpenTickerFont(benchmark::State& state) {
    setUpLauncher();
    constexpr int kScratchNumber = 7;
    for (auto _ : state) {
        if (!openFont(kScratchNumber, "cbm", 12)) state.SkipWithError("the font did not open");
    }
}
BENCHMARK(BM_OpenTickerFont)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
