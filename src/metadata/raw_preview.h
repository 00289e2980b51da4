// Camera raw files built on TIFF keep a thumbnail of a few thousand pixels
// as their first image and the picture itself, or a large preview of it,
// elsewhere: in a SubIFD as an image of its own (DNG), or as a JPEG stream a
// directory points at (Samsung's and Nikon's layouts). Shown by its first
// image, a raw file would be that thumbnail stretched to the quadrant.
#pragma once

#include <vips/vips.h>

#include <cstdint>
#include <string>

// Where the largest picture of a TIFF-based file lies.
struct TiffPicture {
    std::string loadOptions;        // for libvips: "" (the first image) or "subifd=N"
    std::int64_t jpegOffset = -1;   // or the JPEG stream that starts here, which libvips does not reach
};

// Among first (the first image as libvips read it from source) and the
// images in its SubIFDs, the largest that libvips renders as a picture, and
// the JPEG streams that the first two directories and their SubIFDs point
// at (read through descriptor), the largest within kMaxPicturePixels. Raw
// sensor data (CFA, linear raw), which libvips reads as bands without
// colours, is passed over: it needs a raw converter to become a picture.
// Files libvips reads with another loader get the default.
TiffPicture LargestTiffPicture(VipsSource* source, VipsImage* first, int descriptor);
