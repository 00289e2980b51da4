#include "metadata/video_frame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <vector>

#include "diag/library_messages.h"

namespace {

// The containers whose handlers the metadata toolkit has and that carry
// video: nothing else reaches the loader, and no other demuxer sees a
// hostile file here.
constexpr char kDemuxers[] = "mov,avi,flv,asf,mpeg";
// A clip whose frame is not out after this many packets, or this many
// frames past the seek, gives the last frame it has: a hostile file cannot
// hold the walk for long, and a clip with sparse key frames shows a frame
// near the tenth rather than none.
constexpr int kMaxPackets = 600;
constexpr int kMaxFrames = 48;
constexpr int kReadBufferBytes = 64 * 1024;

// libmpv installs an FFmpeg log callback of its own that prints to stderr
// whenever no player is alive, so this one goes back in before every frame.
// Warnings and errors reach the debug log; the rest is dropped.
void LogFfmpegMessage(void* context, int level, const char* format, std::va_list args) {
    if (level > AV_LOG_WARNING) return;
    thread_local int printPrefix = 1;
    char line[1024];
    av_log_format_line2(context, level, format, args, line, sizeof line, &printPrefix);
    LogLibraryMessage("FFmpeg", line);
}

// FFmpeg reads through the descriptor by position: it never sees a file
// name (which it would take for a protocol's URL) and shares no offset.
struct Reader {
    int descriptor;
    std::int64_t position = 0;
};

int ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
    auto* reader = static_cast<Reader*>(opaque);
    ssize_t got;
    do {
        got = pread(reader->descriptor, buffer, static_cast<std::size_t>(size), reader->position);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return AVERROR(errno);
    if (got == 0) return AVERROR_EOF;
    reader->position += got;
    return static_cast<int>(got);
}

std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* reader = static_cast<Reader*>(opaque);
    struct stat status {};
    if (fstat(reader->descriptor, &status) != 0) return AVERROR(errno);
    std::int64_t position = offset;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return status.st_size;
        case SEEK_SET: break;
        case SEEK_CUR: position += reader->position; break;
        case SEEK_END: position += status.st_size; break;
        default: return AVERROR(EINVAL);
    }
    if (position < 0) return AVERROR(EINVAL);
    return reader->position = position;
}

struct IoDeleter {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct InputDeleter {
    void operator()(AVFormatContext* input) const { avformat_close_input(&input); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;

// The largest video stream that is a clip, not a cover picture.
AVStream* PickStream(AVFormatContext* input) {
    AVStream* best = nullptr;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = input->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        if (parameters->codec_type != AVMEDIA_TYPE_VIDEO || (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) ||
            parameters->width <= 0 || parameters->height <= 0 || !avcodec_find_decoder(parameters->codec_id)) {
            continue;
        }
        if (!best || static_cast<std::int64_t>(parameters->width) * parameters->height >
                         static_cast<std::int64_t>(best->codecpar->width) * best->codecpar->height) {
            best = stream;
        }
    }
    return best;
}

// Clockwise quarter turns that make the stored frame upright: the display
// matrix when there is one, else the older "rotate" tag.
int QuarterTurns(const AVStream* stream) {
    double clockwise = 0;
    if (const auto* matrix = reinterpret_cast<const std::int32_t*>(
            av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr))) {
        // The matrix gives its angle counter-clockwise.
        clockwise = -av_display_rotation_get(matrix);
    } else if (const AVDictionaryEntry* tag = av_dict_get(stream->metadata, "rotate", nullptr, 0)) {
        clockwise = std::strtod(tag->value, nullptr);
    }
    if (!std::isfinite(clockwise)) return 0;
    return static_cast<int>((std::lround(std::fmod(clockwise, 360) / 90) + 4) % 4);
}

std::int64_t StartOf(const AVStream* stream) { return stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time; }

// Where a tenth of the clip lies, in the stream's time base.
std::int64_t TenthIn(const AVFormatContext* input, const AVStream* stream) {
    const std::int64_t start = StartOf(stream);
    if (stream->duration > 0) return start + stream->duration / 10;
    if (input->duration > 0) return start + av_rescale_q(input->duration / 10, AV_TIME_BASE_Q, stream->time_base);
    return start;
}

// Seeks to the key frame before target and decodes on to it. Null when no
// frame came out at all.
Frame FrameAt(AVFormatContext* input, AVStream* stream, AVCodecContext* codec, std::int64_t target) {
    // A clip that cannot seek is decoded from where it stands.
    av_seek_frame(input, stream->index, target, AVSEEK_FLAG_BACKWARD);
    const std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    Frame decoded(av_frame_alloc());
    Frame kept(av_frame_alloc());
    if (!packet || !decoded || !kept) return nullptr;
    bool have = false;
    int frames = 0;
    for (int packets = 0; packets < kMaxPackets && frames < kMaxFrames; ++packets) {
        const bool ended = av_read_frame(input, packet.get()) < 0;
        if (ended) {
            avcodec_send_packet(codec, nullptr);  // the frames the decoder still holds
        } else if (packet->stream_index == stream->index) {
            avcodec_send_packet(codec, packet.get());  // a damaged packet is passed over
        }
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(codec, decoded.get()) == 0) {
            av_frame_unref(kept.get());
            av_frame_move_ref(kept.get(), decoded.get());
            have = true;
            ++frames;
            const std::int64_t at = kept->best_effort_timestamp;
            if (at == AV_NOPTS_VALUE || at >= target) return kept;
        }
        if (ended) break;
    }
    return have ? std::move(kept) : nullptr;
}

