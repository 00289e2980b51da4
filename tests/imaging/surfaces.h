// Offscreen surfaces and pixel access for the imaging tests.
#pragma once

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "imaging/graphics_state.h"
#include "platform/gdi.h"

// Premultiplied 0xAARRGGBB, as cairo stores ARGB32.
inline std::uint32_t PixelAt(cairo_surface_t* surface, int x, int y) {
    cairo_surface_flush(surface);
    const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    return reinterpret_cast<const std::uint32_t*>(row)[x];
}

inline void SetPixel(cairo_surface_t* surface, int x, int y, std::uint32_t argb) {
    cairo_surface_flush(surface);
    unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    reinterpret_cast<std::uint32_t*>(row)[x] = argb;
    cairo_surface_mark_dirty(surface);
}

inline int Alpha(std::uint32_t p) { return p >> 24; }
inline int Red(std::uint32_t p) { return (p >> 16) & 0xFF; }
inline int Green(std::uint32_t p) { return (p >> 8) & 0xFF; }
inline int Blue(std::uint32_t p) { return p & 0xFF; }

inline cairo_surface_t* SolidSurface(int width, int height, std::uint32_t argb) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) SetPixel(surface, x, y, argb);
    return surface;
}

// A drawing context over an offscreen surface filled with one colour.
struct Canvas {
    Canvas(int width, int height, std::uint32_t argb) : surface(SolidSurface(width, height, argb)), dc(CreateSurfaceDC(surface)) {}
    ~Canvas() {
        DeleteSurfaceDC(dc);
        cairo_surface_destroy(surface);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    std::uint32_t At(int x, int y) const { return PixelAt(surface, x, y); }

    cairo_surface_t* surface;
    HDC dc;
};

// Every test starts with the graphics machinery freshly started and leaves it stopped.
class GraphicsTest : public testing::Test {
protected:
    void SetUp() override {
        StopGdiplus();
        StartGdiplus();
    }
    void TearDown() override { StopGdiplus(); }
};
