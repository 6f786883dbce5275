// The decoder registry and the numbered image store.
#include "launcher/assets/images.h"

namespace {

struct Decoder {
    bool (*recognises)(const uint8_t* data, size_t length);
    Image* (*decode)(const uint8_t* data, size_t length);
};

constexpr int kDecoderSlots = 4;

// Registered decoders in the order they are asked; the first that recognises
// a block decodes it.
Decoder decoders[kDecoderSlots];
int decoderCount = 0;

Image* storedImages[kImageSlots];  // owned; nullptr: the number is empty

void registerDecoder(const Decoder& d) {
    for (int i = 0; i < decoderCount; ++i)
        if (decoders[i].recognises == d.recognises) return;  // already registered
    if (decoderCount < kDecoderSlots) decoders[decoderCount++] = d;
}

bool validNumber(int number) { return number >= 0 && number < kImageSlots; }

}  // namespace

void registerPngDecoder() { registerDecoder({isPng, decodePng}); }
void registerJpegDecoder() { registerDecoder({isJpeg, decodeJpeg}); }

void resetDecoders() { decoderCount = 0; }

Image* decodeImage(int number, const uint8_t* data, size_t length) {
    if (!validNumber(number)) return nullptr;
    Image* image = nullptr;
    for (int i = 0; i < decoderCount; ++i) {
        if (decoders[i].recognises(data, length)) {
            image = decoders[i].decode(data, length);
            break;  // only the first that recognises the block is asked to decode
        }
    }
    storeImage(number, image);
    return image;
}

void storeImage(int number, Image* image) {
    if (!validNumber(number)) {
        destroyImage(image);  // the store takes the image in every case
        return;
    }
    if (storedImages[number] == image) return;
    destroyImage(storedImages[number]);
    storedImages[number] = image;
}

Image* imageByNumber(int number) { return validNumber(number) ? storedImages[number] : nullptr; }

void deleteAllImages() {
    for (Image*& image : storedImages) {
        destroyImage(image);
        image = nullptr;
    }
}
