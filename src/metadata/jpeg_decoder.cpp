#include "metadata/jpeg_decoder.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "imaging/drawing.h"

namespace {

constexpr JDIMENSION kRowsPerRead = 16;
constexpr char kBitmapFailure[] = "cairo_image_surface_create";

// cairo's ARGB32 is a native-endian word; libjpeg-turbo writes it byte by
// byte, with the alpha byte opaque.
constexpr J_COLOR_SPACE kCairoLayout = std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;

// Rows decoded only to be scaled go to memory kept between pictures: fresh
// memory costs a page fault for every four kilobytes written, which for a
// quadrant-sized picture adds up to more than its scaling. A buffer larger
// than a few quadrants' worth goes back after its picture.
constexpr std::size_t kKeptScratchBytes = std::size_t{8} << 20;

struct Scratch {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size = 0;
};

// One per decoding thread; a thread decodes one picture at a time.
thread_local Scratch scratch;

// Null when the memory cannot be had.
cairo_surface_t* ScratchSurface(int width, int height) {
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    const std::size_t size = static_cast<std::size_t>(stride) * height;
    if (size > scratch.size) {
        scratch = Scratch{};
        scratch.bytes.reset(new (std::nothrow) unsigned char[size]);
        if (!scratch.bytes) return nullptr;
        scratch.size = size;
    }
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(scratch.bytes.get(), CAIRO_FORMAT_ARGB32, width, height, stride);
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) return surface;
    cairo_surface_destroy(surface);
    return nullptr;
}

void TrimScratch() {
    if (scratch.size > kKeptScratchBytes) scratch = Scratch{};
}

int ScaledDimension(int size, int numerator) {
    return static_cast<int>((static_cast<long long>(size) * numerator + 7) / 8);
}

}  // namespace

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the setjmp of the call under way, past libjpeg's C
// frames. Everything those calls touch lives here, on the heap, so the jump
// skips no destructor and clobbers no local.
struct JpegJob {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr monitor{};
    const std::atomic<bool>* cancelled = nullptr;
    std::jmp_buf failed{};
    std::FILE* file = nullptr;
    const char* stage = nullptr;  // the call under way
    const char* failure = nullptr;
    long status = 0;
    bool started = false;
    bool decoded = false;
    PixelSize fitted;
    cairo_surface_t* rows = nullptr;  // at the decoded size: the bitmap, or scratch when scaled after
    bool scaled = false;
    JSAMPARRAY cmykRow = nullptr;

    ~JpegJob() {
        // Harmless on a structure libjpeg never took up: it is still zeroed.
        jpeg_destroy_decompress(&cinfo);
        if (file) std::fclose(file);
        if (rows) cairo_surface_destroy(rows);
        TrimScratch();
    }
};

namespace {

void JumpBack(j_common_ptr cinfo) { std::longjmp(static_cast<JpegJob*>(cinfo->client_data)->failed, 1); }

// libjpeg calls its progress monitor for every few rows it decodes, and
// between the scans of a progressive file, which it takes in whole before
// the first row comes out: where a cancelled decode leaves.
void StopIfCancelled(j_common_ptr cinfo) {
    JpegJob& job = *static_cast<JpegJob*>(cinfo->client_data);
    if (!job.cancelled->load(std::memory_order_relaxed)) return;
    job.stage = kCancelledFailure;
    std::longjmp(job.failed, 1);
}

// Warnings (a truncated file among them) are the decoder's business; the
// picture comes out partly and the saver stays quiet.
void Silence(j_common_ptr) {}

void Fail(JpegJob& job) {
    job.failure = job.stage;
    const bool ours = job.stage == kPixelLimitFailure || job.stage == kCancelledFailure || job.stage == kBitmapFailure;
    job.status = ours ? 0 : job.errors.msg_code;
}

// Adobe's CMYK JPEGs store ink inverted; others store it straight.
void CmykToArgb(const JSAMPLE* cmyk, std::uint32_t* argb, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4) {
        const int k = inverted ? cmyk[3] : 255 - cmyk[3];
        std::uint32_t pixel = 0xFF;
        for (int c = 0; c < 3; ++c) {
            const int paper = inverted ? cmyk[c] : 255 - cmyk[c];
            pixel = pixel << 8 | static_cast<std::uint32_t>((paper * k + 127) / 255);
        }
        argb[x] = pixel;
    }
}

