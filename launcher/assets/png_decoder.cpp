// PNG from memory through libpng: every format becomes 8-bit BGR or BGRA.
//
// libpng reports errors by longjmp. The jump crosses only readRows' frame,
// whose objects are all trivially destructible; what it allocated itself is
// reachable from volatile locals and freed on the way out.
#include "launcher/assets/images.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace {

const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// Ancillary chunks (text, colour profiles) may not make libpng allocate
// more than this; the pictures themselves are bounded by kMaxPicturePixels.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

struct BlockReader {
    const uint8_t* data;
    size_t length;  // bytes
    size_t offset;  // bytes consumed
};

// libpng asks for exact byte counts; a block that ends early is an error,
// never a short read.
void readFromBlock(png_structp png, png_bytep out, size_t count) {
    BlockReader* reader = static_cast<BlockReader*>(png_get_io_ptr(png));
    if (count > reader->length - reader->offset) png_error(png, "block ends early");
    std::memcpy(out, reader->data + reader->offset, count);
    reader->offset += count;
}

[[noreturn]] void abandon(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void dropWarning(png_structp, png_const_charp) {}

// Sets up the transformations, then reads the picture into a new image.
// Returns nullptr on any error.
Image* readRows(png_structp png, png_infop info) {
    Image* volatile image = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        destroyImage(image);
        return nullptr;
    }

    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
        static_cast<long long>(width) * height > kMaxPicturePixels)
        return nullptr;

    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    if (depth == 16) png_set_strip_16(png);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    // After the transformations every picture is 8-bit RGB or RGBA.
    const int channels = png_get_channels(png, info);
    if (png_get_bit_depth(png, info) != 8 || (channels != 3 && channels != 4)) return nullptr;
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * channels) return nullptr;

    image = createImage(static_cast<int>(width), static_cast<int>(height), channels * 8);
    if (!image) return nullptr;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, image->pixels + static_cast<size_t>(y) * image->pitch, nullptr);
    // Reading on to IEND checks the rest of the block, so a truncated or
    // damaged file gives no picture even when its rows came out whole.
    png_read_end(png, nullptr);
    return image;
}

}  // namespace

bool isPng(const uint8_t* data, size_t length) {
    return data && length >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

Image* decodePng(const uint8_t* data, size_t length) {
    if (!isPng(data, length)) return nullptr;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, abandon, dropWarning);
    if (!png) return nullptr;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return nullptr;
    }
    png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    BlockReader reader{data, length, 0};
    png_set_read_fn(png, &reader, readFromBlock);

    Image* image = readRows(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}
