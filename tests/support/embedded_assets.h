// The launcher's start-up steps that load what it shows, in its order, for
// programs that compose the title or run the ticker in-process (reference
// pictures, benchmarks). False when a picture or a font is missing: the
// launcher would go on without it, but then there is nothing worth measuring
// or comparing against.
#pragma once
#include "launcher/assets/embedded.h"
#include "launcher/assets/fonts.h"
#include "launcher/assets/images.h"

inline bool loadEmbeddedAssets() {
    registerPngDecoder();
    registerJpegDecoder();
    const EmbeddedBlock face = embeddedFace();
    registerFontData(face.data, face.length);
    const EmbeddedBlock backdrop = embeddedBackdrop();
    const EmbeddedBlock overlay = embeddedOverlay();
    const bool pictures = decodeImage(BackdropImageNumber, backdrop.data, backdrop.length) &&
                          decodeImage(OverlayImageNumber, overlay.data, overlay.length);
    const bool fonts = openFont(TickerFontNumber, "cbm", 12) && openFont(MenuFontNumber, "cbm", 9);
    return pictures && fonts;
}
