// What the program knows of a picture file from its metadata.
#pragma once

#include <cstdint>

struct PictureMetadata {
    std::int32_t orientation = 1;  // TIFF orientation code of the stored pixels
    std::int32_t height = 0;       // stored pixel height; 0 when the metadata does not give it
    std::int32_t width = 0;        // stored pixel width; 0 when the metadata does not give it
    std::int32_t rating = 0;       // stars, 0 to 5 as the menu writes them; other values are kept as read
    bool isPrivate = false;        // labelled "private"
};

// The clockwise turn that shows the stored pixels upright.
constexpr std::int32_t OrientationToDegrees(std::int32_t orientation) {
    switch (orientation) {
    case 3: return 180;
    case 6: return 90;
    case 8: return 270;
    default: return 0;
    }
}
