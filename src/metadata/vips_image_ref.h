// Owns one reference to a libvips image, so that no early return leaks it.
#pragma once

#include <vips/vips.h>

class ImageRef {
public:
    explicit ImageRef(VipsImage* image = nullptr) : image_(image) {}
    ~ImageRef() {
        if (image_) g_object_unref(image_);
    }
    ImageRef(const ImageRef&) = delete;
    ImageRef& operator=(const ImageRef&) = delete;
    VipsImage* Get() const { return image_; }
    VipsImage** Out() { return &image_; }

private:
    VipsImage* image_;
};
