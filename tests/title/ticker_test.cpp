// The scroll ticker on a window in memory, with a scripted clock and the real face.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "launcher/assets/fonts.h"
#include "launcher/assets/images.h"
#include "launcher/display/draw.h"
#include "launcher/loader_state.h"
#include "launcher/title/clock.h"
#include "launcher/title/ticker.h"
#include "tests/support/assets_on_disk.h"
#include "tests/support/fake_window.h"

namespace {

int32_t now = 0;  // the scripted clock, in milliseconds
const ClockSource kScriptedClock{
    [] { return static_cast<uint64_t>(static_cast<uint32_t>(now)); },
    [] { return uint64_t{1000}; },
    [] { return static_cast<uint32_t>(now); },
};

// The overlay as its row table says: row 0 white and transparent, odd rows
// black at alpha 246, other rows black and transparent.
Image* scanLineOverlay() {
    Image* overlay = createImage(640, 480, 32);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            uint8_t* p = overlay->pixels + y * overlay->pitch + x * 4;
            if (y == 0) p[0] = p[1] = p[2] = 255;
            p[3] = y % 2 ? 246 : 0;
        }
    return overlay;
}

class Ticker : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static const std::vector<uint8_t> face = readAsset("cbm.ttf");
        ASSERT_FALSE(face.empty());
        registerFontData(face.data(), face.size());
    }

    void SetUp() override {
        fake::openScreen();
        clearLoaderState();
        now = 1000;
        setClockSource(&kScriptedClock);
        ASSERT_NE(openFont(TickerFontNumber, "cbm", 12), nullptr);
        storeImage(OverlayImageNumber, scanLineOverlay());
        prepareTicker();
    }

    void TearDown() override {
        fake::closeScreen();
        setClockSource(nullptr);
        deleteAllImages();
        deleteAllFonts();
    }

    static const Image& strip() { return *imageByNumber(StripImageNumber); }
    static const uint8_t* stripAt(int x, int y) { return strip().pixels + y * strip().pitch + x * 4; }
    static const uint8_t* windowAt(int x, int y) { return fake::window().at(x, y); }

    // One call with the clock moved on by `ms`.
    static void callAfter(int ms) {
        now += ms;
        tickerStep();
    }
};

TEST_F(Ticker, PreparesABlackOpaqueStripAndMeasuresTheText) {
    EXPECT_EQ(std::strlen(kScrollText), 379u);
    EXPECT_EQ(loader.scrollText, kScrollText);
    EXPECT_EQ(loader.scrollLimit, 6064 + 640) << "16 px per character at 96 dpi";
    EXPECT_EQ(loader.scrollX, 640);
    EXPECT_EQ(loader.tickIntervalMs, 5);
    EXPECT_EQ(loader.lastTickMs, 1000);
    ASSERT_EQ(strip().width, 640);
    ASSERT_EQ(strip().height, 20);
    ASSERT_EQ(strip().bitsPerPixel, 32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 640; ++x) {
            const uint8_t* p = stripAt(x, y);
            ASSERT_EQ(p[0] | p[1] | p[2], 0);
            ASSERT_EQ(p[3], 255);
        }
}

TEST(ScrollText, HasItsFourSectionsInCapitals) {
    const std::string text = kScrollText;
    for (char c : text) EXPECT_TRUE(c >= ' ' && c <= '~' && !(c >= 'a' && c <= 'z')) << int(c);
    std::vector<std::string> sections;
    for (size_t start = 0;;) {
        const size_t end = text.find(" +++ ", start);
        sections.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 5;
    }
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_EQ(sections[0].rfind("QUORBEL V0.5 BY ", 0), 0u);
    EXPECT_NE(sections[0].find("... PLAY JOLTRAK(C64) BY "), std::string::npos);
    EXPECT_EQ(sections[1].rfind("SPECIALE THX TO ", 0), 0u);
    EXPECT_EQ(sections[2], "SIDTUNE STOLEN FROM HIGH VOLTAGE SID COLLECTION - TRACK: UNKOWN117");
    const std::string greetings = "GREETINGS TO ", ending = " - AND ALL PEOPLE OVER THE WORLD :D ";
    ASSERT_EQ(sections[3].rfind(greetings, 0), 0u);
    ASSERT_GE(sections[3].size(), greetings.size() + ending.size());
    EXPECT_EQ(sections[3].substr(sections[3].size() - ending.size()), ending);
    const std::string names = sections[3].substr(greetings.size(), sections[3].size() - greetings.size() - ending.size());
    int count = 1;
    for (size_t at = names.find(" - "); at != std::string::npos; at = names.find(" - ", at + 3)) ++count;
    EXPECT_EQ(count, 14) << names;
}

