// Camera raw files built on TIFF (DNG and its kin) keep a thumbnail of a
// few thousand pixels as their first image and the picture itself, or a
// large preview of it, in a SubIFD. Shown by its first image, a raw file
// would be that thumbnail stretched to the quadrant.
#pragma once

#include <vips/vips.h>

#include <string>

// The load options ("subifd=N") that select, among first (the first image
// as libvips read it from source) and the images in its SubIFDs, the largest
// that libvips renders as a picture and that is within kMaxPicturePixels;
// "" when that is the first image, or when the file has no SubIFDs. Raw
// sensor data (CFA, linear raw), which libvips reads as bands without
// colours, is passed over: it needs a raw converter to become a picture.
std::string LargestTiffPicture(VipsSource* source, VipsImage* first);
