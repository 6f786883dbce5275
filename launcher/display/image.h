// Off-screen images and the pixel views that drawing works on.
//
//   createImage   makes a zero-filled image of 24 or 32 bits per pixel
//   destroyImage  frees it (nullptr is fine)
//   viewOf        a PixelView over an image's pixels
//
// Pixels are stored bytewise blue, green, red and, at 32 bits, alpha; rows
// run top to bottom, `pitch` bytes apart. This is SDL's BGR24 and ARGB8888
// on a little-endian machine, and the layout of an X11 framebuffer at depth 24.
#pragma once
#include <cstdint>

struct PixelView {
    uint8_t* pixels = nullptr;  // first byte of the top-left pixel; nullptr: nothing to draw on
    int width = 0;              // pixels
    int height = 0;             // pixels
    int pitch = 0;              // bytes from one row to the next
    int bytesPerPixel = 0;      // 3 (B, G, R) or 4 (B, G, R, A or unused)
};

struct Image {
    int width = 0;              // pixels
    int height = 0;             // pixels
    int bitsPerPixel = 0;       // 24 (no alpha) or 32 (with alpha)
    int pitch = 0;              // bytes per row
    uint8_t* pixels = nullptr;  // owned by the image
};

// A zero-filled image, or nullptr when the size is not positive, the depth is
// neither 24 nor 32, or memory runs out.
Image* createImage(int width, int height, int bitsPerPixel);
void destroyImage(Image* image);
PixelView viewOf(Image* image);
