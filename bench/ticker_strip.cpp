// Writes the scroll text as the ticker draws it into its strip, but in one
// picture wide enough for the whole line: the text's cell at (0, 3) of a
// W x 20 image, yellow on black, through the launcher's own font and text
// drawing. run_bench.py finds each captured band inside this picture.
//
//   quorbel_ticker_strip <out.ppm>    prints width=W
#include <cstdio>

#include "launcher/assets/embedded.h"
#include "launcher/assets/fonts.h"
#include "launcher/display/display.h"
#include "launcher/display/draw.h"
#include "launcher/title/ticker.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorbel_ticker_strip <out.ppm>\n");
        return 2;
    }
    const EmbeddedBlock face = embeddedFace();
    registerFontData(face.data, face.length);
    const Font* font = openFont(TickerFontNumber, "cbm", 12);
    if (!font) {
        std::fprintf(stderr, "quorbel_ticker_strip: the ticker font did not open\n");
        return 1;
    }
    Image* probe = createImage(1, 1, 32);
    beginSession(imageTarget(probe));
    selectFont(font);
    const int width = measureText(kScrollText);
    endSession();
    destroyImage(probe);

    Image* line = createImage(width, kStripHeight, 32);
    if (!line) return 1;
    beginSession(imageTarget(line));
    selectFont(font);
    putText(0, kTextY, kScrollText, rgb(255, 255, 0));
    endSession();

    FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    std::fprintf(out, "P6\n%d %d\n255\n", line->width, line->height);
    for (int y = 0; y < line->height; ++y)
        for (int x = 0; x < line->width; ++x) {
            const unsigned char* p = line->pixels + y * line->pitch + x * 4;
            const unsigned char rgb[3] = {p[2], p[1], p[0]};
            std::fwrite(rgb, 1, 3, out);
        }
    if (std::fclose(out) != 0) return 1;
    std::printf("width=%d\n", width);
    destroyImage(line);
    deleteAllFonts();
    return 0;
}
