// The folder walk costs one directory advance per examined entry: opening a
// folder of 100,000 entries costs what opening one of ten does, and a step
// that passes many non-pictures pays per entry passed, never for the folder.
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "catalogue/folder_scan.h"
#include "display/collage.h"
#include "display/saver_state.h"
#include "imaging/graphics_state.h"
#include "platform/store.h"
#include "settings/preferences.h"

namespace fs = std::filesystem;

namespace {

fs::path Root() {
    static fs::path root = [] {
        fs::path r = fs::temp_directory_path() / "kaleidra-walk-bench";
        setenv("XDG_CONFIG_HOME", (r / "config").c_str(), 1);
        setenv("KALEIDRA_BACKEND", "headless", 1);
        return r;
    }();
    return root;
}

// A folder of `files` text files and one picture, made once.
fs::path Folder(int files) {
    fs::path folder = Root() / ("folder-" + std::to_string(files));
    if (fs::exists(folder / "picture.png")) return folder;
    fs::create_directories(folder);
    for (int i = 0; i < files; ++i) std::ofstream(folder / ("note" + std::to_string(i) + ".txt")) << "not a picture\n";
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 64, 48);
    cairo_surface_write_to_png(s, (folder / "picture.png").c_str());
    cairo_surface_destroy(s);
    return folder;
}

HWND Window() {
    static HWND hwnd = [] {
        InitPlatform(nullptr);
        StartGdiplus();
        WNDCLASS wc;
        wc.lpfnWndProc = DefWindowProc;
        wc.lpszClassName = "Bench";
        RegisterClass(wc);
        return CreateWindowEx(0, "Bench", "b", WS_POPUP, 0, 0, 640, 360, nullptr, nullptr);
    }();
    return hwnd;
}

void ResetWalk() {
    if (gFindFileHandle) FindClose(gFindFileHandle);
    gFindFileHandle = nullptr;
    SearchPosition = 0;
    FolderQueue = std::make_unique<std::deque<std::string>>();
}

void BM_OpenFolder(benchmark::State& state) {
    fs::path folder = Folder(static_cast<int>(state.range(0)));
    SHSetValue(settingsKeyPath, "Path", folder.string());
    for (auto _ : state) {
        ResetWalk();
        StartScan();
        benchmark::DoNotOptimize(gFindFileHandle);
    }
    ResetWalk();
}
BENCHMARK(BM_OpenFolder)->Arg(10)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_StepToThePicture(benchmark::State& state) {
    fs::path folder = Folder(static_cast<int>(state.range(0)));
    SHSetValue(settingsKeyPath, "Path", folder.string());
    HWND hwnd = Window();
    Quadrant q;
    q.right = 640;
    q.bottom = 360;
    includeSubdirectories = false;
    double examined = 0;
    for (auto _ : state) {
        ResetWalk();
        q.picture.ReleasePicture();
        // Steps until the picture; each ends at the folder's end or at the picture.
        while (!q.picture.HasPicture()) ScreenSaverTimer(hwnd, &q);
        examined += SearchPosition;
    }
    state.counters["entries"] = examined / static_cast<double>(state.iterations());
    state.counters["per_entry"] = benchmark::Counter(examined, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    ResetWalk();
}
BENCHMARK(BM_StepToThePicture)->Arg(10)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
