// Loading camera pictures into a 640 × 360 quadrant, whole ExtractPreview,
// side by side with the floor: libjpeg-turbo alone decoding the same file at
// the smallest DCT scaling whose output covers the picture's fitted size.
// Prints the ratio of the two per size, and the memory one 24-megapixel load
// adds at its peak (measured in a fresh process of its own). Beside them, the
// load of a phone clip's frame at the same size, from an MP4 and from a
// QuickTime file turned by its display matrix.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <vips/vips8>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/picture_holder.h"
#include "metadata/extract_preview.h"
#include "metadata/jpeg_decoder.h"

namespace {

struct Camera {
    const char* name;
    int width;
    int height;
};
constexpr Camera kCameras[] = {{"2MP", 1728, 1152}, {"12MP", 4256, 2832}, {"24MP", 6000, 4000}};
constexpr int kQuadrantWidth = 640;
constexpr int kQuadrantHeight = 360;
constexpr double kGoalRatio = 1.10;
constexpr double kMemoryGoalMb = 16.0;

const std::filesystem::path kMediaDir = "bench-media";

std::string PicturePath(const char* name) { return (kMediaDir / (std::string(name) + ".jpg")).string(); }

constexpr const char* kClips[] = {"phone.mp4", "phone.mov"};
std::string ClipPath(const char* name) { return (kMediaDir / name).string(); }

// Light and colour varying at several scales, hard-edged shapes and sensor
// grain: compresses like a photograph (about 2.5 bits a pixel), unlike flat
// colour, which would flatter every decoder.
void MakeCameraPicture(int width, int height, const std::string& path) {
    using vips::VImage;
    const auto perlin = [&](int cell, int seed) {
        return VImage::perlin(width, height, VImage::option()->set("cell_size", std::max(8, cell))->set("seed", seed));
    };
    const VImage light = perlin(width / 5, 1) * 250 + perlin(width / 30, 2) * 120 + perlin(width / 150, 3) * 70 +
                         perlin(width / 700, 5) * 50;
    const VImage cells = VImage::worley(width, height, VImage::option()->set("cell_size", width / 25)->set("seed", 4));
    const VImage edges = (cells > width / 80).ifthenelse(25, -25);
    std::vector<VImage> channels;
    for (int c = 0; c < 3; ++c) {
        const VImage tint = perlin(width / 6, 10 + c) * 200 + perlin(width / 60, 30 + c) * 60;
        const VImage grain =
            VImage::gaussnoise(width, height, VImage::option()->set("sigma", 7.0)->set("mean", 0.0)->set("seed", 20 + c));
        channels.push_back(light + edges + tint + grain + 128);
    }
    // Saved as a camera saves: baseline, 4:2:0, Exif with orientation and size.
    VImage::bandjoin(channels)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .jpegsave(path.c_str(), VImage::option()
                                    ->set("Q", 92)
                                    ->set("interlace", false)
                                    ->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON));
}

// As phones film: 1080p H.264 at 30 frames a second with a key frame every
// second, AAC sound beside it; 15 s, so that the tenth falls half a second
// past a key frame. The picture pans across a camera picture, so that each
// frame carries a photograph's detail. The QuickTime copy is turned by its
// display matrix, as a phone held upright marks it.
void MakePhoneClips() {
    const std::string mp4 = ClipPath(kClips[0]);
    const std::string mov = ClipPath(kClips[1]);
    if (std::filesystem::exists(mp4) && std::filesystem::exists(mov)) return;
    const std::string make =
        "ffmpeg -nostdin -v error -y -i " + PicturePath("12MP") +
        " -f lavfi -i sine=frequency=440:duration=15 -filter_complex "
        "\"[0]loop=loop=449:size=1:start=0,setpts=N/30/TB,crop=1920:1080:x='n*4':y='n*2',format=yuv420p\" "
        "-c:v libx264 -preset veryfast -g 30 -c:a aac -t 15 " + mp4 +
        " && ffmpeg -nostdin -v error -y -i " + mp4 + " -c copy -metadata:s:v:0 rotate=90 " + mov;
    if (std::system(make.c_str()) != 0) std::fprintf(stderr, "ffmpeg could not make the phone clips\n");
}

void MakeMedia() {
    std::filesystem::create_directories(kMediaDir);
    for (const Camera& camera : kCameras) {
        if (!std::filesystem::exists(PicturePath(camera.name))) {
            MakeCameraPicture(camera.width, camera.height, PicturePath(camera.name));
        }
    }
    if (!std::filesystem::exists(PicturePath("warm-up"))) MakeCameraPicture(64, 48, PicturePath("warm-up"));
    MakePhoneClips();
}

