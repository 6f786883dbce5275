// The decoder registry and the numbered image store. Replaced and deleted
// images are freed; the sanitizer build's leak check sees any that is not.
#include "launcher/assets/images.h"

#include <gtest/gtest.h>

#include "tests/assets/test_files.h"

namespace {

class ImageStore : public ::testing::Test {
protected:
    void SetUp() override {
        resetDecoders();
        deleteAllImages();
        png = fixture("png/rgba8.png");   // 3 x 2, 32 bits
        jpeg = fixture("jpeg/grey.jpg");  // 16 x 8, 24 bits
        ASSERT_FALSE(png.empty());
        ASSERT_FALSE(jpeg.empty());
    }
    void TearDown() override {
        deleteAllImages();
        resetDecoders();
    }
    Image* decodePngInto(int number) { return decodeImage(number, png.data(), png.size()); }
    Image* decodeJpegInto(int number) { return decodeImage(number, jpeg.data(), jpeg.size()); }

    Bytes png, jpeg;
};

TEST_F(ImageStore, UnregisteredDecodersRecogniseNothing) {
    EXPECT_EQ(decodePngInto(2), nullptr);
    EXPECT_EQ(decodeJpegInto(3), nullptr);
    EXPECT_EQ(imageByNumber(2), nullptr);
    EXPECT_EQ(imageByNumber(3), nullptr);
}

TEST_F(ImageStore, EachRegistrationMakesOnlyItsFormatDecodable) {
    registerPngDecoder();
    EXPECT_EQ(decodeJpegInto(2), nullptr);
    Image* fromPng = decodePngInto(3);
    ASSERT_NE(fromPng, nullptr);
    EXPECT_EQ(fromPng->bitsPerPixel, 32);

    resetDecoders();
    registerJpegDecoder();
    EXPECT_EQ(decodePngInto(3), nullptr);
    Image* fromJpeg = decodeJpegInto(2);
    ASSERT_NE(fromJpeg, nullptr);
    EXPECT_EQ(fromJpeg->width, 16);
    EXPECT_EQ(fromJpeg->bitsPerPixel, 24);
}

TEST_F(ImageStore, OrderOfRegistrationDoesNotHideAFormat) {
    // The two formats' signatures exclude each other, so either order decodes
    // both.
    registerJpegDecoder();
    registerPngDecoder();
    EXPECT_NE(decodePngInto(2), nullptr);
    EXPECT_NE(decodeJpegInto(3), nullptr);
}

TEST_F(ImageStore, RepeatedRegistrationDoesNothing) {
    // Were each call to add a decoder, the repeated PNG registrations would
    // take every place and leave none for JPEG.
    for (int i = 0; i < 10; ++i) registerPngDecoder();
    registerJpegDecoder();
    registerJpegDecoder();
    EXPECT_NE(decodeJpegInto(2), nullptr);
    EXPECT_NE(decodePngInto(3), nullptr);
}

TEST_F(ImageStore, SignatureRulesDecideRecognition) {
    registerPngDecoder();
    registerJpegDecoder();
    // Seven bytes of PNG signature are not PNG; eight are, but hold no picture.
    EXPECT_EQ(decodeImage(2, png.data(), 7), nullptr);
    EXPECT_EQ(decodeImage(2, png.data(), 8), nullptr);
    // FF D8 alone is recognised as JPEG and decodes to nothing.
    EXPECT_EQ(decodeImage(2, jpeg.data(), 2), nullptr);
    const uint8_t foreign[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0};
    EXPECT_EQ(decodeImage(2, foreign, sizeof foreign), nullptr);
    EXPECT_EQ(decodeImage(2, nullptr, 0), nullptr);
    EXPECT_EQ(imageByNumber(2), nullptr);
}

TEST_F(ImageStore, DecodeStoresUnderTheNumberAndReplaces) {
    registerPngDecoder();
    registerJpegDecoder();
    Image* first = decodePngInto(3);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(imageByNumber(3), first);
    EXPECT_EQ(imageByNumber(2), nullptr);  // numbers are independent

    Image* second = decodeJpegInto(3);  // replaces, and frees the first
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(imageByNumber(3), second);
    EXPECT_EQ(second->width, 16);
}

TEST_F(ImageStore, FailedDecodeLeavesTheNumberEmpty) {
    registerPngDecoder();
    ASSERT_NE(decodePngInto(2), nullptr);
    const Bytes broken = fixture("png/bad_crc_idat.png");
    EXPECT_EQ(decodeImage(2, broken.data(), broken.size()), nullptr);
    EXPECT_EQ(imageByNumber(2), nullptr);
}

TEST_F(ImageStore, NumbersOutOfRangeStoreNothing) {
    registerPngDecoder();
    for (int number : {-1, kImageSlots, 1000}) {
        EXPECT_EQ(decodePngInto(number), nullptr) << number;
        EXPECT_EQ(imageByNumber(number), nullptr) << number;
    }
    EXPECT_NE(decodePngInto(kImageSlots - 1), nullptr);
    EXPECT_NE(imageByNumber(kImageSlots - 1), nullptr);
}

TEST_F(ImageStore, StoreImageTakesOwnership) {
    Image* strip = createImage(640, 20, 32);
    ASSERT_NE(strip, nullptr);
    storeImage(StripImageNumber, strip);
    EXPECT_EQ(imageByNumber(StripImageNumber), strip);
    storeImage(StripImageNumber, strip);  // the same image again: kept, not freed
    EXPECT_EQ(imageByNumber(StripImageNumber), strip);
    EXPECT_EQ(imageByNumber(StripImageNumber)->width, 640);

    Image* other = createImage(2, 2, 24);
    storeImage(StripImageNumber, other);  // frees the strip
    EXPECT_EQ(imageByNumber(StripImageNumber), other);
    storeImage(StripImageNumber, nullptr);  // frees `other`, empties the number
    EXPECT_EQ(imageByNumber(StripImageNumber), nullptr);

    storeImage(kImageSlots, createImage(4, 4, 24));  // freed at once
    EXPECT_EQ(imageByNumber(kImageSlots), nullptr);
}

TEST_F(ImageStore, DeleteAllImagesEmptiesEveryNumber) {
    registerPngDecoder();
    registerJpegDecoder();
    ASSERT_NE(decodeJpegInto(BackdropImageNumber), nullptr);
    ASSERT_NE(decodePngInto(OverlayImageNumber), nullptr);
    storeImage(StripImageNumber, createImage(640, 20, 32));
    deleteAllImages();
    for (int number = 0; number < kImageSlots; ++number) EXPECT_EQ(imageByNumber(number), nullptr) << number;
}

}  // namespace
