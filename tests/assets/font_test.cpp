// Fonts made from the embedded face "CBM": found by family name regardless of
// case, sized by points at the display's dpi, with the line heights and
// advances of the title and the ticker, and glyphs placed in their cells.
#include "launcher/assets/fonts.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "launcher/assets/embedded.h"

namespace {

TEST(EmPixels, PointsAtDpiRoundHalfAwayFromZero) {
    struct Case {
        int points, dpi, pixels;
    };
    const Case cases[] = {
        {12, 96, 16}, {12, 120, 20}, {12, 144, 24},  // the ticker's font
        {9, 96, 12},  {9, 120, 15},  {9, 144, 18},   // the menu's font
        {1, 36, 1},   {3, 60, 3},    {-1, 36, -1},   // exact halves: 0.5, 2.5, -0.5
        {10, 96, 13}, {11, 96, 15},  {0, 96, 0},     // 13.33 down, 14.67 up
    };
    for (const Case& c : cases)
        EXPECT_EQ(emPixelsFor(c.points, c.dpi), c.pixels) << c.points << " pt at " << c.dpi << " dpi";
}

class Fonts : public ::testing::Test {
protected:
    void SetUp() override {
        deleteAllFonts();
        resetFontRegistrations();
        face = embeddedFace();
        ASSERT_NE(face.data, nullptr);
        ASSERT_GT(face.length, 0u);
    }
    void TearDown() override {
        deleteAllFonts();
        resetFontRegistrations();
    }
    void registerFace() { ASSERT_NE(registerFontData(face.data, face.length), 0u); }

    EmbeddedBlock face{};
};

TEST_F(Fonts, NothingIsFoundBeforeRegistration) {
    EXPECT_EQ(openFont(TickerFontNumber, "cbm", 12), nullptr);
    EXPECT_EQ(fontByNumber(TickerFontNumber), nullptr);
}

TEST_F(Fonts, GarbageRegistersNothing) {
    static const uint8_t garbage[64] = {0, 1, 0, 0, 0, 4, 'n', 'o', 'p', 'e'};
    EXPECT_EQ(registerFontData(garbage, sizeof garbage), 0u);
    EXPECT_EQ(registerFontData(nullptr, 100), 0u);
    EXPECT_EQ(registerFontData(face.data, 0), 0u);
    EXPECT_EQ(registerFontData(face.data, 12), 0u);  // a face cut after its first bytes
    EXPECT_EQ(openFont(TickerFontNumber, "cbm", 12), nullptr);
}

TEST_F(Fonts, FamilyIsMatchedWithoutRegardToCase) {
    registerFace();
    for (const char* family : {"cbm", "CBM", "Cbm", "cBm"}) {
        SCOPED_TRACE(family);
        EXPECT_NE(openFont(MenuFontNumber, family, 9), nullptr);
    }
    for (const char* family : {"cbmx", "cb", "Arial", "", "cbm "}) {
        SCOPED_TRACE(family);
        EXPECT_EQ(openFont(MenuFontNumber, family, 9), nullptr);
        EXPECT_EQ(fontByNumber(MenuFontNumber), nullptr);  // the font made before is gone
        ASSERT_NE(openFont(MenuFontNumber, "cbm", 9), nullptr);
    }
}

TEST_F(Fonts, TickerAndMenuFontsHaveTheirCellSizes) {
    registerFace();
    struct Case {
        int number, points, em, lineHeight;
    };
    const Case cases[] = {
        {TickerFontNumber, 12, 16, 16},
        {MenuFontNumber, 9, 12, 12},
    };
    const char* const text = "JOLTRAK (C) 2024 - PRESS 1 OR 2, ESC: QUIT!";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.points);
        Font* font = openFont(c.number, "cbm", c.points);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(fontByNumber(c.number), font);
        EXPECT_EQ(font->emPixels, c.em);
        // 668 units of ascent over 667 per em: 16.02 px rounds to 16.
        EXPECT_EQ(font->ascent, c.lineHeight);
        EXPECT_EQ(font->descent, 0);
        EXPECT_EQ(font->lineHeight, c.lineHeight);
        int width = 0;
        for (const char* p = text; *p; ++p) {
            EXPECT_EQ(font->glyphs[static_cast<unsigned char>(*p)].advance, c.em) << "'" << *p << "'";
            width += font->glyphs[static_cast<unsigned char>(*p)].advance;
        }
        EXPECT_EQ(width, c.em * static_cast<int>(std::char_traits<char>::length(text)));
    }
    EXPECT_NE(fontByNumber(TickerFontNumber), fontByNumber(MenuFontNumber));
}

TEST_F(Fonts, BytesWithoutAGlyphAdvanceNothing) {
    registerFace();
    Font* font = openFont(TickerFontNumber, "cbm", 12);
    ASSERT_NE(font, nullptr);
    // The face maps U+0020..U+007F and U+00A0..U+00FF only.
    for (int code : {0x00, 0x01, 0x0A, 0x1F, 0x80, 0x9F}) {
        EXPECT_EQ(font->glyphs[code].advance, 0) << code;
        EXPECT_EQ(font->glyphs[code].coverage, nullptr) << code;
        EXPECT_EQ(font->glyphs[code].width, 0) << code;
    }
    for (int code : {0x20, 0x41, 0x7F, 0xA0, 0xE9, 0xFF}) EXPECT_EQ(font->glyphs[code].advance, 16) << code;
    // Blank characters advance but have no bitmap.
    EXPECT_EQ(font->glyphs[' '].coverage, nullptr);
    EXPECT_EQ(font->glyphs[0xA0].coverage, nullptr);
}

