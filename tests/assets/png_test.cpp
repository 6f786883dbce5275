// The PNG decoder: every colour type and bit depth comes out as 8-bit B, G, R
// (24 bits) or B, G, R, A (32 bits, not premultiplied), top row first; broken,
// truncated and oversized blocks give no image.
#include "launcher/assets/images.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/assets/test_files.h"

namespace {

struct PngCase {
    const char* file;
    int width;
    int height;
    int bits;
    Bytes expected;  // B, G, R (, A) per pixel, top row first
};

// The file's samples are in tools/make_fixtures.py; the bytes below follow
// from the decoding rules: palette entries looked up, tRNS turned into alpha,
// low grey depths scaled to 0..255 (1 bit: 255, 2 bits: 85, 4 bits: 17 per
// step), 16-bit samples cut to their high byte.
const PngCase kCases[] = {
    {"palette.png", 3, 2, 24,
     {30, 20, 10, 50, 100, 200, 0, 255, 0,  //
      255, 255, 255, 0, 255, 0, 50, 100, 200}},
    {"palette_trns.png", 5, 2, 32,
     {30, 20, 10, 0, 50, 100, 200, 128, 0, 255, 0, 255, 255, 255, 255, 255, 30, 20, 10, 0,  //
      255, 255, 255, 255, 0, 255, 0, 255, 50, 100, 200, 128, 30, 20, 10, 0, 50, 100, 200, 128}},
    {"grey1.png", 5, 2, 24,
     {255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 0,  //
      0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255}},
    {"grey2.png", 5, 2, 24,
     {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255, 85, 85, 85,  //
      255, 255, 255, 170, 170, 170, 85, 85, 85, 0, 0, 0, 170, 170, 170}},
    {"grey4.png", 5, 2, 24,
     {0, 0, 0, 17, 17, 17, 119, 119, 119, 136, 136, 136, 255, 255, 255,  //
      255, 255, 255, 238, 238, 238, 51, 51, 51, 34, 34, 34, 153, 153, 153}},
    {"grey8.png", 3, 2, 24,
     {0, 0, 0, 77, 77, 77, 255, 255, 255,  //
      128, 128, 128, 1, 1, 1, 254, 254, 254}},
    {"grey16.png", 3, 2, 24,
     {0x00, 0x00, 0x00, 0x12, 0x12, 0x12, 0xFF, 0xFF, 0xFF,  //
      0x80, 0x80, 0x80, 0x01, 0x01, 0x01, 0xFE, 0xFE, 0xFE}},
    {"grey_trns.png", 3, 2, 32,
     {0, 0, 0, 255, 77, 77, 77, 0, 255, 255, 255, 255,  //
      77, 77, 77, 0, 1, 1, 1, 255, 254, 254, 254, 255}},
    {"grey_alpha.png", 3, 2, 32,
     {0, 0, 0, 255, 77, 77, 77, 0, 255, 255, 255, 128,  //
      128, 128, 128, 1, 1, 1, 1, 77, 254, 254, 254, 254}},
    {"rgb8.png", 3, 2, 24,
     {0, 0, 255, 0, 255, 0, 255, 0, 0,  //
      3, 2, 1, 7, 128, 250, 255, 255, 255}},
    {"rgb16.png", 3, 2, 24,
     {0xFF, 0x34, 0x12, 0x7F, 0x80, 0x00, 0xA5, 0x00, 0xFF,  //
      0x05, 0x03, 0x01, 0xFC, 0xFD, 0xFE, 0x10, 0x20, 0x40}},
    {"rgb_trns.png", 3, 2, 32,
     {0, 0, 255, 255, 0, 255, 0, 0, 255, 0, 0, 255,  //
      0, 255, 0, 0, 7, 128, 250, 255, 0, 254, 0, 255}},
    {"rgba8.png", 3, 2, 32,
     {0, 0, 255, 255, 0, 255, 0, 128, 255, 0, 0, 0,  //
      3, 2, 1, 4, 7, 128, 250, 246, 255, 255, 255, 1}},
    {"rgba16.png", 3, 2, 32,
     {0x12, 0x00, 0xFF, 0xFF, 0x20, 0x40, 0x80, 0x80, 0x00, 0x00, 0x00, 0x00,  //
      0x03, 0x02, 0x01, 0x04, 0x07, 0x80, 0xFA, 0xF6, 0xFF, 0xFF, 0xFF, 0x01}},
};

Bytes pngFixture(const char* name) { return fixture(std::string("png/") + name); }

TEST(PngDecoder, DecodesEveryFormatToBgrOrBgra) {
    for (const PngCase& c : kCases) {
        SCOPED_TRACE(c.file);
        const Bytes file = pngFixture(c.file);
        ASSERT_FALSE(file.empty());
        ImageHolder image(decodePng(file.data(), file.size()));
        ASSERT_NE(image.get(), nullptr);
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
        EXPECT_EQ(image->bitsPerPixel, c.bits);
        EXPECT_EQ(image->pitch, c.width * c.bits / 8);
        EXPECT_EQ(pixelBytes(image.get()), c.expected);
    }
}

TEST(PngDecoder, AssemblesAnInterlacedPicture) {
    // 9 x 7, so that several Adam7 passes are only partly filled; the pixel
    // rule is the one make_fixtures.py writes.
    const Bytes file = pngFixture("adam7.png");
    ImageHolder image(decodePng(file.data(), file.size()));
    ASSERT_NE(image.get(), nullptr);
    ASSERT_EQ(image->width, 9);
    ASSERT_EQ(image->height, 7);
    ASSERT_EQ(image->bitsPerPixel, 24);
    Bytes expected;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            expected.push_back(static_cast<uint8_t>((7 * x + 11 * y) % 256));  // blue
            expected.push_back(static_cast<uint8_t>(36 * y));                  // green
            expected.push_back(static_cast<uint8_t>(28 * x));                  // red
        }
    EXPECT_EQ(pixelBytes(image.get()), expected);
}

