// Reading fixture files and comparing decoded pictures in the asset tests.
#pragma once
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "launcher/display/image.h"

using Bytes = std::vector<uint8_t>;

// The whole file, or an empty block when it cannot be read.
inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Bytes fixture(const std::string& name) { return readFile(std::string(QUORBEL_FIXTURES "/") + name); }

// An image's pixel bytes row by row, without any padding.
inline Bytes pixelBytes(const Image* image) {
    Bytes out;
    if (!image) return out;
    const int rowBytes = image->width * image->bitsPerPixel / 8;
    for (int y = 0; y < image->height; ++y) {
        const uint8_t* row = image->pixels + static_cast<size_t>(y) * image->pitch;
        out.insert(out.end(), row, row + rowBytes);
    }
    return out;
}

// Frees an image at the end of a scope.
struct ImageHolder {
    Image* image;
    explicit ImageHolder(Image* i) : image(i) {}
    ~ImageHolder() { destroyImage(image); }
    ImageHolder(const ImageHolder&) = delete;
    ImageHolder& operator=(const ImageHolder&) = delete;
    Image* operator->() const { return image; }
    Image* get() const { return image; }
};
