#include "imaging/drawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "imaging/picture_holder.h"
#include "resources/resource_ids.h"
#include "surfaces.h"

namespace {

constexpr std::uint32_t kBlack = 0xFF000000;
constexpr std::uint32_t kWhite = 0xFFFFFFFF;

// The star decoded straight from its bytes, apart from the holder's path.
cairo_surface_t* DecodedStar() {
    struct Reader {
        std::span<const std::uint8_t> rest;
    } reader{LoadResourceBytes(ResourceType::Png, kStarPngId)};
    return cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->rest.size() < length) return CAIRO_STATUS_READ_ERROR;
            std::memcpy(data, r->rest.data(), length);
            r->rest = r->rest.subspan(length);
            return CAIRO_STATUS_SUCCESS;
        },
        &reader);
}

// The bounding box of the pixels that differ from the background.
Rect InkBox(const Canvas& canvas, std::uint32_t background) {
    const int w = cairo_image_surface_get_width(canvas.surface), h = cairo_image_surface_get_height(canvas.surface);
    Rect box{w, h, 0, 0};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (canvas.At(x, y) == background) continue;
            box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
        }
    }
    return box;
}

using DrawIntoTest = GraphicsTest;
using TextTest = GraphicsTest;

TEST_F(DrawIntoTest, StarAtItsOwnSizeMatchesItsOwnPixels) {
    cairo_surface_t* star = DecodedStar();
    ASSERT_EQ(cairo_surface_status(star), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(star), 11);
    EXPECT_EQ(Alpha(PixelAt(star, 0, 0)), 0) << "transparent around the star";
    EXPECT_EQ(Alpha(PixelAt(star, 5, 5)), 255);
    EXPECT_GT(Red(PixelAt(star, 5, 5)), 200) << "golden";
    EXPECT_LT(Blue(PixelAt(star, 5, 5)), 120);

    PictureHolder holder;
    holder.LoadFromResource(kStarPngId, ResourceType::Png);
    Canvas canvas(30, 20, 0);
    holder.DrawInto(canvas.dc, 7, 5, 18, 15);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 11; ++x) EXPECT_EQ(canvas.At(7 + x, 5 + y), PixelAt(star, x, y)) << x << "," << y;
    const Rect ink = InkBox(canvas, 0);  // nothing outside the rectangle
    EXPECT_TRUE(ink.left >= 7 && ink.top >= 5 && ink.right <= 18 && ink.bottom <= 15);
    cairo_surface_destroy(star);
}

TEST_F(DrawIntoTest, StarStretchedToDoubleWidthIsTwiceAsWide) {
    PictureHolder holder;
    holder.LoadFromResource(kStarPngId, ResourceType::Png);
    Canvas own(40, 20, 0), wide(40, 20, 0);
    holder.DrawInto(own.dc, 4, 5, 15, 15);
    holder.DrawInto(wide.dc, 4, 5, 26, 15);
    const Rect a = InkBox(own, 0), b = InkBox(wide, 0);
    EXPECT_NEAR(b.Width(), 2 * a.Width(), 1);
    EXPECT_EQ(b.Height(), a.Height());
    EXPECT_GE(b.left, 4);
    EXPECT_LE(b.right, 26);
    EXPECT_EQ(wide.At(4 + 11, 5 + 5), own.At(4 + 5, 5 + 5)) << "the middle column lands in the middle";
}

TEST_F(DrawIntoTest, StretchFillsExactlyTheRectangleAndAveragesWhenShrinking) {
    // Opaque edges: filtering at the border must not fade them.
    PictureHolder red;
    red.SetBitmap(SolidSurface(2, 2, 0xFFFF0000));
    Canvas canvas(24, 24, kBlack);
    red.DrawInto(canvas.dc, 2, 2, 22, 22);
    EXPECT_EQ(InkBox(canvas, kBlack), (Rect{2, 2, 22, 22}));
    EXPECT_EQ(canvas.At(2, 2), 0xFFFF0000u);
    EXPECT_EQ(canvas.At(21, 21), 0xFFFF0000u);

    // One-pixel stripes shrunk to a quarter average to grey instead of aliasing.
    cairo_surface_t* stripes = SolidSurface(100, 10, kBlack);
    for (int x = 0; x < 100; x += 2)
        for (int y = 0; y < 10; ++y) SetPixel(stripes, x, y, kWhite);
    PictureHolder photo;
    photo.SetBitmap(stripes);
    Canvas small(25, 10, kBlack);
    photo.DrawInto(small.dc, 0, 0, 25, 10);
    EXPECT_NEAR(Green(small.At(12, 5)), 128, 24);
}