TEST(PngDecoder, BrokenAndOversizedFilesGiveNoImage) {
    const char* const files[] = {
        "bad_crc_idat.png",     // picture data fails its checksum
        "bad_crc_ihdr.png",     // header fails its checksum
        "bad_zlib.png",         // valid chunk, but the zlib stream names an unknown method
        "zero_width.png",       // header with width 0
        "too_wide.png",         // 16385 x 1: one side beyond the limit
        "too_many_pixels.png",  // 8192 x 8193: sides allowed, area not
    };
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const Bytes file = pngFixture(name);
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(decodePng(file.data(), file.size()), nullptr);
    }
}

TEST(PngDecoder, EveryTruncationGivesNoImage) {
    // Cut anywhere, down to the last byte of IEND's checksum, the block gives
    // nothing; whole, it decodes.
    for (const char* name : {"rgba8.png", "adam7.png", "palette_trns.png"}) {
        SCOPED_TRACE(name);
        const Bytes file = pngFixture(name);
        ASSERT_FALSE(file.empty());
        for (size_t length = 0; length < file.size(); ++length)
            EXPECT_EQ(decodePng(file.data(), length), nullptr) << "prefix of " << length << " bytes";
        ImageHolder whole(decodePng(file.data(), file.size()));
        EXPECT_NE(whole.get(), nullptr);
    }
}

TEST(PngDecoder, EverySingleDamagedByteGivesNoImage) {
    // Every chunk, IEND included, is checked by its CRC, and the signature is
    // checked too: no byte of the file can change unnoticed.
    const Bytes good = pngFixture("rgb8.png");
    ASSERT_FALSE(good.empty());
    for (size_t at = 0; at < good.size(); ++at) {
        Bytes damaged = good;
        damaged[at] ^= 0x5A;
        EXPECT_EQ(decodePng(damaged.data(), damaged.size()), nullptr) << "byte " << at;
    }
}

TEST(PngDecoder, ForeignBlocksGiveNoImage) {
    const Bytes jpeg = fixture("jpeg/colour.jpg");
    ASSERT_FALSE(jpeg.empty());
    EXPECT_EQ(decodePng(jpeg.data(), jpeg.size()), nullptr);
    EXPECT_EQ(decodePng(nullptr, 100), nullptr);
    const Bytes text = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g', '!'};
    EXPECT_EQ(decodePng(text.data(), text.size()), nullptr);
}

TEST(PngDecoder, RecognisesEightBytesOfSignature) {
    const Bytes file = pngFixture("rgb8.png");
    ASSERT_GE(file.size(), 8u);
    EXPECT_FALSE(isPng(file.data(), 7));
    EXPECT_TRUE(isPng(file.data(), 8));
    EXPECT_EQ(decodePng(file.data(), 8), nullptr);  // recognised, but nothing to decode
    Bytes wrong(file.begin(), file.begin() + 8);
    wrong[7] = 0;
    EXPECT_FALSE(isPng(wrong.data(), wrong.size()));
    EXPECT_FALSE(isPng(nullptr, 8));
}

}  // namespace