void StartDecode(JpegJob& job, int maxWidth, int maxHeight) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    job.stage = "jpeg_create_decompress";
    jpeg_create_decompress(&cinfo);
    // Set after the create, which clears everything but the error handler.
    if (job.cancelled) cinfo.progress = &job.monitor;
    jpeg_stdio_src(&cinfo, job.file);
    job.stage = "jpeg_read_header";
    jpeg_read_header(&cinfo, TRUE);
    const int width = static_cast<int>(cinfo.image_width);
    const int height = static_cast<int>(cinfo.image_height);
    if (static_cast<std::int64_t>(width) * height > kMaxPicturePixels) {
        job.stage = kPixelLimitFailure;
        return;
    }
    job.fitted = FitWithin(width, height, maxWidth, maxHeight);
    cinfo.scale_num = static_cast<unsigned>(JpegScaleNumerator(width, height, job.fitted.width, job.fitted.height));
    cinfo.scale_denom = 8;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : kCairoLayout;
    job.stage = "jpeg_start_decompress";
    jpeg_start_decompress(&cinfo);
    if (cmyk) {
        job.cmykRow = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                 cinfo.output_width * 4, 1);
    }
    job.stage = kBitmapFailure;
    const int decodedWidth = static_cast<int>(cinfo.output_width);
    const int decodedHeight = static_cast<int>(cinfo.output_height);
    job.scaled = decodedWidth != job.fitted.width || decodedHeight != job.fitted.height;
    DecodeOutcome unused;
    job.rows = job.scaled ? ScratchSurface(decodedWidth, decodedHeight)
                          : NewBitmap(decodedWidth, decodedHeight, unused);
    job.started = job.rows != nullptr;
}

void ReadAllRows(JpegJob& job) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    unsigned char* data = cairo_image_surface_get_data(job.rows);
    const std::ptrdiff_t stride = cairo_image_surface_get_stride(job.rows);
    job.stage = "jpeg_read_scanlines";
    while (cinfo.output_scanline < cinfo.output_height) {
        // Several rows at once spare libjpeg a copy when it upsamples in pairs.
        JSAMPROW rows[kRowsPerRead];
        const JDIMENSION wanted = job.cmykRow ? 1 : std::min(kRowsPerRead, cinfo.output_height - cinfo.output_scanline);
        for (JDIMENSION i = 0; i < wanted; ++i) rows[i] = data + (cinfo.output_scanline + i) * stride;
        const JDIMENSION got = jpeg_read_scanlines(&cinfo, job.cmykRow ? job.cmykRow : rows, wanted);
        if (got == 0) return;
        if (job.cmykRow) {
            CmykToArgb(job.cmykRow[0], reinterpret_cast<std::uint32_t*>(rows[0]), cinfo.output_width,
                       cinfo.saw_Adobe_marker);
        }
    }
    // The rest of the file, up to its end marker, holds nothing to show.
    job.decoded = true;
}

// Any scaling but the smallest leaves at most a halving to do, where a
// linear filter already takes in every decoded pixel, at a twentieth of the
// cost of cairo's averaging; beyond that only averaging keeps fine detail
// from aliasing.
cairo_surface_t* ScaleToFitted(cairo_surface_t* rows, PixelSize fitted) {
    const bool halving = cairo_image_surface_get_width(rows) <= 2 * fitted.width &&
                         cairo_image_surface_get_height(rows) <= 2 * fitted.height;
    DecodeOutcome outcome;
    cairo_surface_t* bitmap = NewBitmap(fitted.width, fitted.height, outcome);
    if (!bitmap) return nullptr;
    cairo_t* cr = cairo_create(bitmap);
    PaintScaled(cr, rows, Rect{0, 0, fitted.width, fitted.height}, CAIRO_OPERATOR_SOURCE,
                halving ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_GOOD);
    cairo_destroy(cr);
    cairo_surface_flush(bitmap);
    return bitmap;
}

}  // namespace

int JpegScaleNumerator(int width, int height, int coverWidth, int coverHeight) {
    for (int numerator = 1; numerator < 8; ++numerator) {
        if (ScaledDimension(width, numerator) >= coverWidth && ScaledDimension(height, numerator) >= coverHeight) {
            return numerator;
        }
    }
    return 8;
}

ScaledJpeg::ScaledJpeg(std::FILE* file, const std::atomic<bool>* cancelled) : job_(std::make_unique<JpegJob>()) {
    JpegJob& job = *job_;
    job.file = file;
    job.cinfo.err = jpeg_std_error(&job.errors);
    job.errors.error_exit = JumpBack;
    job.errors.output_message = Silence;
    job.cinfo.client_data = &job;
    job.cancelled = cancelled;
    job.monitor.progress_monitor = StopIfCancelled;
}

ScaledJpeg::~ScaledJpeg() = default;

bool ScaledJpeg::Start(int maxWidth, int maxHeight) {
    JpegJob& job = *job_;
    if (setjmp(job.failed) == 0) StartDecode(job, maxWidth, maxHeight);
    if (!job.started) Fail(job);
    return job.started;
}

PixelSize ScaledJpeg::Fitted() const { return job_->fitted; }

cairo_surface_t* ScaledJpeg::Decode() {
    JpegJob& job = *job_;
    if (setjmp(job.failed) == 0) ReadAllRows(job);
    if (!job.decoded) {
        Fail(job);
        return nullptr;
    }
    cairo_surface_mark_dirty(job.rows);
    if (!job.scaled) return std::exchange(job.rows, nullptr);
    cairo_surface_t* bitmap = ScaleToFitted(job.rows, job.fitted);
    if (!bitmap) {
        job.stage = kBitmapFailure;
        Fail(job);
    }
    return bitmap;
}

const char* ScaledJpeg::Failure() const { return job_->failure; }

long ScaledJpeg::Status() const { return job_->status; }
