#include "launcher/display/image.h"

#include <cstddef>
#include <new>

namespace {
// Larger pictures than this are refused rather than allocated.
constexpr int kMaxSide = 16384;
}

Image* createImage(int width, int height, int bitsPerPixel) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return nullptr;
    const int pitch = width * (bitsPerPixel / 8);
    uint8_t* pixels = new (std::nothrow) uint8_t[static_cast<size_t>(pitch) * height]();
    if (!pixels) return nullptr;
    Image* image = new (std::nothrow) Image{width, height, bitsPerPixel, pitch, pixels};
    if (!image) delete[] pixels;
    return image;
}

void destroyImage(Image* image) {
    if (!image) return;
    delete[] image->pixels;
    delete image;
}

PixelView viewOf(Image* image) {
    if (!image || !image->pixels) return {};
    return {image->pixels, image->width, image->height, image->pitch, image->bitsPerPixel / 8};
}
