#include "imaging/picture_holder.h"

#include <gtest/gtest.h>

#include "imaging/graphics_state.h"
#include "resources/resource_ids.h"
#include "surfaces.h"

namespace {

constexpr std::uint32_t kRed = 0xFFFF0000;
constexpr std::uint32_t kGreen = 0xFF00FF00;
constexpr std::uint32_t kBlue = 0xFF0000FF;
constexpr std::uint32_t kBlack = 0xFF000000;

// A 4 × 2 green bitmap with a red top-left pixel, to follow a turn.
cairo_surface_t* MarkedBitmap() {
    cairo_surface_t* bitmap = SolidSurface(4, 2, kGreen);
    SetPixel(bitmap, 0, 0, kRed);
    return bitmap;
}

struct Where {
    int x, y;
    bool operator==(const Where&) const = default;
};

// Where the red pixel lands when the holder is drawn at its own size.
Where RedPixel(const PictureHolder& holder) {
    const int w = static_cast<int>(holder.GetWidth()), h = static_cast<int>(holder.GetHeight());
    Canvas canvas(w, h, kBlack);
    holder.DrawInto(canvas.dc, 0, 0, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (canvas.At(x, y) == kRed) return {x, y};
    return {-1, -1};
}

using GraphicsStateTest = GraphicsTest;
using PictureHolderTest = GraphicsTest;

TEST_F(GraphicsStateTest, StartsOnceStopsAlwaysAndAFailedStartSticks) {
    StopGdiplus();
    EXPECT_EQ(gdiplusState.status, kGraphicsNotInitialized);
    EXPECT_FALSE(GraphicsRunning());
    StartGdiplus();
    EXPECT_EQ(gdiplusState.status, kGraphicsOk);
    gdiplusState.status = kGraphicsGenericError;
    StartGdiplus();
    PictureHolder holder;
    EXPECT_EQ(gdiplusState.status, kGraphicsGenericError) << "a failed start is not retried";
    StopGdiplus();
    EXPECT_EQ(gdiplusState.status, kGraphicsNotInitialized);
    PictureHolder later;
    EXPECT_EQ(gdiplusState.status, kGraphicsOk) << "a holder made after the stop starts it again";
}

TEST_F(PictureHolderTest, SetBitmapHoldsTheBitmapAndNullEmptiesTheHolder) {
    PictureHolder holder;
    EXPECT_FALSE(holder.HasPicture());
    holder.SetBitmap(SolidSurface(6, 4, kBlue));
    EXPECT_TRUE(holder.HasPicture());
    EXPECT_EQ(holder.GetWidth(), 6u);
    EXPECT_EQ(holder.GetHeight(), 4u);
    holder.SetBitmap(nullptr);
    EXPECT_FALSE(holder.HasPicture());
    EXPECT_EQ(holder.GetWidth(), 0u);
    EXPECT_EQ(holder.GetHeight(), 0u);
    holder.SetBitmap(SolidSurface(3, 3, kBlue));
    holder.ReleasePicture();
    EXPECT_FALSE(holder.HasPicture());
}

TEST_F(PictureHolderTest, OnlyTheBitmapHeldMeansAPictureOfNoSizeCopiedAsItStands) {
    gdiplusState.status = kGraphicsGenericError;  // its image cannot be made
    PictureHolder holder;
    holder.SetBitmap(SolidSurface(2, 2, 0x80800000));  // half-transparent red
    EXPECT_TRUE(holder.HasPicture());
    EXPECT_EQ(holder.GetWidth(), 0u);
    EXPECT_EQ(holder.GetHeight(), 0u);
    holder.RotateBy(90);  // there is no image to turn

    Canvas canvas(8, 8, kBlue);
    holder.DrawInto(canvas.dc, 1, 2, 5, 6);
    EXPECT_EQ(canvas.At(1, 2), 0x80800000u) << "copied, not blended";
    EXPECT_EQ(canvas.At(4, 5), 0x80800000u);
    EXPECT_EQ(canvas.At(0, 2), kBlue);
    EXPECT_EQ(canvas.At(5, 5), kBlue);
    EXPECT_EQ(canvas.At(4, 6), kBlue);
}

TEST_F(PictureHolderTest, RotateByTurnsClockwiseByWholeQuarterTurns) {
    const struct {
        std::int32_t degrees;
        std::uint32_t width, height;
        Where red;
    } cases[] = {
        {90, 2, 4, {1, 0}},   {-90, 2, 4, {0, 3}}, {270, 2, 4, {0, 3}}, {180, 4, 2, {3, 1}},
        {450, 2, 4, {1, 0}},  {45, 4, 2, {0, 0}},  {-450, 4, 2, {0, 0}}, {-360, 4, 2, {0, 0}},
        {360, 4, 2, {0, 0}},  {-270, 2, 4, {1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.degrees);
        PictureHolder holder;
        holder.SetBitmap(MarkedBitmap());
        holder.RotateBy(c.degrees);
        EXPECT_EQ(holder.GetWidth(), c.width);
        EXPECT_EQ(holder.GetHeight(), c.height);
        EXPECT_EQ(RedPixel(holder), c.red);
    }
}

TEST_F(PictureHolderTest, TurnsAccumulateAndLeaveTheResourceImageAlone) {
    PictureHolder holder;
    holder.SetBitmap(MarkedBitmap());
    holder.RotateBy(90);
    holder.RotateBy(90);
    EXPECT_EQ(RedPixel(holder), (Where{3, 1}));

    PictureHolder star;
    star.LoadFromResource(kStarPngId, ResourceType::Png);
    star.RotateBy(90);
    EXPECT_EQ(star.GetWidth(), 11u);
    EXPECT_EQ(star.GetHeight(), 10u);
}

TEST_F(PictureHolderTest, LargeBitmapTurnedByNinetyReportsSwappedSize) {
    PictureHolder holder;
    holder.SetBitmap(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 4000, 3000));
    holder.RotateBy(90);
    EXPECT_EQ(holder.GetWidth(), 3000u);
    EXPECT_EQ(holder.GetHeight(), 4000u);
}

TEST_F(PictureHolderTest, EmbeddedArtworkDecodesThroughTheStreamAtItsFixedSizes) {
    const struct {
        ResourceType type;
        int id;
        std::uint32_t width, height;
    } artwork[] = {
        {ResourceType::Png, kStarPngId, 11, 10},
        {ResourceType::Png, kBannerPngId, 800, 428},
        {ResourceType::Icon, kSaverIconId, 48, 48},
    };
    for (const auto& a : artwork) {
        SCOPED_TRACE(a.id);
        const auto bytes = LoadResourceBytes(a.type, a.id);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(bytes[1], 'P');
        PictureHolder holder;
        holder.LoadFromResource(a.id, a.type);
        EXPECT_TRUE(holder.HasPicture());
        EXPECT_EQ(holder.GetWidth(), a.width);
        EXPECT_EQ(holder.GetHeight(), a.height);
    }
    EXPECT_TRUE(LoadResourceBytes(ResourceType::Png, 999).empty());
    EXPECT_TRUE(LoadResourceBytes(ResourceType::Icon, kStarPngId).empty());
}

TEST_F(PictureHolderTest, MissingResourceLeavesTheHolderAsItWas) {
    PictureHolder holder;
    holder.SetBitmap(SolidSurface(5, 7, kBlue));
    holder.LoadFromResource(999, ResourceType::Png);
    holder.LoadFromResource(kStarPngId, ResourceType::Icon);
    EXPECT_EQ(holder.GetWidth(), 5u);
    EXPECT_EQ(holder.GetHeight(), 7u);

    PictureHolder empty;
    empty.LoadFromResource(999, ResourceType::Png);
    EXPECT_FALSE(empty.HasPicture());
}

TEST_F(PictureHolderTest, ResourceImageComesBeforeTheBitmapImage) {
    PictureHolder holder;
    holder.SetBitmap(SolidSurface(30, 20, kBlue));
    holder.LoadFromResource(kStarPngId, ResourceType::Png);
    EXPECT_EQ(holder.GetWidth(), 11u);
    EXPECT_EQ(holder.GetHeight(), 10u);
    Canvas canvas(11, 10, kBlack);
    holder.DrawInto(canvas.dc, 0, 0, 11, 10);
    EXPECT_EQ(canvas.At(0, 0), kBlack) << "the star's transparent corner, not the blue bitmap";
    EXPECT_GT(Red(canvas.At(5, 5)), 200);
}

TEST_F(PictureHolderTest, NothingIsDecodedWhileGraphicsAreNotRunning) {
    gdiplusState.status = kGraphicsGenericError;
    PictureHolder holder;
    holder.LoadFromResource(kStarPngId, ResourceType::Png);
    EXPECT_FALSE(holder.HasPicture());
    EXPECT_EQ(holder.GetWidth(), 0u);
}

}  // namespace
