#include "metadata/picture_decoder.h"

#include <fcntl.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "diag/library_messages.h"
#include "metadata/jpeg_decoder.h"
#include "metadata/raw_preview.h"
#include "metadata/video_frame.h"
#include "metadata/vips_image_ref.h"

namespace {

// libvips keeps its messages until they are cleared; the log gets the call.
bool VipsFailed(int result, const char* call, DecodeOutcome& outcome) {
    if (result == 0) return false;
    vips_error_clear();
    outcome.status = result;
    outcome.failure = call;
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The first bytes: enough to tell apart the formats that take a path of their own.
std::string ReadHead(std::FILE* file) {
    char head[12];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    return std::string(head, got);
}

bool IsJpeg(std::string_view head) { return head.starts_with("\xFF\xD8\xFF"); }

// cairo's ARGB32: native-endian 32-bit words, alpha premultiplied. Opaque
// rows, the usual case, take no arithmetic.
void ToArgbRow(const unsigned char* from, int bands, int width, std::uint32_t* to) {
    if (bands == 3) {
        for (int x = 0; x < width; ++x, from += 3) to[x] = 0xFF000000u | from[0] << 16 | from[1] << 8 | from[2];
        return;
    }
    for (int x = 0; x < width; ++x, from += 4) {
        const std::uint32_t alpha = from[3];
        const auto premultiply = [alpha](std::uint32_t value) { return (value * alpha + 127) / 255; };
        to[x] = alpha << 24 | premultiply(from[0]) << 16 | premultiply(from[1]) << 8 | premultiply(from[2]);
    }
}

// Computes the image strip by strip on the calling thread, straight into the
// bitmap: no second copy of the picture, and no libvips thread pool, whose
// start-up costs more than a quadrant-sized picture takes to compute.
cairo_surface_t* RenderToSurface(VipsImage* image, DecodeOutcome& outcome, const std::atomic<bool>* cancelled) {
    constexpr int kStripRows = 8;
    ImageRef srgb;
    if (VipsFailed(vips_colourspace(image, srgb.Out(), VIPS_INTERPRETATION_sRGB, nullptr), "vips_colourspace",
                   outcome)) {
        return nullptr;
    }
    const int bands = srgb.Get()->Bands;
    if (srgb.Get()->BandFmt != VIPS_FORMAT_UCHAR || (bands != 3 && bands != 4)) {
        VipsFailed(-1, "vips_colourspace", outcome);
        return nullptr;
    }
    const int width = srgb.Get()->Xsize;
    const int height = srgb.Get()->Ysize;
    cairo_surface_t* surface = NewBitmap(width, height, outcome);
    if (!surface) return nullptr;
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    VipsRegion* region = vips_region_new(srgb.Get());
    for (int top = 0; top < height; top += kStripRows) {
        VipsRect strip{0, top, width, std::min(kStripRows, height - top)};
        // A strip is where libvips decodes: each holds a small share of the picture.
        const bool stop = cancelled && cancelled->load(std::memory_order_relaxed);
        if (stop || VipsFailed(vips_region_prepare(region, &strip), "vips_region_prepare", outcome)) {
            if (stop) outcome.failure = kCancelledFailure;
            g_object_unref(region);
            cairo_surface_destroy(surface);
            return nullptr;
        }
        for (int y = top; y < VIPS_RECT_BOTTOM(&strip); ++y) {
            ToArgbRow(reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(region, 0, y)), bands, width,
                      reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride));
        }
    }
    g_object_unref(region);
    cairo_surface_mark_dirty(surface);
    return surface;
}

cairo_surface_t* DecodeJpeg(std::FILE* file, int maxWidth, int maxHeight, DecodeOutcome& outcome,
                            const std::atomic<bool>* cancelled) {
    ScaledJpeg jpeg(file, cancelled);
    cairo_surface_t* bitmap = jpeg.Start(maxWidth, maxHeight) ? jpeg.Decode() : nullptr;
    if (!bitmap) {
        outcome.status = jpeg.Status();
        outcome.failure = jpeg.Failure();
    }
    return bitmap;
}

// A JPEG stream inside another file (a raw file's preview), decoded as any
// JPEG through a descriptor of its own, which the decoder closes.
cairo_surface_t* DecodeEmbeddedJpeg(std::FILE* file, std::int64_t offset, int maxWidth, int maxHeight,
                                    DecodeOutcome& outcome, const std::atomic<bool>* cancelled) {
    const int descriptor = fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
    std::FILE* stream = descriptor >= 0 ? fdopen(descriptor, "rb") : nullptr;
    if (!stream || fseeko(stream, offset, SEEK_SET) != 0) {
        outcome.status = errno;
        outcome.failure = "fdopen";
        if (stream) {
            std::fclose(stream);
        } else if (descriptor >= 0) {
            close(descriptor);
        }
        return nullptr;
    }
    return DecodeJpeg(stream, maxWidth, maxHeight, outcome, cancelled);
}

