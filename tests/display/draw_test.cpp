// Drawing operations on off-screen images: copying, blending, text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "launcher/display/draw.h"
#include "tests/support/fake_window.h"

namespace {

struct ImageDeleter {
    void operator()(Image* image) const { destroyImage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

ImagePtr filled(int w, int h, int bits, uint8_t b, uint8_t g, uint8_t r, uint8_t a = 0) {
    ImagePtr image(createImage(w, h, bits));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = image->pixels + y * image->pitch + x * (bits / 8);
            p[0] = b;
            p[1] = g;
            p[2] = r;
            if (bits == 32) p[3] = a;
        }
    return image;
}

const uint8_t* px(const Image& image, int x, int y) {
    return image.pixels + y * image.pitch + x * (image.bitsPerPixel / 8);
}

// Runs `draw` inside a session on the image.
template <typename Draw>
void onImage(Image* image, Draw draw) {
    ASSERT_TRUE(beginSession(imageTarget(image)));
    draw();
    endSession();
}

struct BlendCase {
    int colour, alpha, opacity, target;
};

TEST(BlendImage, FollowsTheWeightedAverageWithinRounding) {
    const BlendCase cases[] = {
        {255, 255, 255, 0},   {0, 255, 255, 200}, {0, 0, 255, 200},   {255, 0, 100, 17},
        {0, 246, 100, 200},   {0, 246, 100, 255}, {255, 128, 128, 0}, {10, 200, 50, 250},
        {255, 255, 100, 100}, {77, 1, 1, 33},     {200, 246, 0, 90},
    };
    for (const BlendCase& c : cases) {
        ImagePtr target = filled(1, 1, 32, c.target, c.target, c.target, 77);
        ImagePtr source = filled(1, 1, 32, c.colour, c.colour, c.colour, c.alpha);
        onImage(target.get(), [&] { blendImage(source.get(), 0, 0, c.opacity); });
        const double w = c.alpha / 255.0 * c.opacity / 255.0;
        const double expected = c.colour * w + c.target * (1 - w);
        for (int i = 0; i < 3; ++i)
            EXPECT_LE(std::abs(px(*target, 0, 0)[i] - expected), 0.5)
                << "colour " << c.colour << " alpha " << c.alpha << " opacity " << c.opacity << " target " << c.target;
        EXPECT_EQ(px(*target, 0, 0)[3], 77) << "the target's alpha is never changed";
    }
}

TEST(BlendImage, RowsOfMixedPixelsFollowTheSameFormula) {
    // Pixels of one row that differ in colour and alpha, one of them transparent.
    ImagePtr target = filled(4, 2, 32, 100, 150, 200, 5);
    ImagePtr source(createImage(4, 2, 32));
    const uint8_t pixels[4][4] = {{255, 0, 10, 255}, {0, 0, 0, 0}, {20, 40, 60, 128}, {200, 100, 50, 246}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) std::memcpy(source->pixels + y * source->pitch + x * 4, pixels[x], 4);
    onImage(target.get(), [&] { blendImage(source.get(), 0, 0, 100); });
    const int before[3] = {100, 150, 200};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            const double w = pixels[x][3] / 255.0 * 100 / 255.0;
            for (int i = 0; i < 3; ++i)
                EXPECT_LE(std::abs(px(*target, x, y)[i] - (pixels[x][i] * w + before[i] * (1 - w))), 0.5)
                    << x << "," << y << " channel " << i;
            EXPECT_EQ(px(*target, x, y)[3], 5);
        }
}

TEST(BlendImage, ScanLineRowDarkensTo62PercentThen39) {
    ImagePtr target = filled(4, 2, 32, 200, 100, 50, 255);
    ImagePtr overlay = filled(4, 2, 32, 0, 0, 0, 246);
    // Row 0 of the overlay is white but fully transparent.
    for (int x = 0; x < 4; ++x) {
        uint8_t* p = overlay->pixels + x * 4;
        p[0] = p[1] = p[2] = 255;
        p[3] = 0;
    }
    onImage(target.get(), [&] { blendImage(overlay.get(), 0, 0, 100); });
    EXPECT_EQ(px(*target, 0, 0)[0], 200) << "a transparent row leaves the target alone";
    EXPECT_NEAR(px(*target, 0, 1)[0], 200 * 0.622, 1.0);
    EXPECT_NEAR(px(*target, 0, 1)[1], 100 * 0.622, 1.0);
    onImage(target.get(), [&] { blendImage(overlay.get(), 0, 0, 100); });
    EXPECT_NEAR(px(*target, 0, 1)[0], 200 * 0.387, 1.0);
    EXPECT_EQ(px(*target, 3, 0)[2], 50);
}

TEST(BlendImage, ImageWithoutAlphaCountsAsOpaque) {
    ImagePtr target = filled(2, 2, 32, 0, 0, 0);
    ImagePtr source = filled(2, 2, 24, 255, 255, 255);
    onImage(target.get(), [&] { blendImage(source.get(), 0, 0, 255); });
    EXPECT_EQ(px(*target, 1, 1)[0], 255);
    onImage(target.get(), [&] { blendImage(filled(2, 2, 24, 0, 0, 0).get(), 0, 0, 100); });
    EXPECT_NEAR(px(*target, 1, 1)[0], 255 * (1 - 100 / 255.0), 0.5);
}

// Where a 3 x 3 source lands on a 5 x 4 target at each offset: the covered
// pixels change, nothing else does, and nothing is written outside.
TEST(PasteAndBlend, ClipAtEveryEdgeAndWithNegativeCoordinates) {
    const struct {
        int x, y;
    } offsets[] = {{0, 0}, {-1, -1}, {-2, 0}, {3, 2}, {4, 3}, {-3, 0}, {5, 0}, {0, -3}, {0, 4}, {-100, -100}, {2, -2}};
    for (auto op : {0, 1}) {
        for (const auto& o : offsets) {
            ImagePtr target = filled(5, 4, 32, 10, 10, 10, 1);
            ImagePtr source = filled(3, 3, 24, 200, 200, 200);
            onImage(target.get(), [&] {
                if (op == 0) pasteImage(source.get(), o.x, o.y);
                else blendImage(source.get(), o.x, o.y, 255);
            });
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 5; ++x) {
                    const bool covered = x >= o.x && x < o.x + 3 && y >= o.y && y < o.y + 3;
                    EXPECT_EQ(px(*target, x, y)[0], covered ? 200 : 10) << "op " << op << " at " << o.x << "," << o.y;
                    EXPECT_EQ(px(*target, x, y)[3], 1);
                }
        }
    }
}

