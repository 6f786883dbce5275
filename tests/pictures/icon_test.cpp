// decodeIcon: the committed window icon, small icons built here to pin down
// row order, mask bits and row padding, and broken files, which must give
// nullptr without reading outside the block.
#include "launcher/assets/icon.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

struct ImageDeleter {
    void operator()(Image* image) const { destroyImage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

ImagePtr decode(const std::vector<uint8_t>& bytes) {
    return ImagePtr(decodeIcon(bytes.data(), bytes.size()));
}

std::vector<uint8_t> committedIcon() {
    std::ifstream in(QUORBEL_SOURCE_DIR "/assets/icon.ico", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Bgra {
    uint8_t b, g, r, a;
    bool operator==(const Bgra&) const = default;
};

Bgra pixelAt(const Image* image, int x, int y) {
    const uint8_t* p = image->pixels + static_cast<size_t>(image->pitch) * y + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// An icon file with one image of the given size and depth. The colour of
// pixel (x, y), counted from the top, is (b, g, r) = (x, y, 100 + x + y);
// its mask bit is set (transparent) where x + y is odd.
std::vector<uint8_t> buildIcon(int width, int height, int bits) {
    const size_t colourStride = ((width * bits + 31) / 32) * 4;
    const size_t maskStride = ((width + 31) / 32) * 4;
    std::vector<uint8_t> image;
    put32(image, 40);
    put32(image, width);
    put32(image, 2 * height);
    put16(image, 1);
    put16(image, bits);
    put32(image, 0);
    put32(image, static_cast<uint32_t>((colourStride + maskStride) * height));
    for (int i = 0; i < 4; ++i) put32(image, 0);
    for (int y = height - 1; y >= 0; --y) {
        std::vector<uint8_t> row(colourStride, 0xEE);  // padding bytes that must be skipped
        for (int x = 0; x < width; ++x) {
            uint8_t* p = row.data() + x * (bits / 8);
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(100 + x + y);
            if (bits == 32) p[3] = 0x77;
        }
        image.insert(image.end(), row.begin(), row.end());
    }
    for (int y = height - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskStride, 0);
        for (int x = 0; x < width; ++x)
            if ((x + y) % 2) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        image.insert(image.end(), row.begin(), row.end());
    }
    std::vector<uint8_t> file;
    put16(file, 0);
    put16(file, 1);
    put16(file, 1);
    file.push_back(static_cast<uint8_t>(width));
    file.push_back(static_cast<uint8_t>(height));
    file.push_back(0);
    file.push_back(0);
    put16(file, 1);
    put16(file, bits);
    put32(file, static_cast<uint32_t>(image.size()));
    put32(file, 22);
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

TEST(DecodeIcon, CommittedIconIsA16By16Alien) {
    const std::vector<uint8_t> file = committedIcon();
    ASSERT_FALSE(file.empty());
    ImagePtr image = decode(file);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 16);
    EXPECT_EQ(image->height, 16);
    EXPECT_EQ(image->bitsPerPixel, 32);

    struct Known {
        int x, y;
        Bgra expected;
    };
    const Known known[] = {
        {0, 0, {0, 0, 0, 0}},          // rounded-off corners: transparent
        {1, 0, {0, 0, 0, 0}},
        {15, 0, {0, 0, 0, 0}},
        {0, 15, {0, 0, 0, 0}},
        {15, 15, {0, 0, 0, 0}},
        {0, 1, {0, 0, 0, 0}},
        {2, 0, {0, 0, 0, 255}},        // black background, opaque
        {0, 2, {0, 0, 0, 255}},
        {7, 8, {64, 216, 64, 255}},    // the alien's green body
        {5, 6, {240, 255, 240, 255}},  // an eye
        {6, 7, {0, 0, 0, 255}},        // its pupil
    };
    for (const Known& k : known)
        EXPECT_EQ(pixelAt(image.get(), k.x, k.y), k.expected) << "pixel " << k.x << "," << k.y;
}

TEST(DecodeIcon, RowsMaskAndPaddingOfBuiltIcons) {
    struct Case {
        int width, height, bits;
    };
    // 3 and 5 pixels wide need row padding in both the colour and the mask
    // rows; 33 needs a second mask word.
    for (const Case c : {Case{3, 2, 24}, Case{5, 3, 32}, Case{33, 4, 24}, Case{16, 16, 32}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.bits << " bits");
        ImagePtr image = decode(buildIcon(c.width, c.height, c.bits));
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->width, c.width);
        ASSERT_EQ(image->height, c.height);
        ASSERT_EQ(image->bitsPerPixel, 32);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const Bgra expected = {static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                                       static_cast<uint8_t>(100 + x + y),
                                       static_cast<uint8_t>((x + y) % 2 ? 0 : 255)};
                ASSERT_EQ(pixelAt(image.get(), x, y), expected) << "pixel " << x << "," << y;
            }
    }
}

TEST(DecodeIcon, EveryTruncationIsRefused) {
    const std::vector<uint8_t> file = committedIcon();
    ASSERT_FALSE(file.empty());
    for (size_t length = 0; length < file.size(); ++length) {
        // A block of exactly `length` bytes, so that reading past it is caught.
        std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(decode(cut), nullptr) << "length " << length;
    }
    EXPECT_NE(decode(file), nullptr);
    EXPECT_EQ(decodeIcon(nullptr, file.size()), nullptr);
}

TEST(DecodeIcon, CorruptedHeaderFieldsAreRefused) {
    const std::vector<uint8_t> file = committedIcon();
    ASSERT_GE(file.size(), 62u);
    struct Corruption {
        const char* what;
        size_t offset;  // byte offset in the file
        int bytes;      // 1, 2 or 4, little-endian
        uint32_t value;
    };
    const uint32_t length = static_cast<uint32_t>(file.size());
    const Corruption cases[] = {
        {"reserved word", 0, 2, 1},
        {"type cursor", 2, 2, 2},
        {"no images", 4, 2, 0},
        {"more images than the file holds", 4, 2, 0xFFFF},
        {"entry width", 6, 1, 32},
        {"entry height", 7, 1, 8},
        {"image size beyond the end", 14, 4, length - 22 + 1},
        {"image size huge", 14, 4, 0xFFFFFFFF},
        {"image size below a header", 14, 4, 39},
        {"image size short of the mask", 14, 4, length - 22 - 1},
        {"image offset huge", 18, 4, 0xFFFFFFFF},
        {"image offset at the end", 18, 4, length},
        {"image offset one late", 18, 4, 23},
        {"header size too small", 22, 4, 12},
        {"header size beyond the image", 22, 4, 0x7FFFFFFF},
        {"bitmap width", 26, 4, 17},
        {"bitmap width negative", 26, 4, static_cast<uint32_t>(-16)},
        {"bitmap height not doubled", 30, 4, 16},
        {"bitmap height negative", 30, 4, static_cast<uint32_t>(-32)},
        {"planes", 34, 2, 0},
        {"palette depth", 36, 2, 8},
        {"one bit depth", 36, 2, 1},
        {"compressed", 38, 4, 1},
        {"colour table too long", 54, 4, 257},
        {"colour table huge", 54, 4, 0x40000000},
        {"colour table pushes the mask out", 54, 4, 1},
    };
    for (const Corruption& c : cases) {
        std::vector<uint8_t> broken = file;
        for (int i = 0; i < c.bytes; ++i) broken[c.offset + i] = static_cast<uint8_t>(c.value >> (8 * i));
        EXPECT_EQ(decode(broken), nullptr) << c.what;
    }
}

}  // namespace
