// The JPEG decoder: colour and grey pictures come out as 24-bit B, G, R equal
// to djpeg's decode of the same file (committed beside each fixture as an RGB
// PPM); broken blocks never crash; a truncated stream still gives a picture
// once its headers are complete; a stream with a runaway number of scans is
// refused.
#include "launcher/assets/images.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/assets/test_files.h"

namespace {

Bytes jpegFixture(const std::string& name) { return fixture("jpeg/" + name); }

// The offset of the first start-of-scan marker, 0 when there is none.
size_t firstScanMarker(const Bytes& file) {
    for (size_t i = 2; i + 3 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xDA) return i;
    return 0;
}

// The offset just past the first start-of-scan segment's header.
size_t endOfFirstScanHeader(const Bytes& file) {
    const size_t at = firstScanMarker(file);
    return at ? at + 2 + (file[at + 2] << 8 | file[at + 3]) : 0;
}

TEST(JpegDecoder, MatchesAnIndependentDecodeInBgrOrder) {
    // Baseline 1x1 sampling with restarts (like the backdrop), 4:2:0, grey,
    // progressive.
    for (const char* name : {"colour", "colour420", "grey", "progressive"}) {
        SCOPED_TRACE(name);
        const Bytes file = jpegFixture(std::string(name) + ".jpg");
        const Pnm reference = readPpm(jpegFixture(std::string(name) + ".ppm"));
        ASSERT_FALSE(file.empty());
        ASSERT_GT(reference.width, 0);
        ImageHolder image(decodeJpeg(file.data(), file.size()));
        ASSERT_NE(image.get(), nullptr);
        EXPECT_EQ(image->width, reference.width);
        EXPECT_EQ(image->height, reference.height);
        EXPECT_EQ(image->bitsPerPixel, 24);
        EXPECT_EQ(image->pitch, image->width * 3);
        EXPECT_EQ(pixelBytes(image.get()), asBgr(reference.rgb));
    }
}

TEST(JpegDecoder, RedQuadrantStoresRedInTheThirdByte) {
    // The fixture's top-left quadrant is red (230, 20, 20): whatever the
    // reference says, the order must put red last.
    const Bytes file = jpegFixture("colour.jpg");
    ImageHolder image(decodeJpeg(file.data(), file.size()));
    ASSERT_NE(image.get(), nullptr);
    const uint8_t* p = image->pixels + 3 * image->pitch + 3 * 3;  // (3, 3)
    EXPECT_GT(p[2], 200);  // red
    EXPECT_LT(p[1], 50);   // green
    EXPECT_LT(p[0], 50);   // blue
}

TEST(JpegDecoder, GreyPicturesComeOutWithThreeEqualChannels) {
    const Bytes file = jpegFixture("grey.jpg");
    ImageHolder image(decodeJpeg(file.data(), file.size()));
    ASSERT_NE(image.get(), nullptr);
    ASSERT_EQ(image->bitsPerPixel, 24);
    const Bytes bytes = pixelBytes(image.get());
    int distinct = 0;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        EXPECT_EQ(bytes[i], bytes[i + 1]);
        EXPECT_EQ(bytes[i], bytes[i + 2]);
        if (i > 0 && bytes[i] != bytes[i - 3]) ++distinct;
    }
    EXPECT_GT(distinct, 10);  // a ramp, not a flat picture
}