using Cells = std::array<std::string, 8>;  // '#' set, '.' clear; row 0 at the top of the em

// Every block of the glyph sheet, by code point.
std::array<Cells, 256> readSheet() {
    std::array<Cells, 256> sheet{};
    std::ifstream in(QUORBEL_SOURCE_DIR "/assets/cbm-glyphs.txt");
    std::string line;
    while (std::getline(in, line)) {
        unsigned code = 0;
        if (std::sscanf(line.c_str(), "U+%4X", &code) != 1 || code > 255) continue;
        for (std::string& row : sheet[code]) std::getline(in, row);
    }
    return sheet;
}

TEST_F(Fonts, GlyphsSitInTheirCellsAsTheSheetDrawsThem) {
    // At 16 px a grid cell is 2 x 2 pixels. Each glyph's coverage, placed at
    // (left, top) in its 16 x 16 text cell, must show the sheet's cells: full
    // where set, empty where clear: the outline is snapped to the grid, so no
    // pixel is partly covered.
    registerFace();
    Font* font = openFont(TickerFontNumber, "cbm", 12);
    ASSERT_NE(font, nullptr);
    const std::array<Cells, 256> sheet = readSheet();
    int drawn = 0;
    for (int code = 0; code < 256; ++code) {
        const Cells& cells = sheet[code];
        if (cells[0].empty()) continue;
        SCOPED_TRACE(code);
        const Glyph& g = font->glyphs[code];
        ASSERT_EQ(g.advance, 16);
        int cell[16][16] = {};
        if (g.coverage) {
            ASSERT_GE(g.left, 0);
            ASSERT_GE(g.top, 0);
            ASSERT_LE(g.left + g.width, 16);
            ASSERT_LE(g.top + g.height, font->lineHeight);
            for (int y = 0; y < g.height; ++y)
                for (int x = 0; x < g.width; ++x) cell[g.top + y][g.left + x] = g.coverage[y * g.width + x];
        }
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool set = cells[y / 2][x / 2] == '#';
                EXPECT_EQ(cell[y][x], set ? 255 : 0) << "(" << x << ", " << y << ")";
            }
        ++drawn;
    }
    EXPECT_EQ(drawn, 192);  // every mapped character
}

TEST_F(Fonts, MenuFontIsSmoothedInGrey) {
    // 1.5-pixel cells cannot fall on whole pixels: grey rendering gives
    // partial coverage at the edges, where a one-bit rendering would not.
    registerFace();
    Font* font = openFont(MenuFontNumber, "cbm", 9);
    ASSERT_NE(font, nullptr);
    const Glyph& a = font->glyphs['A'];
    ASSERT_NE(a.coverage, nullptr);
    int partial = 0, full = 0;
    for (int i = 0; i < a.width * a.height; ++i) {
        if (a.coverage[i] > 0 && a.coverage[i] < 255) ++partial;
        if (a.coverage[i] == 255) ++full;
    }
    EXPECT_GT(partial, 0);
    EXPECT_GT(full, 0);
    EXPECT_LE(a.top + a.height, font->lineHeight);
}

TEST_F(Fonts, OpenFontReplacesAndDeleteAllFontsEmpties) {
    registerFace();
    Font* first = openFont(TickerFontNumber, "cbm", 12);
    ASSERT_NE(first, nullptr);
    Font* second = openFont(TickerFontNumber, "cbm", 24);  // frees the first
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(fontByNumber(TickerFontNumber), second);
    EXPECT_EQ(second->emPixels, 32);
    EXPECT_EQ(second->lineHeight, 32);
    ASSERT_NE(openFont(MenuFontNumber, "cbm", 9), nullptr);
    deleteAllFonts();
    EXPECT_EQ(fontByNumber(TickerFontNumber), nullptr);
    EXPECT_EQ(fontByNumber(MenuFontNumber), nullptr);
}

TEST_F(Fonts, UnusableSizesAndNumbersGiveNothing) {
    registerFace();
    ASSERT_NE(openFont(TickerFontNumber, "cbm", 12), nullptr);
    EXPECT_EQ(openFont(TickerFontNumber, "cbm", 0), nullptr);
    EXPECT_EQ(fontByNumber(TickerFontNumber), nullptr);
    EXPECT_EQ(openFont(TickerFontNumber, "cbm", -12), nullptr);
    EXPECT_EQ(openFont(TickerFontNumber, nullptr, 12), nullptr);
    EXPECT_EQ(openFont(-1, "cbm", 12), nullptr);
    EXPECT_EQ(openFont(1000, "cbm", 12), nullptr);
    EXPECT_EQ(fontByNumber(1000), nullptr);
}

TEST_F(Fonts, RegistrationKeepsFacesInOrder) {
    // A block without a face does not take a place; the face registered after
    // it is still found.
    static const uint8_t garbage[32] = {};
    EXPECT_EQ(registerFontData(garbage, sizeof garbage), 0u);
    const uintptr_t first = registerFontData(face.data, face.length);
    const uintptr_t second = registerFontData(face.data, face.length);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_NE(openFont(TickerFontNumber, "cbm", 12), nullptr);
}

}  // namespace
