// Fuzz target: any block through the decoder registry, as start-up hands the
// embedded pictures to it. Both decoders are registered; the block goes to
// whichever recognises it.
//
// Checked beyond the sanitizers: a decoded image is well formed (positive
// size within the limits, 24 or 32 bits, a pitch that holds a row, every
// row readable), it is the one stored under its number, and deleting
// the store leaves nothing behind (the leak checker sees the rest).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "launcher/assets/images.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

// Reads the first and the last byte of every row, so that an image whose
// buffer is smaller than its size and pitch claim is caught by the address
// sanitizer; the sum keeps the reads. (Every byte would do no better: the
// rows lie in one block, and the loop would cost more than the decoding.)
unsigned touchRows(const Image& image) {
    unsigned sum = 0;
    const size_t rowBytes = static_cast<size_t>(image.width) * (image.bitsPerPixel / 8);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* row = image.pixels + static_cast<size_t>(y) * image.pitch;
        sum += row[0] + row[rowBytes - 1];
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    registerPngDecoder();
    registerJpegDecoder();

    Image* image = decodeImage(BackdropImageNumber, data, size);
    require(imageByNumber(BackdropImageNumber) == image);
    if (image) {
        require(image->width > 0 && image->height > 0);
        require(image->width <= kMaxPictureSide && image->height <= kMaxPictureSide);
        require(static_cast<long long>(image->width) * image->height <= kMaxPicturePixels);
        require(image->bitsPerPixel == 24 || image->bitsPerPixel == 32);
        require(image->pitch >= image->width * (image->bitsPerPixel / 8));
        require(image->pixels != nullptr);
        volatile unsigned sink = touchRows(*image);
        (void)sink;
        // Only a block the registry recognised can have given a picture.
        require(isPng(data, size) || isJpeg(data, size));
    }

    deleteAllImages();
    require(imageByNumber(BackdropImageNumber) == nullptr);
    return 0;
}
