// JPEG from memory through libjpeg: grey and colour pictures alike become
// 24-bit BGR.
//
// libjpeg reports errors through error_exit, which jumps back into
// readPicture; the jump crosses only that frame, whose objects are all
// trivially destructible. The image is reachable from a volatile local and
// freed on the way out.
//
// A stream that ends early is only a warning to libjpeg: it finishes the
// picture with grey and the decoder keeps it, so a truncated file still gives
// an image of its full size once its frame header and first scan header are
// read. A stream cut before that gives none.
#include "launcher/assets/images.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

#include <climits>
#include <csetjmp>

namespace {

// A progressive stream may repeat scans, each of which libjpeg decodes over
// the whole picture; real files have about ten.
constexpr int kMaxScans = 256;

struct Failure {
    jpeg_error_mgr manager;       // first, so that cinfo->err leads back here
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
};

[[noreturn]] void abandon(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Failure*>(cinfo->err)->jump, 1);
}

void dropMessage(j_common_ptr) {}

// Called while libjpeg takes in the scans of a multi-scan stream.
void watchScans(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) abandon(cinfo);
}

// Decodes into a new image with cinfo already created over the block.
// Returns nullptr on any error.
Image* readPicture(jpeg_decompress_struct* cinfo, Failure* failure) {
    Image* volatile image = nullptr;
    if (setjmp(failure->jump)) {
        destroyImage(image);
        return nullptr;
    }

    jpeg_read_header(cinfo, TRUE);
    const JDIMENSION width = cinfo->image_width;
    const JDIMENSION height = cinfo->image_height;
    if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
        static_cast<long long>(width) * height > kMaxPicturePixels)
        return nullptr;

    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3 || cinfo->output_width != width || cinfo->output_height != height)
        return nullptr;

    image = createImage(static_cast<int>(width), static_cast<int>(height), 24);
    if (!image) return nullptr;
    while (cinfo->output_scanline < height) {
        uint8_t* row = image->pixels + static_cast<size_t>(cinfo->output_scanline) * image->pitch;
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(cinfo, rows, 1) != 1) break;  // cannot happen with a memory source
        for (JDIMENSION x = 0; x < width; ++x) {              // R, G, B -> B, G, R
            uint8_t* p = row + 3 * static_cast<size_t>(x);
            const uint8_t red = p[0];
            p[0] = p[2];
            p[2] = red;
        }
    }
    jpeg_finish_decompress(cinfo);
    return image;
}

}  // namespace

bool isJpeg(const uint8_t* data, size_t length) {
    return data && length >= 2 && data[0] == 0xFF && data[1] == 0xD8;
}

Image* decodeJpeg(const uint8_t* data, size_t length) {
    if (!isJpeg(data, length) || length > ULONG_MAX) return nullptr;
    jpeg_decompress_struct cinfo;
    Failure failure;
    cinfo.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = abandon;
    failure.manager.output_message = dropMessage;
    // jpeg_create_decompress can fail (out of memory) through error_exit.
    if (setjmp(failure.jump)) return nullptr;
    jpeg_create_decompress(&cinfo);
    failure.progress = {};
    failure.progress.progress_monitor = watchScans;
    cinfo.progress = &failure.progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(length));

    Image* image = readPicture(&cinfo, &failure);
    jpeg_destroy_decompress(&cinfo);
    return image;
}
