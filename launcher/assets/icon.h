// The window icon: the embedded 16 x 16 icon file decoded into a 32-bit image
// (transparent where the icon's mask says so). nullptr when it cannot be read.
// The caller owns the image.
#pragma once
#include <cstddef>
#include <cstdint>
#include "launcher/display/image.h"

Image* decodeIcon(const uint8_t* data, size_t length);