TEST_F(Ticker, StepsOnlyWhenMoreThanTheIntervalHasPassed) {
    callAfter(5);
    EXPECT_EQ(loader.scrollX, 640) << "5 ms after the last step is not yet due";
    EXPECT_EQ(loader.lastTickMs, 1000);
    callAfter(1);
    EXPECT_EQ(loader.scrollX, 639) << "6 ms after it is";
    EXPECT_EQ(loader.lastTickMs, 1006);
    callAfter(0);
    callAfter(5);
    EXPECT_EQ(loader.scrollX, 639);
    callAfter(3);
    EXPECT_EQ(loader.scrollX, 638);
}

TEST_F(Ticker, DueTestWrapsAroundInSigned32Bits) {
    // The sum wraps to a negative number that the reading is above: due.
    loader.lastTickMs = INT32_MAX - 2;
    now = INT32_MIN + 4;
    tickerStep();
    EXPECT_EQ(loader.scrollX, 639);
    EXPECT_EQ(loader.lastTickMs, INT32_MIN + 4);

    // The reading wrapped but the sum did not: no step until the clock is back
    // above lastTickMs + 5.
    loader.lastTickMs = INT32_MAX - 100;
    now = INT32_MIN + 100;
    tickerStep();
    EXPECT_EQ(loader.scrollX, 639);
}

TEST_F(Ticker, FirstStepPastesABlackBandAndEveryCallBlendsTheOverlay) {
    // The window shows a grey title band before the ticker runs.
    for (int y = 460; y < 480; ++y)
        for (int x = 0; x < 640; ++x) std::memset(fake::window().at(x, y), 200, 3);
    std::memset(fake::window().at(0, 459), 200, 3);

    callAfter(5);  // no step: only the overlay darkens the odd rows
    EXPECT_EQ(windowAt(10, 460)[0], 200);
    EXPECT_NEAR(windowAt(10, 461)[0], 200 * 0.622, 1.0);
    callAfter(0);
    EXPECT_NEAR(windowAt(10, 461)[0], 200 * 0.622 * 0.622, 1.5) << "and deeper with every pass between steps";

    callAfter(1);  // the first step draws the text at x = 640, wholly outside
    for (int y = 460; y < 480; ++y)
        for (int x = 0; x < 640; x += 7) ASSERT_EQ(windowAt(x, y)[2], 0) << x << "," << y;
    EXPECT_EQ(windowAt(0, 459)[0], 200) << "the title above the band is left alone";
    EXPECT_EQ(loader.scrollX, 639);

    // From the second step on the text enters from the right, one pixel per
    // step: after eight steps its cell starts at x = 633 and nothing lies left of it.
    for (int step = 0; step < 7; ++step) callAfter(6);
    const int32_t drawnAt = loader.scrollX + 1;
    ASSERT_EQ(drawnAt, 633);
    bool yellowInCell = false, yellowLeft = false;
    for (int y = 460; y < 480; ++y)
        for (int x = 0; x < 640; ++x) (x >= drawnAt ? yellowInCell : yellowLeft) |= windowAt(x, y)[2] > 0;
    EXPECT_TRUE(yellowInCell);
    EXPECT_FALSE(yellowLeft);
}

TEST_F(Ticker, OneCycleRunsFrom640DownToMinusWidthThenStartsAgain) {
    const int32_t width = loader.scrollLimit - 640;
    std::vector<int32_t> drawnAt;
    for (int step = 0; step < 641 + width + 2; ++step) {
        drawnAt.push_back(loader.scrollX);
        callAfter(6);
    }
    ASSERT_EQ(drawnAt.size(), static_cast<size_t>(643 + width));
    for (int32_t i = 0; i < 641 + width; ++i) ASSERT_EQ(drawnAt[i], 640 - i);
    EXPECT_EQ(drawnAt[641 + width], 640) << "after -W comes 640, not -W - 1";
    EXPECT_EQ(drawnAt[642 + width], 639);
}

TEST_F(Ticker, TextIsYellowByCoverageInsideItsCellAndLeavesNoTrace) {
    // Run until the text fills the strip, then compare with a fresh rendering
    // at the same position on a clean strip.
    for (int step = 0; step < 800; ++step) callAfter(6);
    const int32_t drawnAt = loader.scrollX + 1;

    Image* fresh = createImage(640, 20, 32);
    beginSession(imageTarget(fresh));
    selectFont(fontByNumber(TickerFontNumber));
    putText(drawnAt, 3, kScrollText, rgb(255, 255, 0));
    endSession();

    int lit = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 640; ++x) {
            const uint8_t* p = stripAt(x, y);
            const uint8_t* q = fresh->pixels + y * fresh->pitch + x * 4;
            ASSERT_EQ(std::memcmp(p, q, 3), 0) << "trace of an earlier position at " << x << "," << y;
            ASSERT_EQ(p[0], 0) << "blue is 0";
            ASSERT_EQ(p[1], p[2]) << "red and green both equal the coverage";
            ASSERT_EQ(p[3], 255) << "alpha untouched";
            if (y < 3 || y >= 19) {
                ASSERT_EQ(p[2], 0) << "rows outside the cell stay black";
            }
            lit += p[2] == 255;
        }
    EXPECT_GT(lit, 1000);
    destroyImage(fresh);
}

}  // namespace