TEST(JpegDecoder, TruncatedStreamIsAPictureOnceItsHeadersAreComplete) {
    // A stream that ends early is a warning to libjpeg, which finishes the
    // picture in grey; the decoder keeps such a picture. Cut before the first
    // scan marker there is no picture at all. Inside the scan header libjpeg
    // reads the end-of-image marker it supplies for missing bytes as the last
    // parameters, so there the answer flips from none to a picture once.
    const Bytes file = jpegFixture("colour.jpg");
    ImageHolder whole(decodeJpeg(file.data(), file.size()));
    ASSERT_NE(whole.get(), nullptr);
    const size_t scanMarker = firstScanMarker(file);
    const size_t scanData = endOfFirstScanHeader(file);
    ASSERT_GT(scanMarker, 0u);
    ASSERT_LT(scanData, file.size());
    bool seenPicture = false;
    for (size_t length = 0; length < file.size(); ++length) {
        SCOPED_TRACE(length);
        ImageHolder part(decodeJpeg(file.data(), length));
        if (length <= scanMarker) {
            EXPECT_EQ(part.get(), nullptr);
        }
        if (length >= scanData || seenPicture) {  // and never back to none
            EXPECT_NE(part.get(), nullptr);
        }
        if (!part.get()) continue;
        seenPicture = true;
        EXPECT_EQ(part->width, 16);
        EXPECT_EQ(part->height, 16);
        EXPECT_EQ(part->bitsPerPixel, 24);
    }
    // Cut just before the end-of-image marker, every coded block is there and
    // the picture is the whole one.
    ImageHolder nearlyWhole(decodeJpeg(file.data(), file.size() - 2));
    ASSERT_NE(nearlyWhole.get(), nullptr);
    EXPECT_EQ(pixelBytes(nearlyWhole.get()), pixelBytes(whole.get()));
}

TEST(JpegDecoder, TruncatedPictureKeepsItsCompleteTopRows) {
    // With a restart marker after every row of 8 x 8 blocks, the first eight
    // rows are complete once the stream reaches the second half.
    const Bytes file = jpegFixture("colour.jpg");
    ImageHolder whole(decodeJpeg(file.data(), file.size()));
    ASSERT_NE(whole.get(), nullptr);
    size_t firstRestart = 0;
    for (size_t i = endOfFirstScanHeader(file); i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xD0) {
            firstRestart = i;
            break;
        }
    ASSERT_GT(firstRestart, 0u);
    ImageHolder part(decodeJpeg(file.data(), firstRestart + 2));
    ASSERT_NE(part.get(), nullptr);
    const size_t topRows = 8 * static_cast<size_t>(whole->pitch);
    EXPECT_TRUE(std::equal(part->pixels, part->pixels + topRows, whole->pixels));
    EXPECT_FALSE(std::equal(part->pixels + topRows, part->pixels + 16 * part->pitch, whole->pixels + topRows));
}

TEST(JpegDecoder, RunawayScanCountIsRefused) {
    // The progressive fixture with its last scan repeated 400 times: libjpeg
    // itself only warns about such a sequence and would decode every copy
    // over the whole picture.
    const Bytes file = jpegFixture("many_scans.jpg");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(decodeJpeg(file.data(), file.size()), nullptr);
}

TEST(JpegDecoder, DamagedBytesNeverBreakTheDecoder) {
    // Each byte of the file damaged in turn: the result is no picture, or a
    // well-formed one (damage in the coded data is only a warning).
    const Bytes good = jpegFixture("colour.jpg");
    ASSERT_FALSE(good.empty());
    int pictures = 0, refusals = 0;
    for (size_t at = 0; at < good.size(); ++at) {
        Bytes damaged = good;
        damaged[at] ^= 0x5A;
        ImageHolder image(decodeJpeg(damaged.data(), damaged.size()));
        if (!image.get()) {
            ++refusals;
            continue;
        }
        ++pictures;
        EXPECT_EQ(image->bitsPerPixel, 24) << "byte " << at;
        EXPECT_EQ(image->pitch, image->width * 3) << "byte " << at;
        EXPECT_GT(image->width, 0);
        EXPECT_GT(image->height, 0);
    }
    EXPECT_GT(pictures, 0);  // damage in the coded data
    EXPECT_GT(refusals, 0);  // damage in the headers
}

TEST(JpegDecoder, RecognisesTheStartOfImageMarker) {
    const uint8_t soi[] = {0xFF, 0xD8};
    EXPECT_TRUE(isJpeg(soi, 2));
    EXPECT_FALSE(isJpeg(soi, 1));
    EXPECT_EQ(decodeJpeg(soi, 2), nullptr);  // recognised, but holds no picture
    const uint8_t eoi[] = {0xFF, 0xD9};
    EXPECT_FALSE(isJpeg(eoi, 2));
    EXPECT_FALSE(isJpeg(nullptr, 2));
    const Bytes png = fixture("png/rgb8.png");
    ASSERT_FALSE(png.empty());
    EXPECT_EQ(decodeJpeg(png.data(), png.size()), nullptr);
}

}  // namespace
