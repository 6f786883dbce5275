// The two embedded pictures decoded the way start-up decodes them: the
// backdrop as 640 x 480 x 24, equal to djpeg's decode and to a separate
// libjpeg decode; the overlay as 640 x 480 x 32 with exactly its row table,
// colours not premultiplied.
#include "launcher/assets/embedded.h"
#include "launcher/assets/images.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

#include "tests/assets/test_files.h"

namespace {

class TitlePictures : public ::testing::Test {
protected:
    void SetUp() override {
        resetDecoders();
        deleteAllImages();
        registerPngDecoder();
        registerJpegDecoder();
    }
    void TearDown() override {
        deleteAllImages();
        resetDecoders();
    }
};

struct ReferenceError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void referenceFailed(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ReferenceError*>(cinfo->err)->jump, 1);
}

// A second decode through libjpeg that asks the library itself for B, G, R
// rows, so the launcher's own R/B exchange is checked against the library's
// colour conversion. Empty on failure.
Bytes referenceBgr(const EmbeddedBlock& block, int* width, int* height) {
    jpeg_decompress_struct cinfo;
    ReferenceError error;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = referenceFailed;
    Bytes out;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, block.data, static_cast<unsigned long>(block.length));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    *width = static_cast<int>(cinfo.output_width);
    *height = static_cast<int>(cinfo.output_height);
    out.resize(static_cast<size_t>(*width) * *height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + static_cast<size_t>(cinfo.output_scanline) * *width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

TEST_F(TitlePictures, BackdropIsTheFilesDecodedColours) {
    const EmbeddedBlock block = embeddedBackdrop();
    Image* backdrop = decodeImage(BackdropImageNumber, block.data, block.length);
    ASSERT_NE(backdrop, nullptr);
    EXPECT_EQ(imageByNumber(BackdropImageNumber), backdrop);
    EXPECT_EQ(backdrop->width, 640);
    EXPECT_EQ(backdrop->height, 480);
    EXPECT_EQ(backdrop->bitsPerPixel, 24);
    int width = 0, height = 0;
    const Bytes reference = referenceBgr(block, &width, &height);
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 480);
    EXPECT_TRUE(pixelBytes(backdrop) == reference) << "the backdrop differs from libjpeg's own BGR decode";
}

TEST_F(TitlePictures, BackdropEqualsDjpegsDecode) {
    // djpeg (libjpeg-turbo-progs) decodes the file in a separate process.
    // The embedded block is the file itself (checked with the embedded data).
    const Pnm reference = readPpm(commandOutput("djpeg -rgb -pnm '" QUORBEL_SOURCE_DIR "/assets/backdrop.jpg'"));
    ASSERT_EQ(reference.width, 640) << "djpeg could not decode the backdrop (is libjpeg-turbo-progs installed?)";
    ASSERT_EQ(reference.height, 480);
    const EmbeddedBlock block = embeddedBackdrop();
    Image* backdrop = decodeImage(BackdropImageNumber, block.data, block.length);
    ASSERT_NE(backdrop, nullptr);
    EXPECT_TRUE(pixelBytes(backdrop) == asBgr(reference.rgb)) << "the backdrop differs from djpeg's decode";
}

TEST_F(TitlePictures, OverlayFollowsItsRowTable) {
    const EmbeddedBlock block = embeddedOverlay();
    Image* overlay = decodeImage(OverlayImageNumber, block.data, block.length);
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(imageByNumber(OverlayImageNumber), overlay);
    ASSERT_EQ(overlay->width, 640);
    ASSERT_EQ(overlay->height, 480);
    ASSERT_EQ(overlay->bitsPerPixel, 32);
    for (int y = 0; y < 480; ++y) {
        // Row 0: white, fully transparent; odd rows: black at alpha 246;
        // the other even rows: black, fully transparent. Colours are stored
        // as they are in the file, not multiplied by alpha.
        const uint8_t colour = y == 0 ? 255 : 0;
        const uint8_t alpha = y % 2 == 1 ? 246 : 0;
        const uint8_t* row = overlay->pixels + static_cast<size_t>(y) * overlay->pitch;
        int wrong = 0;
        for (int x = 0; x < 640; ++x) {
            const uint8_t* p = row + 4 * x;
            if (p[0] != colour || p[1] != colour || p[2] != colour || p[3] != alpha) ++wrong;
        }
        EXPECT_EQ(wrong, 0) << "row " << y;
    }
}

}  // namespace