struct ScalerDeleter {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

// The frame scaled to width × height (its orientation as stored) in cairo's
// pixel layout, then turned into a new surface; opaque whatever the source.
cairo_surface_t* ScaleAndTurn(const AVFrame* frame, int width, int height, int turns, DecodeOutcome& outcome) {
    const std::unique_ptr<SwsContext, ScalerDeleter> scaler(
        sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width, height,
                       AV_PIX_FMT_RGB32, SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler) {
        outcome.failure = "sws_getContext";
        return nullptr;
    }
    // Pictures in HD are BT.709 unless they say otherwise; swscale assumes BT.601.
    int colourSpace = frame->colorspace;
    if (colourSpace == AVCOL_SPC_UNSPECIFIED && frame->height >= 720) colourSpace = AVCOL_SPC_BT709;
    int* unused = nullptr;
    int sourceFull = 0, destinationFull = 0, brightness = 0, contrast = 0, saturation = 0;
    sws_getColorspaceDetails(scaler.get(), &unused, &sourceFull, &unused, &destinationFull, &brightness, &contrast,
                             &saturation);
    if (frame->color_range == AVCOL_RANGE_JPEG) sourceFull = 1;
    sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(colourSpace), sourceFull,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, brightness, contrast, saturation);
    std::vector<std::uint32_t> scaled(static_cast<std::size_t>(width) * height);
    std::uint8_t* planes[4] = {reinterpret_cast<std::uint8_t*>(scaled.data())};
    const int strides[4] = {width * 4};
    if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) != height) {
        outcome.failure = "sws_scale";
        return nullptr;
    }
    const bool quarter = turns % 2 == 1;
    const int shownWidth = quarter ? height : width;
    const int shownHeight = quarter ? width : height;
    cairo_surface_t* surface = NewBitmap(shownWidth, shownHeight, outcome);
    if (!surface) return nullptr;
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < shownHeight; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < shownWidth; ++x) {
            // The stored pixel that lands at (x, y) after `turns` clockwise quarter turns.
            int sx = x, sy = y;
            switch (turns) {
                case 1: sx = y, sy = height - 1 - x; break;
                case 2: sx = width - 1 - x, sy = height - 1 - y; break;
                case 3: sx = width - 1 - y, sy = x; break;
                default: break;
            }
            row[x] = scaled[static_cast<std::size_t>(sy) * width + sx] | 0xFF000000u;
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

cairo_surface_t* DecodeStream(AVFormatContext* input, AVStream* stream, int maxWidth, int maxHeight,
                              DecodeOutcome& outcome) {
    const AVCodecParameters* parameters = stream->codecpar;
    if (static_cast<std::int64_t>(parameters->width) * parameters->height > kMaxPicturePixels) {
        outcome.failure = kPixelLimitFailure;
        return nullptr;
    }
    const std::unique_ptr<AVCodecContext, CodecDeleter> codec(
        avcodec_alloc_context3(avcodec_find_decoder(parameters->codec_id)));
    if (!codec || (outcome.status = avcodec_parameters_to_context(codec.get(), parameters)) < 0) {
        outcome.failure = "avcodec_parameters_to_context";
        return nullptr;
    }
    codec->max_pixels = kMaxPicturePixels;
    codec->thread_count = 0;  // as many as the machine has cores
    // Frames no other frame refers to are not decoded on the way to the
    // tenth; the frame shown, one that others refer to, is whole all the same.
    codec->skip_frame = AVDISCARD_NONREF;
    if ((outcome.status = avcodec_open2(codec.get(), codec->codec, nullptr)) < 0) {
        outcome.failure = "avcodec_open2";
        return nullptr;
    }
    outcome.status = 0;
    Frame frame = FrameAt(input, stream, codec.get(), TenthIn(input, stream));
    if (!frame) {
        // A clip cut short (a copy that was interrupted) may end before its
        // tenth: its first frame is better than none.
        avcodec_flush_buffers(codec.get());
        frame = FrameAt(input, stream, codec.get(), StartOf(stream));
    }
    if (!frame) {
        outcome.failure = "avcodec_receive_frame";
        return nullptr;
    }
    // Stored pixels need not be square: the clip is shown at its display aspect.
    const AVRational aspect = av_guess_sample_aspect_ratio(input, stream, frame.get());
    const double storedWidth =
        aspect.num > 0 && aspect.den > 0 ? frame->width * av_q2d(aspect) : static_cast<double>(frame->width);
    const int displayWidth = std::max(1, static_cast<int>(std::lround(std::min(storedWidth, 65536.0))));
    const int turns = QuarterTurns(stream);
    const bool quarter = turns % 2 == 1;
    const PixelSize fitted = quarter ? FitWithin(frame->height, displayWidth, maxWidth, maxHeight)
                                     : FitWithin(displayWidth, frame->height, maxWidth, maxHeight);
    return quarter ? ScaleAndTurn(frame.get(), fitted.height, fitted.width, turns, outcome)
                   : ScaleAndTurn(frame.get(), fitted.width, fitted.height, turns, outcome);
}

}  // namespace

