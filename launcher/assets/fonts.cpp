// Fonts from registered TrueType blocks through FreeType.
//
// Registration only remembers a block, so the face is private to this
// process by construction: nothing is installed anywhere. openFont sizes the
// face, renders all 256 byte values once into memory owned by the font, and
// lets go of FreeType again; drawing then needs no font engine.
#include "launcher/assets/fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct Registration {
    const uint8_t* data;
    size_t length;  // bytes
};

constexpr int kRegistrationSlots = 8;
constexpr int kFontSlots = 8;
// Larger sizes are refused: 256 rendered glyphs of this em already take
// hundreds of megabytes.
constexpr int kMaxEmPixels = 1024;

Registration registrations[kRegistrationSlots];
int registrationCount = 0;

Font* storedFonts[kFontSlots];  // owned; nullptr: the number is empty

// The font's own memory: one coverage block per byte value that has a bitmap.
struct GlyphMemory {
    uint8_t* bitmaps[256];
};

bool validNumber(int number) { return number >= 0 && number < kFontSlots; }

bool sameIgnoringAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a);
        unsigned char y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == 0) return true;
    }
}

// a * b / c rounded half away from zero, for c > 0.
long long scaleRounded(long long a, long long b, long long c) {
    const long long n = a * b;
    const long long q = (2 * (n < 0 ? -n : n) + c) / (2 * c);
    return n < 0 ? -q : q;
}

void destroyFont(Font* font) {
    if (!font) return;
    GlyphMemory* memory = static_cast<GlyphMemory*>(font->engine);
    if (memory)
        for (uint8_t* bitmap : memory->bitmaps) delete[] bitmap;
    delete memory;
    delete font;
}

void storeFont(int number, Font* font) {
    destroyFont(storedFonts[number]);
    storedFonts[number] = font;
}

// The first face among the registered blocks whose family is `family`, or
// nullptr. The caller owns the face.
FT_Face findFace(FT_Library library, const char* family) {
    for (int r = 0; r < registrationCount; ++r) {
        const Registration& reg = registrations[r];
        FT_Long faces = 1;
        for (FT_Long index = 0; index < faces; ++index) {
            FT_Face face = nullptr;
            if (FT_New_Memory_Face(library, reg.data, static_cast<FT_Long>(reg.length), index, &face) != 0)
                break;
            faces = face->num_faces;
            if (face->family_name && sameIgnoringAsciiCase(face->family_name, family)) return face;
            FT_Done_Face(face);
        }
    }
    return nullptr;
}

// Copies the rendered bitmap of the face's current glyph into new memory, as
// one coverage byte per pixel. nullptr when there is nothing to copy.
uint8_t* copyCoverage(const FT_Bitmap& bitmap) {
    const int width = static_cast<int>(bitmap.width);
    const int height = static_cast<int>(bitmap.rows);
    if (width <= 0 || height <= 0 || !bitmap.buffer) return nullptr;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY && bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return nullptr;
    uint8_t* out = new (std::nothrow) uint8_t[static_cast<size_t>(width) * height];
    if (!out) return nullptr;
    const int grey = bitmap.num_grays > 1 ? bitmap.num_grays - 1 : 255;
    for (int y = 0; y < height; ++y) {
        // A negative pitch means the rows are stored bottom row first.
        const int stride = std::abs(bitmap.pitch);
        const int sourceRow = bitmap.pitch >= 0 ? y : height - 1 - y;
        const uint8_t* src = bitmap.buffer + static_cast<size_t>(sourceRow) * stride;
        uint8_t* dst = out + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO)
                dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            else
                dst[x] = grey == 255 ? src[x] : static_cast<uint8_t>(src[x] * 255 / grey);
        }
    }
    return out;
}

// The face draws every glyph on a grid of 8 x 8 square cells that fills the
// em, its corners at whole font units. Scaled, those corners miss the pixel
// grid by up to 1/64 px, which leaves faint grey fringes on glyphs that should
// be crisp. Moving every outline point to the nearest grid corner at this size
// restores exact cells: whole pixels at 16 px, even half-pixel edges at 12 px.
void snapToGrid(FT_Outline* outline, int em) {
    const FT_Pos emFixed = static_cast<FT_Pos>(em) * 64;  // the em in 26.6 pixels
    for (int i = 0; i < outline->n_points; ++i) {
        FT_Vector& p = outline->points[i];
        // Nearest k * em / 8 pixels, in 26.6, rounded half away from zero.
        const auto snap = [&](FT_Pos v) {
            const FT_Pos k = (v >= 0 ? v * 8 + emFixed / 2 : v * 8 - emFixed / 2) / emFixed;
            return k * emFixed / 8;
        };
        p.x = snap(p.x);
        p.y = snap(p.y);
    }
}

