// Picture files decoded into bitmaps for quadrants: at the size they are
// shown at, never at full resolution when smaller will do. JPEG goes through
// libjpeg-turbo's scaled decode and a cairo resample, every other format
// through libvips' thumbnailer with shrink-on-load (a camera raw file by its
// largest picture), and a video by one frame (video_frame.h). Pixels stay as
// stored: turning them upright from their metadata is the caller's business.
#pragma once

#include <cairo.h>

#include <atomic>
#include <cstdint>
#include <string>

// The largest picture decoded at all. Bigger than any camera makes; smaller
// than the pictures whose header alone promises gigabytes.
constexpr std::int64_t kMaxPicturePixels = std::int64_t{16384} * 16384;
inline constexpr char kPixelLimitFailure[] = "Picture exceeds the pixel limit";
inline constexpr char kCancelledFailure[] = "Decode cancelled";

struct DecodeOutcome {
    cairo_surface_t* bitmap = nullptr;  // ARGB32, owned by the caller; null on failure
    long status = 0;                    // the failing library's error code; 0 when none
    const char* failure = nullptr;      // for the log: the call that failed, or why nothing was decoded
};

struct PixelSize {
    int width = 0;
    int height = 0;
};

// Brings libvips up once per process, quiet and without its operation
// cache; false when it could not start.
bool StartVips();

// A new ARGB32 bitmap for a decoder to fill, flushed for direct access;
// null, with outcome's failure set, when cairo cannot make it.
cairo_surface_t* NewBitmap(int width, int height, DecodeOutcome& outcome);

// width × height scaled to fit within maxWidth × maxHeight, proportions kept
// and rounded, never enlarged, at least one pixel each way.
PixelSize FitWithin(int width, int height, int maxWidth, int maxHeight);

// Decodes the file's picture fitted within maxWidth × maxHeight (each at
// least 1): the first, or the largest in a camera raw file, or a clip's
// frame. A picture over kMaxPicturePixels is refused before any pixel is
// decoded. A truncated or corrupt picture fails or comes out partly. Once
// `cancelled` turns true, a picture's decode stops within a few rows and
// gives no bitmap (kCancelledFailure); a clip's frame is short and finishes.
DecodeOutcome DecodePicture(const std::string& path, int maxWidth, int maxHeight,
                            const std::atomic<bool>* cancelled = nullptr);
