// The data carried inside the program: the backdrop JPEG, the scan-line PNG
// and the face "CBM", stored back to back in that order, and the window icon.
// Generated at build time from the files in assets/.
#pragma once
#include <cstddef>
#include <cstdint>

struct EmbeddedBlock {
    const uint8_t* data;
    size_t length;  // bytes
};

EmbeddedBlock embeddedBackdrop();  // JPEG, 640 x 480
EmbeddedBlock embeddedOverlay();   // PNG, 640 x 480 with alpha
EmbeddedBlock embeddedFace();      // TrueType, family "CBM"
EmbeddedBlock embeddedIcon();      // the 16 x 16 window icon file
