// The embedded blocks are the files in assets/, unaltered, and the three data
// blocks lie back to back in the order JPEG, PNG, font.
#include "launcher/assets/embedded.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> assetFile(const std::string& name) {
    std::ifstream in(std::string(QUORBEL_SOURCE_DIR "/assets/") + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> bytesOf(EmbeddedBlock block) { return {block.data, block.data + block.length}; }

TEST(Embedded, BlocksAreTheAssetFiles) {
    struct Case {
        const char* file;
        EmbeddedBlock block;
    };
    const Case cases[] = {
        {"backdrop.jpg", embeddedBackdrop()},
        {"scanlines.png", embeddedOverlay()},
        {"cbm.ttf", embeddedFace()},
        {"icon.ico", embeddedIcon()},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> file = assetFile(c.file);
        ASSERT_FALSE(file.empty()) << c.file;
        EXPECT_EQ(c.block.length, file.size()) << c.file;
        EXPECT_TRUE(bytesOf(c.block) == file) << c.file << " differs from its embedded block";
    }
}

TEST(Embedded, DataBlocksLieBackToBackInOrder) {
    const EmbeddedBlock jpeg = embeddedBackdrop(), png = embeddedOverlay(), face = embeddedFace();
    EXPECT_EQ(png.data, jpeg.data + jpeg.length);
    EXPECT_EQ(face.data, png.data + png.length);
    // Each block starts with its own format's signature.
    EXPECT_EQ(jpeg.data[0], 0xFF);
    EXPECT_EQ(jpeg.data[1], 0xD8);
    EXPECT_EQ(png.data[0], 0x89);
    EXPECT_EQ(png.data[1], 'P');
    EXPECT_EQ((std::vector<uint8_t>(face.data, face.data + 4)), (std::vector<uint8_t>{0, 1, 0, 0}));
}

}  // namespace
