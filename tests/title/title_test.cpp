// The composed title against the decoded pictures it is made of.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/assets/fonts.h"
#include "launcher/assets/images.h"
#include "launcher/display/draw.h"
#include "launcher/title/title.h"
#include "tests/support/assets_on_disk.h"
#include "tests/support/fake_window.h"

namespace {

class Title : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static const std::vector<uint8_t> face = readAsset("cbm.ttf");
        registerFontData(face.data(), face.size());
        registerPngDecoder();
        registerJpegDecoder();
    }

    void SetUp() override {
        fake::openScreen();
        backdrop = readAsset("backdrop.jpg");
        overlay = readAsset("scanlines.png");
        ASSERT_NE(decodeImage(BackdropImageNumber, backdrop.data(), backdrop.size()), nullptr);
        ASSERT_NE(decodeImage(OverlayImageNumber, overlay.data(), overlay.size()), nullptr);
        ASSERT_NE(openFont(MenuFontNumber, "cbm", 9), nullptr);
    }

    void TearDown() override {
        fake::closeScreen();
        deleteAllImages();
        deleteAllFonts();
    }

    std::vector<uint8_t> backdrop, overlay;
};

const uint8_t* at(const Image& image, int x, int y) {
    return image.pixels + y * image.pitch + x * (image.bitsPerPixel / 8);
}

// The backdrop pixel darkened once by a black overlay row: weight 246 * 100 / 65025.
int darkened(int channel) { return static_cast<int>(std::lround(channel * (1.0 - 246.0 * 100 / 65025))); }

TEST_F(Title, EvenRowsAreBackdropWithTextAndOddRowsTheSameDarkenedOnce) {
    composeTitle();
    const Image& back = *screenBackBuffer();
    const Image& pic = *imageByNumber(BackdropImageNumber);
    ASSERT_EQ(pic.bitsPerPixel, 24);

    // Outside the menu's rows the title is the backdrop, odd rows darkened.
    int compared = 0;
    for (int y = 0; y < 480; ++y) {
        if (y >= 252 && y < 422) continue;
        for (int x = 0; x < 640; ++x) {
            for (int i = 0; i < 3; ++i) {
                const int expected = y % 2 ? darkened(at(pic, x, y)[i]) : at(pic, x, y)[i];
                ASSERT_NEAR(at(back, x, y)[i], expected, 1) << x << "," << y;
            }
            ++compared;
        }
    }
    EXPECT_EQ(compared, 640 * (480 - 170));
}

TEST_F(Title, MenuLinesStandAtTheirPositionsInTheirColours) {
    composeTitle();
    const Image& back = *screenBackBuffer();
    const Image& pic = *imageByNumber(BackdropImageNumber);
    for (const MenuLine& line : kMenuLines) {
        const int width = 12 * static_cast<int>(std::strlen(line.text));
        const uint8_t want[3] = {static_cast<uint8_t>(line.colour >> 16), static_cast<uint8_t>(line.colour >> 8),
                                 static_cast<uint8_t>(line.colour)};
        int leftmost = 1 << 30, inColour = 0;
        for (int y = line.y + line.y % 2; y < line.y + 12; y += 2) {  // even rows: not darkened
            for (int x = 0; x < 640; ++x) {
                const bool changed = std::memcmp(at(back, x, y), at(pic, x, y), 3) != 0;
                const bool exact = std::memcmp(at(back, x, y), want, 3) == 0;
                if (exact) {
                    EXPECT_GE(x, line.x) << line.text;
                    EXPECT_LT(x, line.x + width) << line.text;
                    ++inColour;
                }
                if (changed && x >= line.x - 1 && x < line.x + width + 1) leftmost = std::min(leftmost, x);
            }
        }
        EXPECT_GT(inColour, 20) << line.text;
        // Every capital starts in its cell's first or second grid column.
        EXPECT_GE(leftmost, line.x) << line.text;
        EXPECT_LE(leftmost, line.x + 3) << line.text;
    }
}

TEST_F(Title, PositionsAreFixedWhateverTheFontsWidths) {
    // A wider font makes the lines run further right; it does not move their starts.
    fake::BlockFont wide(20, "ABCDEFGHIJKLMNOPQRSTUVWXYZ:>-<12");
    const Image& pic = *imageByNumber(BackdropImageNumber);
    for (const MenuLine& line : kMenuLines) {
        beginSession(screenTarget());
        pasteImage(&pic, 0, 0);
        endSession();
        beginSession(screenTarget());
        setTextBackground(TextBackground::Transparent);
        selectFont(&wide.font);
        putText(line.x, line.y, line.text);
        endSession();
        EXPECT_NE(std::memcmp(at(*screenBackBuffer(), line.x, line.y), at(pic, line.x, line.y), 3), 0);
    }
}

TEST_F(Title, ComposingPresentsNothingAndLeavesNoSessionOpen) {
    fake::window().pushes.clear();
    composeTitle();
    EXPECT_TRUE(fake::window().pushes.empty());
    EXPECT_EQ(currentSession(), nullptr);
    EXPECT_EQ(fake::window().at(320, 240)[0], 0xF0) << "the window still shows its background";
}

TEST_F(Title, MissingPicturesDrawNothingAndCompositionGoesOn) {
    deleteAllImages();
    composeTitle();
    const Image& back = *screenBackBuffer();
    EXPECT_EQ(at(back, 10, 10)[0], 0) << "no backdrop: the back buffer stays black";
    bool text = false;
    for (int x = 225; x < 225 + 12 * 18; ++x) text |= at(back, x, 256)[0] != 0;
    EXPECT_TRUE(text) << "the menu lines are still drawn";
}

}  // namespace
