// A folder tree made by the test, a headless window and one quadrant, for
// driving the walk step by step.
#pragma once

#include <cairo.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "catalogue/folder_scan.h"
#include "catalogue/scan_state.h"
#include "diag/debug_log.h"
#include "display/collage.h"
#include "display/saver_state.h"
#include "imaging/graphics_state.h"
#include "metadata/xmp_metadata.h"
#include "platform/store.h"
#include "platform/headless_window_test_support.h"
#include "settings/preferences.h"

namespace fs = std::filesystem;

class WalkTest : public HeadlessWindowTest {
protected:
    void SetUp() override {
        HeadlessWindowTest::SetUp();
        StartGdiplus();
        q.right = 400;
        q.bottom = 300;
        includeSubdirectories = playVideo = hideFilesLabeledPrivate = true;
        gSmallWindow = false;
        metadataBandHeight = 0;
        ResetWalk();
        top = WorkDir() / "Pictures";
        fs::create_directories(top);
        SetPath(top);
    }

    void TearDown() override {
        ResetWalk();
        CloseDebugLog();
        HeadlessWindowTest::TearDown();
    }

    static void ResetWalk() {
        if (gFindFileHandle) FindClose(gFindFileHandle);
        gFindFileHandle = nullptr;
        SearchPosition = 0;
        CurrentFolder.clear();
        FolderQueue = std::make_unique<std::deque<std::string>>();
    }

    static void SetPath(const fs::path& folder) {
        ASSERT_EQ(SHSetValue(settingsKeyPath, "Path", folder.string()), ERROR_SUCCESS);
    }

    // A small real picture.
    static void Picture(const fs::path& file) {
        fs::create_directories(file.parent_path());
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 8, 6);
        cairo_surface_write_to_png(s, file.c_str());
        cairo_surface_destroy(s);
    }

    static void Text(const fs::path& file) { WriteWhole(file, "not a picture\n"); }

    // A JPEG whose file carries a rating and the private label.
    static void RatedJpeg(const fs::path& file, int rating, bool isPrivate) {
        fs::create_directories(file.parent_path());
        ASSERT_EQ(std::system(("convert -size 64x48 xc:tomato '" + file.string() + "'").c_str()), 0);
        PictureMetadata info;
        info.rating = rating;
        info.isPrivate = isPrivate;
        WriteMetadataToFile(file.string(), info);
    }

    // One step of the walk; the file it put into the quadrant, or "" when none.
    // The quadrant is emptied first so that a step finding nothing reads as "";
    // what a step leaves of the shown picture is seen only by calling
    // ScreenSaverTimer on the quadrant as it stands.
    std::string Step() {
        q.picture.ReleasePicture();
        ScreenSaverTimer(hwnd, &q);
        return q.picture.HasPicture() ? fs::path(q.path).lexically_relative(top).string() : std::string();
    }

    // Every picture one pass over the tree shows, up to the step that finds nothing.
    std::vector<std::string> Pass(int limit = 100) {
        std::vector<std::string> shown;
        for (std::string s = Step(); !s.empty() && limit-- > 0; s = Step()) shown.push_back(s);
        return shown;
    }

    std::string TraceOf(const std::function<void()>& run) {
        OpenDebugLog();
        run();
        CloseDebugLog();
        std::string all;
        for (auto& e : fs::directory_iterator(WorkDir()))
            if (e.path().filename().string().rfind("VeltraneSSDebug", 0) == 0) all += ReadWhole(e.path());
        return all;
    }

    Quadrant q;
    fs::path top;
};
