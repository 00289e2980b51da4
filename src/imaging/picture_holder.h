// A picture the saver can draw. It holds up to three things and owns them:
// the bitmap handed over by SetBitmap (a cairo image surface), the drawable
// image made from that bitmap, and an image decoded from one of the
// program's PNG resources. For sizes and drawing the resource image comes
// first, then the bitmap's image, then the bitmap itself.
#pragma once

#include <cairo.h>

#include <cstdint>

#include "platform/resource.h"
#include "platform/types.h"

class PictureHolder {
public:
    PictureHolder();
    ~PictureHolder();
    PictureHolder(const PictureHolder&) = delete;
    PictureHolder& operator=(const PictureHolder&) = delete;

    // Empties the holder, then takes over the caller's reference to bitmap
    // and makes the drawable image from it. A null bitmap leaves it empty.
    void SetBitmap(cairo_surface_t* bitmap);
    // Decodes a PNG resource into the resource image, replacing any earlier
    // one; a failed decode leaves none. A missing resource changes nothing.
    void LoadFromResource(int id, ResourceType type);
    // Turns the bitmap's image clockwise by a multiple of 90 degrees; turns
    // accumulate. Other angles, and angles below -360, change nothing.
    void RotateBy(std::int32_t degrees);
    // The size of the image that would be drawn; 0 when only a bitmap is held.
    std::uint32_t GetWidth() const;
    std::uint32_t GetHeight() const;
    bool HasPicture() const;
    void ReleasePicture();
    // Trades contents with other, so that a picture made aside replaces the
    // shown one in one step.
    void Swap(PictureHolder& other) noexcept;
    // Stretches the picture to exactly this rectangle (right and bottom
    // exclusive) without keeping its aspect ratio; an empty holder draws nothing.
    void DrawInto(HDC dc, int left, int top, int right, int bottom) const;

private:
    cairo_surface_t* Image() const { return resourceImage_ ? resourceImage_ : bitmapImage_; }

    cairo_surface_t* bitmapHandle_ = nullptr;
    cairo_surface_t* bitmapImage_ = nullptr;
    cairo_surface_t* resourceImage_ = nullptr;
};