bool IsIsoMediaVideo(std::string_view head) {
    if (head.size() < 12 || head.substr(4, 4) != "ftyp") return false;
    static constexpr std::array<std::string_view, 12> kStillBrands = {
        "heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1", "avif", "avis"};
    for (std::string_view brand : kStillBrands)
        if (head.substr(8, 4) == brand) return false;
    return true;
}

bool DecodeVideoFrame(int descriptor, int maxWidth, int maxHeight, DecodeOutcome& outcome) {
    av_log_set_callback(LogFfmpegMessage);
    Reader reader{descriptor};
    auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBufferBytes));
    if (!buffer) return false;
    const std::unique_ptr<AVIOContext, IoDeleter> io(
        avio_alloc_context(buffer, kReadBufferBytes, 0, &reader, ReadPacket, nullptr, Seek));
    if (!io) {
        av_free(buffer);
        return false;
    }
    AVFormatContext* opened = avformat_alloc_context();
    if (!opened) return false;
    opened->pb = io.get();
    opened->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kDemuxers, 0);
    // Nothing a container names (a reference to another file) is opened.
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    const int status = avformat_open_input(&opened, nullptr, nullptr, &options);  // frees opened on failure
    av_dict_free(&options);
    if (status < 0) return false;
    const std::unique_ptr<AVFormatContext, InputDeleter> input(opened);
    AVStream* stream = PickStream(input.get());
    // Some containers describe their streams only in the packets.
    if (!stream && avformat_find_stream_info(input.get(), nullptr) >= 0) stream = PickStream(input.get());
    if (!stream) return false;
    outcome.bitmap = DecodeStream(input.get(), stream, maxWidth, maxHeight, outcome);
    return true;
}