// The floor: libjpeg-turbo's own decode at the chosen scaling, nothing else.
void FloorDecode(const std::string& path, std::vector<unsigned char>& pixels) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    const int width = static_cast<int>(cinfo.image_width);
    const int height = static_cast<int>(cinfo.image_height);
    const PixelSize fitted = FitWithin(width, height, kQuadrantWidth, kQuadrantHeight);
    cinfo.scale_num = static_cast<unsigned>(JpegScaleNumerator(width, height, fitted.width, fitted.height));
    cinfo.scale_denom = 8;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components;
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION wanted = std::min<JDIMENSION>(16, cinfo.output_height - cinfo.output_scanline);
        for (JDIMENSION i = 0; i < wanted; ++i) rows[i] = pixels.data() + (cinfo.output_scanline + i) * stride;
        jpeg_read_scanlines(&cinfo, rows, wanted);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
}

void BM_Floor(benchmark::State& state, std::string path) {
    std::vector<unsigned char> pixels;
    for (auto _ : state) {
        FloorDecode(path, pixels);
        benchmark::DoNotOptimize(pixels.data());
    }
}

void BM_ExtractPreview(benchmark::State& state, std::string path) {
    PictureHolder picture;
    PictureMetadata info;
    for (auto _ : state) {
        ExtractPreview(path, kQuadrantWidth, kQuadrantHeight, picture, info);
        if (!picture.HasPicture()) state.SkipWithError("no picture");
    }
    state.counters["width"] = picture.GetWidth();
    state.counters["height"] = picture.GetHeight();
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || run.run_type == Run::RT_Iteration) {
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }
    // Real time of each benchmark: the median of its repetitions, which a
    // repetition that another process disturbed moves least.
    double Time(const std::string& name) { return times[name]; }

private:
    std::map<std::string, double> times;
};

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    }
    return -1;
}

// In a process of its own: libraries brought up by a tiny picture, the peak
// reset, then one load. What the peak resident size gains over the size
// before is what the load costs at its worst moment, the kept bitmap included.
int MeasurePeak(const std::string& path) {
    PictureMetadata info;
    {
        PictureHolder warmUp;
        ExtractPreview(PicturePath("warm-up"), kQuadrantWidth, kQuadrantHeight, warmUp, info);
    }
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKb("VmRSS:");
    PictureHolder picture;
    ExtractPreview(path, kQuadrantWidth, kQuadrantHeight, picture, info);
    std::printf("%ld\n", StatusKb("VmHWM:") - before);
    return picture.HasPicture() ? 0 : 1;
}

double PeakAddedMb(const std::string& path) {
    const std::string command = "/proc/" + std::to_string(getpid()) + "/exe --peak-of " + path;
    std::FILE* child = popen(command.c_str(), "r");
    long kb = -1;
    if (child) {
        if (std::fscanf(child, "%ld", &kb) != 1) kb = -1;
        pclose(child);
    }
    return kb / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--peak-of") return MeasurePeak(argv[2]);
    if (VIPS_INIT(argv[0]) != 0) return 1;
    MakeMedia();
    for (const Camera& camera : kCameras) {
        const std::string path = PicturePath(camera.name);
        benchmark::RegisterBenchmark((std::string("Floor/") + camera.name).c_str(), BM_Floor, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark((std::string("ExtractPreview/") + camera.name).c_str(), BM_ExtractPreview, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    for (const char* clip : kClips) {
        benchmark::RegisterBenchmark((std::string("ExtractPreview/") + clip).c_str(), BM_ExtractPreview,
                                     ClipPath(clip))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    // Repetitions taken in random order, so that the floor and the load
    // meet the same disturbances; flags given on the command line come later
    // and win.
    std::vector<char*> arguments(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=9";
    char interleaving[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    arguments.insert(arguments.begin() + 1, {repetitions, interleaving, aggregates});
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    bool met = true;
    std::printf("\nExtractPreview into %d x %d against the floor (goal: at most %.2fx)\n", kQuadrantWidth,
                kQuadrantHeight, kGoalRatio);
    for (const Camera& camera : kCameras) {
        const double floor = reporter.Time(std::string("Floor/") + camera.name);
        const double whole = reporter.Time(std::string("ExtractPreview/") + camera.name);
        if (floor <= 0 || whole <= 0) continue;
        const double ratio = whole / floor;
        met = met && ratio <= kGoalRatio;
        std::printf("  %-5s %7.2f ms / %7.2f ms = %.3fx\n", camera.name, whole, floor, ratio);
    }
    std::printf("A phone clip's frame into %d x %d beside the pictures' loads:\n", kQuadrantWidth, kQuadrantHeight);
    for (const char* clip : kClips) {
        std::printf("  %-9s %7.2f ms\n", clip, reporter.Time(std::string("ExtractPreview/") + clip));
    }
    for (const Camera& camera : kCameras) {
        std::printf("  %-9s %7.2f ms\n", camera.name, reporter.Time(std::string("ExtractPreview/") + camera.name));
    }
    const double peak = PeakAddedMb(PicturePath("24MP"));
    met = met && peak >= 0 && peak < kMemoryGoalMb;
    std::printf("Peak memory one 24 MP load adds: %.1f MB (goal: under %.0f MB)\n", peak, kMemoryGoalMb);
    return met ? 0 : 1;
}
