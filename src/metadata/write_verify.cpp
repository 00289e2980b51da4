#include "metadata/write_verify.h"

#include <vips/vips.h>

#include "metadata/picture_decoder.h"
#include "metadata/vips_image_ref.h"

namespace {

// Every page where the loader knows of pages (a later GIF frame or TIFF
// page is as much the user's picture as the first), else the one picture.
// Read through a source, never by name: a name ending in "]" would be taken
// for load options.
VipsImage* LoadAll(const std::string& path) {
    VipsSource* source = vips_source_new_from_file(path.c_str());
    if (!source) return nullptr;
    VipsImage* image = vips_image_new_from_source(source, "", "n", -1, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (!image) {
        vips_error_clear();
        image = vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    }
    g_object_unref(source);
    return image;
}

}  // namespace

std::string PixelDifference(const std::string& original, const std::string& copy) {
    if (!StartVips()) return "the decoder did not start";
    const ImageRef before(LoadAll(original));
    const ImageRef after(LoadAll(copy));
    std::string why;
    if (!before.Get() || !after.Get()) {
        why = before.Get() ? "the copy does not decode" : "the picture does not decode";
    } else if (before.Get()->Xsize != after.Get()->Xsize || before.Get()->Ysize != after.Get()->Ysize ||
               before.Get()->Bands != after.Get()->Bands || before.Get()->BandFmt != after.Get()->BandFmt) {
        why = "the copy decodes to another size or format";
    } else {
        // 255 wherever a band of a pixel is equal; the minimum finds any that is not.
        ImageRef equal;
        double least = 0;
        if (vips_equal(before.Get(), after.Get(), equal.Out(), nullptr) != 0 ||
            vips_min(equal.Get(), &least, nullptr) != 0) {
            why = "the pixels could not be compared";
        } else if (least != 255) {
            why = "the copy's pixels differ";
        }
    }
    vips_error_clear();
    return why;
}