TEST_F(DrawIntoTest, EmptyHolderOrRectangleDrawsNothing) {
    Canvas canvas(10, 10, kBlack);
    PictureHolder empty;
    empty.DrawInto(canvas.dc, 0, 0, 10, 10);
    PictureHolder blue;
    blue.SetBitmap(SolidSurface(4, 4, 0xFF0000FF));
    blue.DrawInto(canvas.dc, 5, 5, 5, 9);
    blue.DrawInto(canvas.dc, 8, 8, 2, 2);
    EXPECT_TRUE(InkBox(canvas, kBlack).Empty());
}

TEST_F(DrawIntoTest, FillBlackLeavesTheBackgroundColourBlack) {
    Canvas canvas(10, 10, kWhite);
    EXPECT_NE(GetBkColor(canvas.dc), RGB(0, 0, 0));
    FillBlack(canvas.dc, Rect{2, 3, 6, 8});
    EXPECT_EQ(GetBkColor(canvas.dc), RGB(0, 0, 0));
    EXPECT_EQ(InkBox(canvas, kWhite), (Rect{2, 3, 6, 8}));
    EXPECT_EQ(canvas.At(2, 3), kBlack);
    FillRect(canvas.dc, Rect{0, 0, 1, 1}, RGB(255, 0, 0));
    EXPECT_EQ(GetBkColor(canvas.dc), RGB(0, 0, 0)) << "it stays black";
}

TEST_F(TextTest, LineIsWhiteFromItsOriginAndRunsPastTheQuadrantUnclipped) {
    Canvas canvas(600, 60, kBlack);
    const Rect quadrant{0, 0, 120, 60};
    DrawTextLine(canvas.dc, "Displaying files from /home/someone/Pictures/holidays", 10, 20, 10);
    const Rect ink = InkBox(canvas, kBlack);
    ASSERT_FALSE(ink.Empty());
    EXPECT_GE(ink.left, 10);
    EXPECT_LE(ink.left, 13);
    EXPECT_GE(ink.top, 20);
    EXPECT_LE(ink.top, 26);
    EXPECT_GT(ink.right, quadrant.right + 100) << "neither wrapped nor clipped";
    EXPECT_LT(ink.bottom, 20 + 20) << "one line";

    int brightest = 0;
    bool partial = false;
    for (int y = ink.top; y < ink.bottom; ++y) {
        for (int x = ink.left; x < ink.right; ++x) {
            const std::uint32_t p = canvas.At(x, y);
            ASSERT_TRUE(Red(p) == Green(p) && Green(p) == Blue(p)) << "white over black is grey: " << x << "," << y;
            brightest = std::max(brightest, Red(p));
            partial = partial || (Red(p) > 20 && Red(p) < 235);
        }
    }
    EXPECT_GE(brightest, 250);
    EXPECT_TRUE(partial) << "anti-aliased";
}

TEST_F(TextTest, PointSizeScalesTheLine) {
    Canvas ten(800, 80, kBlack), twenty(800, 80, kBlack);
    DrawTextLine(ten.dc, "Hit ESC to exit.", 0, 0, 10);
    DrawTextLine(twenty.dc, "Hit ESC to exit.", 0, 0, 20);
    const Rect a = InkBox(ten, kBlack), b = InkBox(twenty, kBlack);
    EXPECT_NEAR(static_cast<double>(b.Width()) / a.Width(), 2.0, 0.2);
    // Ten points at 96 dots per inch are about 13 pixels: capitals stand 8 to 11 high.
    EXPECT_GE(a.Height(), 8);
    EXPECT_LE(a.Height(), 12);
}

TEST_F(TextTest, BytesThatAreNotUtf8AreStillDrawn) {
    Canvas canvas(200, 30, kBlack);
    DrawTextLine(canvas.dc, std::string_view("caf\xE9 \xFF.jpg", 9), 2, 2, 10);
    EXPECT_GT(InkBox(canvas, kBlack).Width(), 30);
}

TEST_F(TextTest, NothingIsDrawnWhileGraphicsAreNotRunning) {
    PictureHolder star;
    star.LoadFromResource(kStarPngId, ResourceType::Png);
    StopGdiplus();
    Canvas canvas(100, 30, kBlack);
    DrawTextLine(canvas.dc, "text", 2, 2, 10);
    star.DrawInto(canvas.dc, 50, 5, 61, 15);
    EXPECT_TRUE(InkBox(canvas, kBlack).Empty());
}

}  // namespace
