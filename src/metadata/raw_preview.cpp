#include "metadata/raw_preview.h"

#include <algorithm>
#include <cstdint>

#include "metadata/picture_decoder.h"
#include "metadata/vips_image_ref.h"

namespace {

// DNGs hold two or three (raw data, a preview, sometimes a mask); a header
// claiming thousands costs a directory read each and is no camera's.
constexpr int kMaxSubIfds = 16;

// The pixels of image when libvips knows its colours; 0 otherwise.
std::int64_t PicturePixels(const VipsImage* image) {
    if (image->Type == VIPS_INTERPRETATION_MULTIBAND) return 0;
    const std::int64_t pixels = static_cast<std::int64_t>(image->Xsize) * image->Ysize;
    return pixels <= kMaxPicturePixels ? pixels : 0;
}

}  // namespace

std::string LargestTiffPicture(VipsSource* source, VipsImage* first) {
    if (!vips_image_get_typeof(first, VIPS_META_N_SUBIFDS)) return "";
    const int count = std::min(vips_image_get_n_subifds(first), kMaxSubIfds);
    std::int64_t largest = PicturePixels(first);
    std::string options;
    for (int i = 0; i < count; ++i) {
        // Only the header: the pixels wait until the choice is made.
        const ImageRef image(
            vips_image_new_from_source(source, "", "subifd", i, "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
        if (!image.Get()) {
            vips_error_clear();
            continue;
        }
        if (const std::int64_t pixels = PicturePixels(image.Get()); pixels > largest) {
            largest = pixels;
            options = "subifd=" + std::to_string(i);
        }
    }
    return options;
}