// Read through the open file, never by name: libvips would take a name
// ending in "]" for one carrying load options.
cairo_surface_t* DecodeOther(std::FILE* file, int maxWidth, int maxHeight, DecodeOutcome& outcome,
                             const std::atomic<bool>* cancelled) {
    VipsSource* source = vips_source_new_from_descriptor(fileno(file));  // holds a descriptor of its own
    if (!source) {
        VipsFailed(-1, "vips_source_new_from_descriptor", outcome);
        return nullptr;
    }
    const std::unique_ptr<VipsSource, decltype(&g_object_unref)> owner(source, g_object_unref);
    TiffPicture largest;
    {
        // Only the header is read here; the pixels wait for the thumbnailer.
        ImageRef header(vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
        if (!header.Get()) {
            VipsFailed(-1, "vips_image_new_from_source", outcome);
            // What no picture loader reads may still be a clip.
            DecodeOutcome video;
            if (!DecodeVideoFrame(fileno(file), maxWidth, maxHeight, video)) return nullptr;
            outcome = video;
            return video.bitmap;
        }
        if (static_cast<std::int64_t>(header.Get()->Xsize) * header.Get()->Ysize > kMaxPicturePixels) {
            outcome.failure = kPixelLimitFailure;
            return nullptr;
        }
        largest = LargestTiffPicture(source, header.Get(), fileno(file));
    }
    if (largest.jpegOffset >= 0)
        return DecodeEmbeddedJpeg(file, largest.jpegOffset, maxWidth, maxHeight, outcome, cancelled);
    ImageRef thumbnail;
    if (VipsFailed(vips_thumbnail_source(source, thumbnail.Out(), maxWidth, "height", maxHeight, "size",
                                         VIPS_SIZE_DOWN, "no_rotate", TRUE, "option_string", largest.loadOptions.c_str(), nullptr),
                   "vips_thumbnail_source", outcome)) {
        return nullptr;
    }
    return RenderToSurface(thumbnail.Get(), outcome, cancelled);
}

}  // namespace

bool StartVips() {
    static const bool started = [] {
        if (VIPS_INIT("kaleidra") != 0) return false;
        // Cached operations would hold pictures in memory between ticks and
        // give back a picture as it was before the menu rewrote its file.
        vips_cache_set_max(0);
        // Only the loaders libvips holds fit for hostile files: a picture is
        // whatever the walk finds, and the others (ImageMagick's hundreds of
        // coders among them) are not written for that.
        vips_block_untrusted_set(TRUE);
        // Damaged pictures are skipped or shown partly; what libvips says about
        // them is for the debug log, never the saver's stderr.
        g_log_set_handler(
            "VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
            [](const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
                LogLibraryMessage("libvips", message ? message : "");
            },
            nullptr);
        return true;
    }();
    return started;
}

cairo_surface_t* NewBitmap(int width, int height, DecodeOutcome& outcome) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        outcome.failure = "cairo_image_surface_create";
        return nullptr;
    }
    cairo_surface_flush(surface);
    return surface;
}

PixelSize FitWithin(int width, int height, int maxWidth, int maxHeight) {
    const double scale = std::min({1.0, static_cast<double>(maxWidth) / width, static_cast<double>(maxHeight) / height});
    const auto fit = [scale](int size, int limit) {
        return std::clamp(static_cast<int>(std::lround(size * scale)), 1, std::max(1, std::min(size, limit)));
    };
    return {fit(width, maxWidth), fit(height, maxHeight)};
}

DecodeOutcome DecodePicture(const std::string& path, int maxWidth, int maxHeight, const std::atomic<bool>* cancelled) {
    DecodeOutcome outcome;
    if (!StartVips()) {
        outcome.status = -1;
        outcome.failure = "vips_init";
        return outcome;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rbe"));
    if (!file) {
        outcome.status = errno;
        outcome.failure = "fopen";
        return outcome;
    }
    const std::string head = ReadHead(file.get());
    if (IsJpeg(head)) {
        outcome.bitmap = DecodeJpeg(file.release(), maxWidth, maxHeight, outcome, cancelled);
    } else if (IsIsoMediaVideo(head)) {
        if (!DecodeVideoFrame(fileno(file.get()), maxWidth, maxHeight, outcome)) outcome.failure = "no video stream";
    } else {
        outcome.bitmap = DecodeOther(file.get(), maxWidth, maxHeight, outcome, cancelled);
    }
    return outcome;
}
