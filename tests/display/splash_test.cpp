// The start screen: where the banner and its frame go, and which folder it names.
#include <gtest/gtest.h>

#include <cstring>

#include "display/collage_fixture.h"

namespace {

using Splash = CollageTest;

TEST_F(Splash, BannerIsCentredOnThePrimaryScreenInsideAWhiteFrame) {
    // The primary monitor at the desktop's origin, another to its left: the
    // window starts at x = -1280, so the primary screen begins at client x 1280.
    config.monitors = {Rect{0, 0, 1920, 1080}, Rect{-1280, 0, 0, 1024}};
    RunSaver([&](HWND) {
        After(100, [&] {
            EXPECT_EQ(splashState, 2);
            const int left = 1280 + 560, top = 326;  // (1920 − 800) / 2, (1080 − 428) / 2
            EXPECT_NE(Pixel(left, top), kBlack);
            EXPECT_NE(Pixel(left + 799, top + 427), kBlack);
            EXPECT_EQ(Pixel(left - 1, top), kBlack);
            EXPECT_EQ(Pixel(left + 800, top + 427), kBlack);
            for (auto [x, y] : {std::pair{left - 10, 500}, {left + 809, 500}, {2200, top - 10}, {2200, top + 437}})
                EXPECT_EQ(Pixel(x, y), kWhite) << x << "," << y;
            for (auto [x, y] : {std::pair{left - 11, 500}, {left - 9, 500}, {left + 810, 500}, {2200, top - 9}})
                EXPECT_EQ(Pixel(x, y), kBlack) << x << "," << y;
            EXPECT_EQ(Pixel(640, 512), kBlack) << "the other monitor is only cleared";
            DestroyWindow(window);
        });
    });
}

TEST_F(Splash, FolderIsNamedOnlyWhenItFitsInto127Characters) {
    RunSaver([&](HWND w) {
        // The same screen painted offscreen for each stored folder.
        auto paint = [&](const std::string* folder) {
            if (folder) {
                SetPreference("Path", *folder);
            } else {
                SHDeleteValue(settingsKeyPath, "Path");
            }
            cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1920, 1080);
            HDC dc = CreateSurfaceDC(s);
            splashState = 1;
            PaintSplash(dc, w);
            EXPECT_EQ(splashState, 2);
            DeleteSurfaceDC(dc);
            cairo_surface_flush(s);
            return s;
        };
        // Rows of the folder line (drawn from 326 + 136) and of everything else.
        auto differingRows = [](cairo_surface_t* a, cairo_surface_t* b) {
            std::vector<int> rows;
            int stride = cairo_image_surface_get_stride(a);
            for (int y = 0; y < 1080; ++y)
                if (std::memcmp(cairo_image_surface_get_data(a) + y * stride,
                                cairo_image_surface_get_data(b) + y * stride, static_cast<std::size_t>(stride)) != 0)
                    rows.push_back(y);
            return rows;
        };
        const std::string fits(127, 'a'), tooLong(128, 'a');
        cairo_surface_t* none = paint(nullptr);
        cairo_surface_t* named = paint(&fits);
        cairo_surface_t* unnamed = paint(&tooLong);
        std::vector<int> rows = differingRows(none, named);
        ASSERT_FALSE(rows.empty()) << "a folder of 127 characters is named";
        EXPECT_GE(rows.front(), 326 + 136);
        EXPECT_LT(rows.back(), 326 + 176) << "only the folder line changes";
        EXPECT_TRUE(differingRows(none, unnamed).empty()) << "128 characters do not fit and name nothing";
        for (cairo_surface_t* s : {none, named, unnamed}) cairo_surface_destroy(s);
        DestroyWindow(w);
    });
}

}  // namespace
