// Reading fixture files and comparing decoded pictures in the asset tests.
#pragma once
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
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

struct Pnm {
    int width = 0;
    int height = 0;
    Bytes rgb;  // R, G, B per pixel, top row first
};

// A binary PPM (P6, maxval 255) as djpeg writes it.
inline Pnm readPpm(const Bytes& file) {
    Pnm out;
    std::string text(file.begin(), file.end());
    std::istringstream in(text);
    std::string magic;
    int maxval = 0;
    in >> magic >> out.width >> out.height >> maxval;
    if (magic != "P6" || maxval != 255) return {};
    in.get();  // the single white space after the header
    const size_t start = static_cast<size_t>(in.tellg());
    out.rgb.assign(file.begin() + static_cast<long>(start), file.end());
    if (out.rgb.size() != static_cast<size_t>(out.width) * out.height * 3) return {};
    return out;
}

// R, G, B pixels reordered as B, G, R.
inline Bytes asBgr(const Bytes& rgb) {
    Bytes out = rgb;
    for (size_t i = 0; i + 2 < out.size(); i += 3) std::swap(out[i], out[i + 2]);
    return out;
}

// What a command writes on its standard output (the command is waited for).
inline Bytes commandOutput(const std::string& command) {
    Bytes out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
    if (pclose(pipe) != 0) out.clear();
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
