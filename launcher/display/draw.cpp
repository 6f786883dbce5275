// Copying, blending and text on the current session's target. Every loop
// clips first, so the cost is the visible part only.
#include "launcher/display/draw.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// The part of a w x h rectangle at (x, y) that lies inside the view, as
// half-open bounds; empty when x0 >= x1 or y0 >= y1.
struct Clip {
    int x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Clip clipTo(const PixelView& view, int x, int y, int w, int h) {
    const int64_t x1 = std::min<int64_t>(int64_t{x} + w, view.width);
    const int64_t y1 = std::min<int64_t>(int64_t{y} + h, view.height);
    return {std::max(x, 0), std::max(y, 0), static_cast<int>(x1), static_cast<int>(y1)};
}

uint8_t* pixelAt(const PixelView& v, int x, int y) {
    return v.pixels + static_cast<size_t>(y) * v.pitch + static_cast<size_t>(x) * v.bytesPerPixel;
}

const uint8_t* pixelAt(const Image& image, int x, int y) {
    return image.pixels + static_cast<size_t>(y) * image.pitch + static_cast<size_t>(x) * (image.bitsPerPixel / 8);
}

// The session's target, or nullptr when nothing can be drawn.
const PixelView* drawableView() {
    DrawingSession* s = currentSession();
    if (!s || !s->target || !s->target->view.pixels) return nullptr;
    const PixelView& v = s->target->view;
    if (v.bytesPerPixel != 3 && v.bytesPerPixel != 4) return nullptr;
    return &v;
}

bool usable(const Image* image) {
    return image && image->pixels && (image->bitsPerPixel == 24 || image->bitsPerPixel == 32);
}

// Channels of a Colour in the targets' byte order: blue, green, red.
struct Channels {
    int c[3];
};
Channels channelsOf(Colour colour) {
    return {{static_cast<int>(colour >> 16 & 0xFF), static_cast<int>(colour >> 8 & 0xFF),
             static_cast<int>(colour & 0xFF)}};
}

int textWidth(const Font* font, const char* text) {
    if (!font || !text) return 0;
    int width = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        width += font->glyphs[*p].advance;
    return width;
}

// Draws the glyphs of a text line; `paint` combines a coverage value with a
// target pixel. Glyphs wholly outside the clip are skipped without a look at
// their bitmaps.
template <typename Paint>
void drawGlyphs(const PixelView& v, const Font& font, int x, int y, const char* text, const Clip& clip,
                Paint paint) {
    int64_t pen = x;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        const Glyph& g = font.glyphs[*p];
        const int64_t gx = pen + g.left;
        pen += g.advance;
        if (!g.coverage || gx >= clip.x1 || gx + g.width <= clip.x0) continue;
        const int gy = y + g.top;
        const int col0 = static_cast<int>(std::max<int64_t>(clip.x0 - gx, 0));
        const int col1 = static_cast<int>(std::min<int64_t>(clip.x1 - gx, g.width));
        const int row0 = std::max(clip.y0 - gy, 0), row1 = std::min(clip.y1 - gy, g.height);
        for (int row = row0; row < row1; ++row) {
            const uint8_t* cov = g.coverage + static_cast<size_t>(row) * g.width;
            uint8_t* px = pixelAt(v, static_cast<int>(gx + col0), gy + row);
            for (int col = col0; col < col1; ++col, px += v.bytesPerPixel)
                if (cov[col]) paint(px, cov[col]);
        }
        if (pen >= clip.x1) break;
    }
}

int drawText(int x, int y, const char* text, Colour colour) {
    DrawingSession* s = currentSession();
    const PixelView* v = drawableView();
    if (!s || !text) return x;
    const Font* font = s->font;
    const int width = textWidth(font, text);
    if (!v || !font) return x + width;
    const Clip clip = clipTo(*v, x, y, width, font->lineHeight);
    if (clip.empty()) return x + width;
    const Channels t = channelsOf(colour);

    if (s->textBackground == TextBackground::Opaque) {
        // Every pixel of the cell becomes ((255 - c) * b + c * t) / 255: the
        // background where no glyph covers it, so the cell is filled first.
        const Channels b = channelsOf(s->backgroundColour);
        for (int row = clip.y0; row < clip.y1; ++row) {
            uint8_t* px = pixelAt(*v, clip.x0, row);
            for (int col = clip.x0; col < clip.x1; ++col, px += v->bytesPerPixel)
                for (int i = 0; i < 3; ++i) px[i] = static_cast<uint8_t>(b.c[i]);
        }
        drawGlyphs(*v, *font, x, y, text, clip, [&](uint8_t* px, int c) {
            for (int i = 0; i < 3; ++i) px[i] = static_cast<uint8_t>(((255 - c) * b.c[i] + c * t.c[i]) / 255);
        });
    } else {
        // Only covered pixels change, blended by coverage.
        drawGlyphs(*v, *font, x, y, text, clip, [&](uint8_t* px, int c) {
            for (int i = 0; i < 3; ++i) px[i] = static_cast<uint8_t>((c * t.c[i] + (255 - c) * px[i] + 127) / 255);
        });
    }
    sessionTouched(clip.x0, clip.y0, clip.x1 - clip.x0, clip.y1 - clip.y0);
    return x + width;
}

