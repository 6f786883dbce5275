#include "launcher/assets/icon.h"

// An icon file is a directory (6 bytes, then 16 bytes per image) followed by
// the images. We read the first image, which must be a BMP without
// compression: a BITMAPINFOHEADER whose height counts the colour rows and the
// 1-bit AND mask together, an optional colour table, the colour rows (24 or
// 32 bits) and the mask rows, all bottom-up and padded to 4 bytes. A mask bit
// of 1 marks a transparent pixel. Every size and offset is checked against
// the block's length before anything is read.

namespace {

constexpr size_t kDirectorySize = 6;
constexpr size_t kEntrySize = 16;
constexpr uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr uint32_t kMaxColourTable = 256;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t le32s(const uint8_t* p) { return static_cast<int32_t>(le32(p)); }

}  // namespace

Image* decodeIcon(const uint8_t* data, size_t length) {
    if (!data || length < kDirectorySize + kEntrySize) return nullptr;
    if (le16(data) != 0 || le16(data + 2) != 1) return nullptr;  // reserved, type "icon"
    const size_t count = le16(data + 4);
    if (count == 0 || count > (length - kDirectorySize) / kEntrySize) return nullptr;

    const uint8_t* entry = data + kDirectorySize;
    const int width = entry[0] ? entry[0] : 256;  // 0 stands for 256
    const int height = entry[1] ? entry[1] : 256;
    const uint32_t size = le32(entry + 8);
    const uint32_t offset = le32(entry + 12);
    if (offset > length || size > length - offset || size < kInfoHeaderSize) return nullptr;

    const uint8_t* bitmap = data + offset;
    const uint32_t headerSize = le32(bitmap);
    const int32_t bitmapWidth = le32s(bitmap + 4);
    const int32_t bitmapHeight = le32s(bitmap + 8);
    const uint16_t planes = le16(bitmap + 12);
    const uint16_t bits = le16(bitmap + 14);
    const uint32_t compression = le32(bitmap + 16);
    const uint32_t colours = le32(bitmap + 32);
    if (headerSize < kInfoHeaderSize || headerSize > size) return nullptr;
    if (bitmapWidth != width || bitmapHeight != 2 * height) return nullptr;
    if (planes != 1 || (bits != 24 && bits != 32) || compression != 0) return nullptr;
    if (colours > kMaxColourTable) return nullptr;

    // Sides are at most 256, so none of these sums can overflow.
    const size_t colourStride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    const size_t maskStride = ((static_cast<size_t>(width) + 31) / 32) * 4;
    const size_t colourRows = static_cast<size_t>(headerSize) + 4 * static_cast<size_t>(colours);
    const size_t maskRows = colourRows + colourStride * height;
    if (maskRows + maskStride * height > size) return nullptr;

    Image* image = createImage(width, height, 32);
    if (!image) return nullptr;
    const size_t step = bits / 8;
    for (int y = 0; y < height; ++y) {
        const int stored = height - 1 - y;  // the file's rows run bottom-up
        const uint8_t* colour = bitmap + colourRows + colourStride * stored;
        const uint8_t* mask = bitmap + maskRows + maskStride * stored;
        uint8_t* out = image->pixels + static_cast<size_t>(image->pitch) * y;
        for (int x = 0; x < width; ++x) {
            const bool transparent = (mask[x / 8] >> (7 - x % 8)) & 1;
            out[4 * x + 0] = colour[step * x + 0];
            out[4 * x + 1] = colour[step * x + 1];
            out[4 * x + 2] = colour[step * x + 2];
            out[4 * x + 3] = transparent ? 0 : 255;
        }
    }
    return image;
}