TEST(PasteImage, CopiesColoursAndIgnoresAlpha) {
    ImagePtr target = filled(2, 1, 32, 1, 2, 3, 255);
    ImagePtr source = filled(2, 1, 32, 40, 50, 60, 0);
    onImage(target.get(), [&] { pasteImage(source.get(), 0, 0); });
    EXPECT_EQ(px(*target, 1, 0)[0], 40);
    EXPECT_EQ(px(*target, 1, 0)[1], 50);
    EXPECT_EQ(px(*target, 1, 0)[2], 60);
    EXPECT_EQ(px(*target, 1, 0)[3], 255);

    ImagePtr target24 = filled(2, 1, 24, 0, 0, 0);
    onImage(target24.get(), [&] { pasteImage(source.get(), 1, 0); });
    EXPECT_EQ(px(*target24, 1, 0)[2], 60);
    EXPECT_EQ(px(*target24, 0, 0)[2], 0);
}

TEST(Drawing, DoesNothingWithoutSessionOrImage) {
    ImagePtr target = filled(2, 2, 32, 9, 9, 9);
    ImagePtr source = filled(2, 2, 24, 200, 200, 200);
    fake::BlockFont font(2, "A");
    pasteImage(source.get(), 0, 0);
    blendImage(source.get(), 0, 0, 255);
    selectFont(&font.font);
    EXPECT_EQ(putText(0, 0, "A"), 0);
    EXPECT_EQ(measureText("A"), 0);
    onImage(target.get(), [&] {
        pasteImage(nullptr, 0, 0);
        blendImage(nullptr, 0, 0, 100);
        putText(0, 0, "A");  // the default font draws nothing
    });
    EXPECT_EQ(px(*target, 0, 0)[0], 9);
}

TEST(Text, MeasureAndReturnedPositionFollowTheAdvances) {
    ImagePtr target = filled(64, 8, 32, 0, 0, 0);
    fake::BlockFont font(4, "AB");
    onImage(target.get(), [&] {
        selectFont(&font.font);
        EXPECT_EQ(measureText("ABBA"), 16);
        EXPECT_EQ(measureText(""), 0);
        EXPECT_EQ(putText(3, 0, "AB C"), 3 + 16);
        selectFont(nullptr);  // a missing font keeps the current one
        EXPECT_EQ(measureText("A"), 4);
    });
}

