// JPEG through libjpeg-turbo's DCT scaling: a picture shown at an eighth of
// its size is decoded at an eighth of the memory and with far less work.
#pragma once

#include <cairo.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "metadata/picture_decoder.h"

// The smallest numerator M of the scalings M/8 whose output still covers
// coverWidth × coverHeight; 8 when only the full size does.
int JpegScaleNumerator(int width, int height, int coverWidth, int coverHeight);

struct JpegJob;

// One JPEG decoded at the smallest scaling whose output covers the picture
// fitted within the size asked for, straight into cairo's pixel layout, and
// scaled to the fitted size on the same thread.
class ScaledJpeg {
public:
    // Takes the file over. Once `cancelled` turns true, Start or Decode
    // gives up within a few rows, as on a fatal error (kCancelledFailure).
    explicit ScaledJpeg(std::FILE* file, const std::atomic<bool>* cancelled = nullptr);
    ~ScaledJpeg();
    ScaledJpeg(const ScaledJpeg&) = delete;
    ScaledJpeg& operator=(const ScaledJpeg&) = delete;

    // Reads the header and picks the scaling. False when the header cannot be
    // read or promises more than kMaxPicturePixels.
    bool Start(int maxWidth, int maxHeight);
    // The picture fitted within the size given to Start (FitWithin).
    PixelSize Fitted() const;
    // Decodes every row on the calling thread: an opaque ARGB32 bitmap at
    // the fitted size, owned by the caller; null when libjpeg gives up. A
    // truncated file is not a failure: its missing rows come out grey.
    cairo_surface_t* Decode();
    // For the log: the call that failed, or why nothing was decoded.
    const char* Failure() const;
    long Status() const;  // libjpeg's message code of the failure

private:
    std::unique_ptr<JpegJob> job_;
};
