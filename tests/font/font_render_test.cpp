// Renders the committed face assets/cbm.ttf with FreeType the way the
// launcher's text drawing sees it: unhinted, grey-scale, at the ticker's 16 px
// and the menu's 12 px em.  At 16 px a grid cell is 2 x 2 pixels, so each
// drawn character must come out as whole cells matching the glyph sheet.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

const char* const kFontPath = QUORBEL_SOURCE_DIR "/assets/cbm.ttf";
const char* const kSheetPath = QUORBEL_SOURCE_DIR "/assets/cbm-glyphs.txt";

// Every character drawn by the launcher's menu lines and scroll text, space
// aside.
const char* const kLauncherCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,-:+><()/!";

using Cells = std::array<std::string, 8>;  // row 0 at the top, '#' set

// The 8 rows drawn for code point `cp` in the glyph sheet; empty rows if the
// sheet has no such block.
Cells sheetCells(unsigned cp) {
    char header[16];
    std::snprintf(header, sizeof header, "U+%04X", cp);
    std::ifstream in(kSheetPath);
    Cells cells;
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 6, header) == 0) {
            for (std::string& row : cells) std::getline(in, row);
            break;
        }
    }
    return cells;
}

class FontRender : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(FT_Init_FreeType(&library_), 0);
        ASSERT_EQ(FT_New_Face(library_, kFontPath, 0, &face_), 0) << kFontPath;
    }
    void TearDown() override {
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }

    // Loads and renders `ch` unhinted at `pixels` per em; false on failure.
    bool render(char ch, unsigned pixels) {
        if (FT_Set_Pixel_Sizes(face_, 0, pixels) != 0) return false;
        FT_UInt index = FT_Get_Char_Index(face_, static_cast<unsigned char>(ch));
        if (index == 0) return false;
        return FT_Load_Glyph(face_, index, FT_LOAD_RENDER | FT_LOAD_NO_HINTING) == 0;
    }

    // Coverage (0..255) of the pixel `x` to the right of the pen and `y`
    // below the em's top (16 px above the baseline at 16 px per em).
    int coverageAt(int x, int y, int emPixels) const {
        const FT_GlyphSlot slot = face_->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        const int column = x - slot->bitmap_left;
        const int row = y - (emPixels - slot->bitmap_top);
        if (column < 0 || row < 0 || column >= static_cast<int>(bitmap.width) ||
            row >= static_cast<int>(bitmap.rows))
            return 0;
        return bitmap.buffer[row * bitmap.pitch + column];
    }

    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

TEST_F(FontRender, FamilyNameIsCbm) {
    ASSERT_NE(face_->family_name, nullptr);
    EXPECT_STREQ(face_->family_name, "CBM");
    EXPECT_EQ(face_->units_per_EM, 667);
}

// Each character advances one em, so a text of n characters measures 16 n
// pixels in the ticker's font and 12 n in the menu's.
TEST_F(FontRender, CharactersAdvanceOneEm) {
    const std::string text = std::string(kLauncherCharacters) + " ";
    for (unsigned pixels : {16u, 12u}) {
        for (char ch : text) {
            ASSERT_TRUE(render(ch, pixels)) << ch;
            EXPECT_EQ(face_->glyph->advance.x, static_cast<FT_Pos>(pixels) * 64)  // 26.6
                << "'" << ch << "' at " << pixels << " px";
        }
    }
}

// Cell edges sit at whole font units (round(k * 667 / 8)), up to 1/64 px
// off the pixel boundaries at 16 px per em, so a pixel next to an edge may
// gain or lose a few coverage levels; more than kBleed means a cell is out of
// place.
constexpr int kBleed = 8;

TEST_F(FontRender, CharactersAreMadeOfTwoPixelCells) {
    for (const char* p = kLauncherCharacters; *p; ++p) {
        const char ch = *p;
        const Cells cells = sheetCells(static_cast<unsigned char>(ch));
        ASSERT_EQ(cells[7].size(), 8u) << "no block for '" << ch << "' in the sheet";
        ASSERT_TRUE(render(ch, 16)) << ch;
        ASSERT_EQ(face_->glyph->bitmap.pixel_mode, FT_PIXEL_MODE_GRAY);
        int setCells = 0;
        for (int row = 0; row < 8; ++row) {
            for (int column = 0; column < 8; ++column) {
                const bool set = cells[row][column] == '#';
                setCells += set;
                // The cell's centre is where its four pixels meet; test all four.
                for (int dy = 0; dy < 2; ++dy) {
                    for (int dx = 0; dx < 2; ++dx) {
                        const int c = coverageAt(2 * column + dx, 2 * row + dy, 16);
                        if (set)
                            EXPECT_GE(c, 255 - kBleed)
                                << "'" << ch << "' row " << row << " column " << column;
                        else
                            EXPECT_LE(c, kBleed)
                                << "'" << ch << "' row " << row << " column " << column;
                    }
                }
            }
        }
        EXPECT_GT(setCells, 0) << ch;
    }
}

// At the ticker's size 'A' is crisp: full cells at least 250 of 255.
TEST_F(FontRender, LetterAFillsItsCells) {
    const Cells cells = sheetCells('A');
    ASSERT_TRUE(render('A', 16));
    int setPixels = 0;
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            if (cells[row][column] != '#') continue;
            for (int d = 0; d < 4; ++d) {
                EXPECT_GE(coverageAt(2 * column + d % 2, 2 * row + d / 2, 16), 250)
                    << "row " << row << " column " << column;
                ++setPixels;
            }
        }
    }
    EXPECT_GT(setPixels, 0);
}

}  // namespace