TEST(Text, TransparentPaintsOnlyCoveredPixels) {
    ImagePtr target = filled(12, 6, 32, 30, 40, 50, 9);
    fake::BlockFont font(4, "X", 128);
    onImage(target.get(), [&] {
        setTextBackground(TextBackground::Transparent);
        setTextColour(rgb(255, 0, 0));
        selectFont(&font.font);
        putText(1, 1, "X X");  // the blank's cell and everything around stays
    });
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 12; ++x) {
            const uint8_t* p = px(*target, x, y);
            const bool inGlyph = y >= 1 && y < 5 && ((x >= 1 && x < 5) || (x >= 9 && x < 13));
            if (!inGlyph) {
                EXPECT_EQ(p[0], 30) << x << "," << y;
                EXPECT_EQ(p[2], 50) << x << "," << y;
            } else if (x == 4 || x == 12) {  // the half-covered column is blended
                EXPECT_NEAR(p[2], (128 * 255 + 127 * 50) / 255.0, 1.0);
                EXPECT_NEAR(p[0], (127 * 30) / 255.0, 1.0);
            } else {
                EXPECT_EQ(p[2], 255);
                EXPECT_EQ(p[0], 0);
            }
            EXPECT_EQ(p[3], 9);
        }
}

TEST(Text, OpaqueCellFollowsTheCoverageFormula) {
    for (int coverage : {0, 1, 64, 127, 128, 200, 254, 255}) {
        ImagePtr target = filled(10, 6, 32, 99, 99, 99, 255);
        fake::BlockFont font(4, "X", static_cast<uint8_t>(coverage));
        onImage(target.get(), [&] {
            selectFont(&font.font);
            putText(1, 1, "X ", rgb(255, 255, 0));
        });
        // Background black, text yellow: ((255 - c) * 0 + c * t) / 255.
        const uint8_t* edge = px(*target, 4, 2);
        EXPECT_EQ(edge[2], coverage * 255 / 255) << coverage;
        EXPECT_EQ(edge[1], coverage * 255 / 255) << coverage;
        EXPECT_EQ(edge[0], 0);
        EXPECT_EQ(edge[3], 255) << "alpha stays";
        EXPECT_EQ(px(*target, 2, 2)[2], 255);
        EXPECT_EQ(px(*target, 6, 3)[2], 0) << "the blank's cell is background";
        EXPECT_EQ(px(*target, 0, 2)[2], 99) << "left of the cell untouched";
        EXPECT_EQ(px(*target, 9, 2)[2], 99) << "right of the cell untouched";
        EXPECT_EQ(px(*target, 3, 0)[2], 99) << "above the cell untouched";
        EXPECT_EQ(px(*target, 3, 5)[2], 99) << "below the cell untouched";
    }
}

TEST(Text, OpaqueFormulaUsesIntegerDivision) {
    // With a text channel of 128 and coverage 200: (200 * 128) / 255 = 100.39 -> 100.
    ImagePtr target = filled(4, 4, 32, 0, 0, 0, 255);
    fake::BlockFont font(4, "X", 200);
    onImage(target.get(), [&] {
        selectFont(&font.font);
        putText(0, 0, "X", rgb(128, 0, 0));
    });
    EXPECT_EQ(px(*target, 3, 0)[2], 100);
}

TEST(Text, ExplicitColourLeavesTheSessionColour) {
    ImagePtr target = filled(8, 4, 32, 0, 0, 0);
    fake::BlockFont font(4, "X");
    onImage(target.get(), [&] {
        selectFont(&font.font);
        setTextColour(rgb(0, 0, 255));
        putText(0, 0, "X", rgb(255, 0, 0));
        putText(4, 0, "X");
    });
    EXPECT_EQ(px(*target, 0, 0)[2], 255);
    EXPECT_EQ(px(*target, 0, 0)[0], 0);
    EXPECT_EQ(px(*target, 4, 0)[0], 255);
    EXPECT_EQ(px(*target, 4, 0)[2], 0);
}

TEST(Text, ClipsLongLinesFarOutside) {
    ImagePtr target = filled(8, 4, 32, 7, 7, 7);
    fake::BlockFont font(4, "X");
    onImage(target.get(), [&] {
        selectFont(&font.font);
        putText(-6064, 0, "XXXX");            // wholly left of the target
        putText(8, 0, "XXXX");                // wholly right
        putText(-2, 2, "XX", rgb(255, 0, 0)); // half above the bottom edge, half left
    });
    EXPECT_EQ(px(*target, 0, 0)[2], 7);
    EXPECT_EQ(px(*target, 7, 0)[2], 7);
    EXPECT_EQ(px(*target, 0, 2)[2], 255);
    EXPECT_EQ(px(*target, 1, 3)[2], 255);
    EXPECT_EQ(px(*target, 5, 3)[2], 255) << "the second X";
    EXPECT_EQ(px(*target, 6, 2)[2], 7) << "right of the cell";
}

}  // namespace
