// The saver window with a collage to look at: pictures made on the spot,
// preferences set before the start, pixels read back from the display.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "display/collage.h"
#include "display/saver_fixture.h"
#include "platform/crt_random.h"
#include "platform/gdi.h"
#include "platform/store.h"
#include "settings/preferences.h"

// A picture of one colour (0xRRGGBB, as headless::PixelAt answers).
inline cairo_surface_t* SolidSurface(int width, int height, std::uint32_t rgb) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, ((rgb >> 16) & 255) / 255.0, ((rgb >> 8) & 255) / 255.0, (rgb & 255) / 255.0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return s;
}

inline Rect RectOf(const Quadrant& q) { return Rect{q.left, q.top, q.right, q.bottom}; }

constexpr std::uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF, kBlue = 0x0000FF, kGreen = 0x00FF00;

class CollageTest : public SaverTest {
protected:
    void SetUp() override {
        SaverTest::SetUp();
        ResetCrtRand();  // every test sees the same draws, alone or after others
    }

    void TearDown() override {
        SaverTest::TearDown();
        starImage.reset();  // a test may have emptied it; the next start loads it again
    }

    void SetPreference(const std::string& name, const std::string& value) {
        ASSERT_EQ(SHSetValue(settingsKeyPath, name, value), ERROR_SUCCESS);
    }

    // A folder of one-colour PNGs of the given sizes, made the folder shown.
    void UsePictures(const std::vector<std::pair<int, int>>& sizes) {
        std::filesystem::path folder = WorkDir() / "pictures";
        std::filesystem::create_directories(folder);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            cairo_surface_t* s = SolidSurface(sizes[i].first, sizes[i].second, 0x203040 + 0x1F0000 * (i % 7));
            std::string name = (folder / ("picture" + std::to_string(i) + ".png")).string();
            cairo_surface_write_to_png(s, name.c_str());
            cairo_surface_destroy(s);
        }
        SetPreference("Path", folder.string());
    }

    // Runs the saver with nothing to show and no regular tick to come; once
    // the grid exists and the splash is gone, the window is white, `setup`
    // arranges the quadrants and the whole window is repainted; `check`
    // then looks at what the screen shows.
    void PaintAndLook(std::function<void()> setup, std::function<void()> check) {
        UsePictures({});
        SetPreference("Timer", "100000");
        RunSaver([&](HWND) {
            After(5100, [&] {
                HDC dc = GetDC(window);
                Rect client;
                GetClientRect(window, &client);
                FillRect(dc, client, kWhite);
                ReleaseDC(window, dc);
                setup();
                InvalidateRect(window, nullptr, false);
            });
            After(5200, [&] {
                check();
                DestroyWindow(window);
            });
        });
    }

    Quadrant* Q(std::size_t i) { return quadrantList.at(i).get(); }

    std::uint32_t Pixel(int x, int y) { return headless::PixelAt(window, x, y); }
};