// One channel of a blend: c * w + d * (1 - w) with the weight
// w = (a / 255) * (opacity / 255) = k / 65025, rounded to nearest.
constexpr uint32_t kFullWeight = 255 * 255;
uint8_t blendChannel(uint32_t c, uint32_t d, uint32_t k) {
    return static_cast<uint8_t>((c * k + d * (kFullWeight - k) + kFullWeight / 2) / kFullWeight);
}

// The blend of one source colour at one weight, for every target value.
struct BlendTable {
    uint64_t key = ~uint64_t{0};  // colour and weight the table was made for
    uint8_t out[3][256];

    void prepare(const uint8_t* colour, uint32_t k) {
        const uint64_t wanted = uint64_t{colour[0]} | uint64_t{colour[1]} << 8 | uint64_t{colour[2]} << 16 | uint64_t{k} << 24;
        if (wanted == key) return;
        key = wanted;
        for (int i = 0; i < 3; ++i)
            for (uint32_t d = 0; d < 256; ++d) out[i][d] = blendChannel(colour[i], d, k);
    }
};

// True when all `count` pixels of a source row are byte for byte the same:
// every byte equals the one a pixel further on.
bool uniformRow(const uint8_t* row, int count, int bytesPerPixel) {
    return count <= 1 || std::memcmp(row, row + bytesPerPixel, static_cast<size_t>(count - 1) * bytesPerPixel) == 0;
}

}  // namespace

void pasteImage(const Image* image, int x, int y) {
    const PixelView* v = drawableView();
    if (!v || !usable(image)) return;
    const Clip clip = clipTo(*v, x, y, image->width, image->height);
    if (clip.empty()) return;
    const int sbpp = image->bitsPerPixel / 8;
    for (int row = clip.y0; row < clip.y1; ++row) {
        const uint8_t* src = pixelAt(*image, clip.x0 - x, row - y);
        uint8_t* dst = pixelAt(*v, clip.x0, row);
        for (int col = clip.x0; col < clip.x1; ++col, src += sbpp, dst += v->bytesPerPixel) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
    sessionTouched(clip.x0, clip.y0, clip.x1 - clip.x0, clip.y1 - clip.y0);
}

void blendImage(const Image* image, int x, int y, int opacity) {
    const PixelView* v = drawableView();
    if (!v || !usable(image)) return;
    opacity = std::clamp(opacity, 0, 255);
    const Clip clip = clipTo(*v, x, y, image->width, image->height);
    if (clip.empty() || opacity == 0) return;
    const int sbpp = image->bitsPerPixel / 8;
    const bool hasAlpha = image->bitsPerPixel == 32;
    const int count = clip.x1 - clip.x0;
    // Rows of one colour and alpha throughout, like every row of the scan-line
    // overlay, map each target value through a table made once per colour.
    BlendTable table;
    for (int row = clip.y0; row < clip.y1; ++row) {
        const uint8_t* src = pixelAt(*image, clip.x0 - x, row - y);
        uint8_t* dst = pixelAt(*v, clip.x0, row);
        if (uniformRow(src, count, sbpp)) {
            const uint32_t k = static_cast<uint32_t>(hasAlpha ? src[3] : 255) * opacity;
            if (k == 0) continue;
            table.prepare(src, k);
            for (int col = 0; col < count; ++col, dst += v->bytesPerPixel)
                for (int i = 0; i < 3; ++i) dst[i] = table.out[i][dst[i]];
            continue;
        }
        for (int col = 0; col < count; ++col, src += sbpp, dst += v->bytesPerPixel) {
            const uint32_t k = static_cast<uint32_t>(hasAlpha ? src[3] : 255) * opacity;
            if (k == 0) continue;
            for (int i = 0; i < 3; ++i) dst[i] = blendChannel(src[i], dst[i], k);
        }
    }
    sessionTouched(clip.x0, clip.y0, clip.x1 - clip.x0, clip.y1 - clip.y0);
}

void setTextColour(Colour colour) {
    if (DrawingSession* s = currentSession()) s->textColour = colour;
}

void setTextBackground(TextBackground mode) {
    if (DrawingSession* s = currentSession()) s->textBackground = mode;
}

void selectFont(const Font* font) {
    DrawingSession* s = currentSession();
    if (s && font) s->font = font;
}

int putText(int x, int y, const char* text) {
    const DrawingSession* s = currentSession();
    return s ? drawText(x, y, text, s->textColour) : x;
}

int putText(int x, int y, const char* text, Colour colour) { return drawText(x, y, text, colour); }

int measureText(const char* text) {
    const DrawingSession* s = currentSession();
    return s ? textWidth(s->font, text) : 0;
}
