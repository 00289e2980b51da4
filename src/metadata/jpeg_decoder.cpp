#include "metadata/jpeg_decoder.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <algorithm>
#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <mutex>

namespace {

constexpr JDIMENSION kRowsPerRead = 16;

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
    const char* stage = nullptr;  // the libjpeg call under way
    const char* failure = nullptr;
    long status = 0;
    bool started = false;
    bool decoded = false;
    PixelSize fitted;
    int width = 0;  // decoded size
    int height = 0;
    std::unique_ptr<JSAMPLE[]> pixels;  // the decoded rows, three bytes a pixel
    JSAMPARRAY cmykRow = nullptr;

    // Decoding publishes its progress; the resampling thread waits on it.
    std::mutex progress;
    std::condition_variable advanced;
    int rowsDone = 0;
    int rowsAwaited = 0;    // what the resampling waits for; 0 when it does not wait
    bool finished = false;  // no further rows will come

    ~JpegJob() {
        // Harmless on a structure libjpeg never took up: it is still zeroed.
        jpeg_destroy_decompress(&cinfo);
        if (file) std::fclose(file);
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
    job.status = job.stage == kPixelLimitFailure || job.stage == kCancelledFailure ? 0 : job.errors.msg_code;
}

// Wakes the resampling only once the rows it waits for are there: every
// wake-up costs both threads a switch.
void Publish(JpegJob& job, int rowsDone, bool finished) {
    bool wake;
    {
        const std::lock_guard lock(job.progress);
        job.rowsDone = rowsDone;
        job.finished = finished;
        wake = job.rowsAwaited != 0 && (rowsDone >= job.rowsAwaited || finished);
    }
    if (wake) job.advanced.notify_all();
}

// Adobe's CMYK JPEGs store ink inverted; others store it straight.
void CmykToRgb(const JSAMPLE* cmyk, JSAMPLE* rgb, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const int k = inverted ? cmyk[3] : 255 - cmyk[3];
        for (int c = 0; c < 3; ++c) {
            const int paper = inverted ? cmyk[c] : 255 - cmyk[c];
            rgb[c] = static_cast<JSAMPLE>((paper * k + 127) / 255);
        }
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
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    job.stage = "jpeg_start_decompress";
    jpeg_start_decompress(&cinfo);
    job.width = static_cast<int>(cinfo.output_width);
    job.height = static_cast<int>(cinfo.output_height);
    job.pixels = std::make_unique_for_overwrite<JSAMPLE[]>(static_cast<std::size_t>(job.width) * job.height * 3);
    if (cmyk) {
        job.cmykRow = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                 cinfo.output_width * 4, 1);
    }
    job.started = true;
}

void ReadAllRows(JpegJob& job) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    const std::size_t rowBytes = static_cast<std::size_t>(job.width) * 3;
    job.stage = "jpeg_read_scanlines";
    while (cinfo.output_scanline < cinfo.output_height) {
        // Several rows at once spare libjpeg a copy when it upsamples in pairs.
        JSAMPROW rows[kRowsPerRead];
        const JDIMENSION wanted = job.cmykRow ? 1 : std::min(kRowsPerRead, cinfo.output_height - cinfo.output_scanline);
        for (JDIMENSION i = 0; i < wanted; ++i) rows[i] = job.pixels.get() + (cinfo.output_scanline + i) * rowBytes;
        const JDIMENSION got = jpeg_read_scanlines(&cinfo, job.cmykRow ? job.cmykRow : rows, wanted);
        if (got == 0) return;
        if (job.cmykRow) CmykToRgb(job.cmykRow[0], rows[0], cinfo.output_width, cinfo.saw_Adobe_marker);
        Publish(job, static_cast<int>(cinfo.output_scanline), false);
    }
    // The rest of the file, up to its end marker, holds nothing to show.
    job.decoded = true;
}

// libvips asks for rows in whatever order and size its resampling needs;
// each request waits until decoding has passed it.
int CopyDecodedRows(VipsRegion* region, void*, void* a, void*, gboolean*) {
    JpegJob& job = *static_cast<JpegJob*>(a);
    const VipsRect& rect = region->valid;
    const int bottom = VIPS_RECT_BOTTOM(&rect);
    {
        std::unique_lock lock(job.progress);
        job.rowsAwaited = bottom;
        job.advanced.wait(lock, [&] { return job.rowsDone >= bottom || job.finished; });
        job.rowsAwaited = 0;
        if (job.rowsDone < bottom) return -1;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(job.width) * 3;
    for (int y = rect.top; y < bottom; ++y) {
        std::memcpy(VIPS_REGION_ADDR(region, rect.left, y), job.pixels.get() + y * rowBytes + rect.left * 3,
                    static_cast<std::size_t>(rect.width) * 3);
    }
    return 0;
}

void ReleaseJob(gpointer keep) { delete static_cast<std::shared_ptr<JpegJob>*>(keep); }

}  // namespace

int JpegScaleNumerator(int width, int height, int coverWidth, int coverHeight) {
    for (int numerator = 1; numerator < 8; ++numerator) {
        if (ScaledDimension(width, numerator) >= coverWidth && ScaledDimension(height, numerator) >= coverHeight) {
            return numerator;
        }
    }
    return 8;
}

ScaledJpeg::ScaledJpeg(std::FILE* file, const std::atomic<bool>* cancelled) : job_(std::make_shared<JpegJob>()) {
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

VipsImage* ScaledJpeg::Rows() {
    VipsImage* image = vips_image_new();
    vips_image_init_fields(image, job_->width, job_->height, 3, VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
                           VIPS_INTERPRETATION_sRGB, 1.0, 1.0);
    // The image may outlive this object inside libvips; it keeps the rows alive.
    g_object_set_data_full(G_OBJECT(image), "kaleidra-jpeg-job", new std::shared_ptr<JpegJob>(job_), ReleaseJob);
    if (vips_image_pipelinev(image, VIPS_DEMAND_STYLE_THINSTRIP, nullptr) != 0 ||
        vips_image_generate(image, nullptr, CopyDecodedRows, nullptr, job_.get(), nullptr) != 0) {
        g_object_unref(image);
        return nullptr;
    }
    return image;
}

bool ScaledJpeg::Decode() {
    JpegJob& job = *job_;
    if (setjmp(job.failed) == 0) ReadAllRows(job);
    if (!job.decoded) Fail(job);
    Publish(job, job.decoded ? job.height : job.rowsDone, true);
    return job.decoded;
}

const char* ScaledJpeg::Failure() const { return job_->failure; }

long ScaledJpeg::Status() const { return job_->status; }
