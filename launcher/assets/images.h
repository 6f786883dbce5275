// The picture decoders and the numbered image store.
//
//   registerPngDecoder   makes PNG data decodable (a second call does nothing)
//   registerJpegDecoder  makes JPEG data decodable (a second call does nothing)
//   decodeImage          decodes a block with the first registered decoder that
//                        recognises it; stores the result under the number,
//                        deleting what was stored there before. Returns the
//                        image, or nullptr (the number is then empty).
//   storeImage           puts an image made elsewhere (the ticker's strip) under a
//                        number, deleting what was there; the store owns it from
//                        then on (a number out of range deletes it at once)
//   imageByNumber        the image under a number, or nullptr
//   deleteAllImages      deletes every stored image (end of program)
//
// Decoded images are 24 bits (no alpha) or 32 bits (alpha, not premultiplied),
// stored blue, green, red (, alpha), top row first. Decoders never throw,
// never print, and leak nothing when a block is broken.
#pragma once
#include <cstddef>
#include <cstdint>
#include "launcher/display/image.h"

// Pictures larger than this are refused before anything is allocated for
// them, so that a small hostile block cannot inflate into gigabytes.
constexpr int kMaxPictureSide = 16384;                  // pixels per side
constexpr long long kMaxPicturePixels = 64LL << 20;     // width * height
// Image numbers run from 0 to kImageSlots - 1; others store nothing.
constexpr int kImageSlots = 16;

enum ImageNumber {
    StripImageNumber = 0,     // the ticker's 640 x 20 strip
    BackdropImageNumber = 2,  // the title's backdrop picture
    OverlayImageNumber = 3,   // the scan-line overlay
};

void registerPngDecoder();
void registerJpegDecoder();
Image* decodeImage(int number, const uint8_t* data, size_t length);
void storeImage(int number, Image* image);
Image* imageByNumber(int number);
void deleteAllImages();

// For tests: forget the registered decoders, as at process start.
void resetDecoders();

// The decoders themselves, usable without registration (tests, fuzzing).
bool isPng(const uint8_t* data, size_t length);   // at least 8 bytes of PNG signature
bool isJpeg(const uint8_t* data, size_t length);  // at least 2 bytes: FF D8
Image* decodePng(const uint8_t* data, size_t length);   // nullptr on any error
Image* decodeJpeg(const uint8_t* data, size_t length);  // nullptr on any error