// Sizes the face to `em` pixels and fills the font's metrics and glyphs.
bool buildFont(FT_Face face, int em, Font* font, GlyphMemory* memory) {
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(em)) != 0) return false;
    const long long unitsPerEm = face->units_per_EM;
    if (unitsPerEm <= 0) return false;

    // The line height is the rounded scaled ascent plus the rounded scaled
    // descent, from the Windows metrics where the face has them. FreeType's
    // own size metrics round the ascender up (668 units at 16 px is 16.02 px
    // and comes back as 17), which would make every text cell a row taller.
    long long ascender = face->ascender;
    long long descender = -static_cast<long long>(face->descender);
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF) {
        ascender = os2->usWinAscent;
        descender = os2->usWinDescent;
    }
    font->emPixels = em;
    font->ascent = static_cast<int>(scaleRounded(ascender, em, unitsPerEm));
    font->descent = static_cast<int>(scaleRounded(descender, em, unitsPerEm));
    font->lineHeight = font->ascent + font->descent;

    // A text byte stands for the code point of the same value (Latin-1).
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    for (int code = 0; code < 256; ++code) {
        Glyph& glyph = font->glyphs[code];
        const FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(code));
        if (index == 0) continue;  // no glyph: advance 0, no bitmap
        // Unhinted, snapped to the face's grid, rendered in grey (FT_RENDER_MODE_NORMAL).
        if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) continue;
        const FT_GlyphSlot slot = face->glyph;
        if (slot->format != FT_GLYPH_FORMAT_OUTLINE) continue;
        snapToGrid(&slot->outline, em);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) continue;
        glyph.advance = static_cast<int>(scaleRounded(slot->advance.x, 1, 64));
        memory->bitmaps[code] = copyCoverage(slot->bitmap);
        if (!memory->bitmaps[code]) continue;  // a blank glyph such as the space
        glyph.left = slot->bitmap_left;
        glyph.top = font->ascent - slot->bitmap_top;
        glyph.width = static_cast<int>(slot->bitmap.width);
        glyph.height = static_cast<int>(slot->bitmap.rows);
        glyph.coverage = memory->bitmaps[code];
    }
    return true;
}

}  // namespace

int emPixelsFor(int points, int dpi) { return static_cast<int>(scaleRounded(points, dpi, 72)); }

uintptr_t registerFontData(const uint8_t* data, size_t length) {
    if (!data || length == 0 || length > 0x7FFFFFFF || registrationCount == kRegistrationSlots) return 0;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return 0;
    FT_Face face = nullptr;
    const bool holdsFace = FT_New_Memory_Face(library, data, static_cast<FT_Long>(length), 0, &face) == 0;
    if (holdsFace) FT_Done_Face(face);
    FT_Done_FreeType(library);
    if (!holdsFace) return 0;
    registrations[registrationCount++] = {data, length};
    return static_cast<uintptr_t>(registrationCount);  // 1-based, never 0
}

void resetFontRegistrations() { registrationCount = 0; }

Font* openFont(int number, const char* family, int points) {
    if (!validNumber(number)) return nullptr;
    storeFont(number, nullptr);  // the number is empty unless the new font is made
    const int em = emPixelsFor(points, kDisplayDpi);
    if (!family || em <= 0 || em > kMaxEmPixels) return nullptr;

    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return nullptr;
    Font* font = nullptr;
    FT_Face face = findFace(library, family);
    if (face) {
        font = new (std::nothrow) Font;
        GlyphMemory* memory = new (std::nothrow) GlyphMemory{};
        if (font) font->engine = memory;
        if (!font || !memory || !buildFont(face, em, font, memory)) {
            if (!font) delete memory;
            destroyFont(font);
            font = nullptr;
        }
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
    storeFont(number, font);
    return font;
}

Font* fontByNumber(int number) { return validNumber(number) ? storedFonts[number] : nullptr; }

void deleteAllFonts() {
    for (Font*& font : storedFonts) {
        destroyFont(font);
        font = nullptr;
    }
}
