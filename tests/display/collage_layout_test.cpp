// The grids laid over the monitors: cell sizes, the strips left over, the
// neighbour links, client coordinates, and the hit test.
#include <gtest/gtest.h>

#include "display/collage_fixture.h"

namespace {

using CollageLayout = CollageTest;

std::vector<Rect> Rects() {
    std::vector<Rect> rects;
    for (auto& q : quadrantList) rects.push_back(RectOf(*q));
    return rects;
}

TEST_F(CollageLayout, NineOnFullHdGivesThreeByThreeCellsLinkedWithinRowsAndColumns) {
    RunSaver([&](HWND w) {
        ASSERT_EQ(quadrantList.size(), 9u);
        EXPECT_EQ(fillCountdown, 9);
        for (int i = 0; i < 9; ++i) {
            Quadrant* q = Q(i);
            int row = i / 3, column = i % 3;
            EXPECT_EQ(RectOf(*q), (Rect{column * 640, row * 360, column * 640 + 640, row * 360 + 360})) << i;
            EXPECT_EQ(q->index, i);
            EXPECT_EQ(q->rightNeighbour, column < 2 ? Q(i + 1) : nullptr) << "right links never leave the row: " << i;
            EXPECT_EQ(q->belowNeighbour, row < 2 ? Q(i + 3) : nullptr) << i;
            EXPECT_FALSE(q->covered || q->enlarged || q->picture.HasPicture() || q->menuOpen);
            EXPECT_EQ(q->info.orientation, 1);
        }
        EXPECT_EQ(currentQuadrant, 0u);
        DestroyWindow(w);
    });
    EXPECT_TRUE(quadrantList.empty()) << "destroyed with the window";
}

TEST_F(CollageLayout, LeftoverStripsOfAnUnevenMonitorAreNeverPainted) {
    config.monitors = {Rect{0, 0, 1280, 1024}};
    PaintAndLook(
        [&] {
            ASSERT_EQ(quadrantList.size(), 9u);
            EXPECT_EQ(RectOf(*Q(0)), (Rect{0, 0, 426, 341}));
            EXPECT_EQ(RectOf(*Q(8)), (Rect{852, 682, 1278, 1023}));
            for (auto& q : quadrantList) q->picture.SetBitmap(SolidSurface(426, 341, kBlue));
        },
        [&] {
            EXPECT_EQ(Pixel(1277, 500), kBlue);
            EXPECT_EQ(Pixel(1278, 500), kWhite) << "2 pixels at the right belong to no quadrant";
            EXPECT_EQ(Pixel(1279, 1023), kWhite);
            EXPECT_EQ(Pixel(600, 1022), kBlue);
            EXPECT_EQ(Pixel(600, 1023), kWhite) << "1 pixel at the bottom belongs to no quadrant";
        });
}

TEST_F(CollageLayout, ValuesOutsideTheTableGiveOneQuadrantPerMonitor) {
    config.monitors = {Rect{0, 0, 1280, 1024}, Rect{1280, 0, 3200, 1080}};
    SetPreference("ImagesPerScreen", "5");
    RunSaver([&](HWND w) {
        EXPECT_EQ(Rects(), (std::vector<Rect>{{0, 0, 1280, 1024}, {1280, 0, 3200, 1080}}));
        EXPECT_EQ(Q(0)->rightNeighbour, nullptr) << "no link between monitors";
        EXPECT_EQ(fillCountdown, 10) << "regions × images per screen";
        DestroyWindow(w);
    });
}

TEST_F(CollageLayout, MonitorsLeftOfTheOriginAreTranslatedIntoTheWindow) {
    // The primary monitor at the origin, a second one to its left: the window
    // starts at x = -1280, so its client coordinates are shifted by 1280.
    config.monitors = {Rect{0, 0, 1920, 1080}, Rect{-1280, 0, 0, 1024}};
    SetPreference("ImagesPerScreen", "4");
    RunSaver([&](HWND w) {
        EXPECT_EQ(Rects(), (std::vector<Rect>{{1280, 0, 2240, 540},
                                              {2240, 0, 3200, 540},
                                              {1280, 540, 2240, 1080},
                                              {2240, 540, 3200, 1080},
                                              {0, 0, 640, 512},
                                              {640, 0, 1280, 512},
                                              {0, 512, 640, 1024},
                                              {640, 512, 1280, 1024}}));
        EXPECT_EQ(Q(1)->rightNeighbour, nullptr);
        EXPECT_EQ(Q(3)->belowNeighbour, nullptr);
        EXPECT_EQ(HitTestQuadrant(100, 100), Q(4)) << "clicks come in client coordinates";
        DestroyWindow(w);
    });
}

class CollagePreview : public CollageTest {
protected:
    void RunPreview(int width, int height, std::function<void(HWND)> script) {
        Open();
        RunSaver(std::move(script), WindowFromNativeId(headless::AddForeignWindow(width, height)));
    }
};

TEST_F(CollagePreview, SmallPreviewIsOneRegion) {
    RunPreview(152, 112, [&](HWND w) {
        EXPECT_TRUE(gSmallWindow);
        EXPECT_EQ(fillCountdown, 9);
        EXPECT_EQ(RectOf(*Q(0)), (Rect{0, 0, 50, 37}));
        EXPECT_EQ(RectOf(*Q(8)), (Rect{100, 74, 150, 111}));
        DestroyWindow(w);
    });
}

TEST_F(CollagePreview, LargerPreviewGetsTheGridOfThePartOfTheMonitorItShows) {
    RunPreview(640, 480, [&](HWND w) {
        EXPECT_FALSE(gSmallWindow);
        EXPECT_EQ(RectOf(*Q(0)), (Rect{0, 0, 213, 160}));
        EXPECT_EQ(RectOf(*Q(8)), (Rect{426, 320, 639, 480}));
        DestroyWindow(w);
    });
}

TEST_F(CollagePreview, WithoutMonitorsThePreviewAreaIsTheOneRegion) {
    config.monitors = {};
    RunPreview(900, 600, [&](HWND w) {
        EXPECT_EQ(fillCountdown, 9);
        EXPECT_EQ(RectOf(*Q(8)), (Rect{600, 400, 900, 600}));
        DestroyWindow(w);
    });
}

TEST_F(CollageLayout, HitTestIsStrictAndSkipsCoveredQuadrants) {
    RunSaver([&](HWND w) {
        EXPECT_EQ(HitTestQuadrant(1, 1), Q(0));
        EXPECT_EQ(HitTestQuadrant(639, 359), Q(0));
        EXPECT_EQ(HitTestQuadrant(640, 100), nullptr) << "the border between two quadrants";
        EXPECT_EQ(HitTestQuadrant(0, 100), nullptr);
        EXPECT_EQ(HitTestQuadrant(700, 360), nullptr);
        EXPECT_EQ(HitTestQuadrant(1919, 1079), Q(8));
        // Q(0) spread over its neighbours answers for their area.
        Q(1)->covered = Q(3)->covered = Q(4)->covered = true;
        Q(0)->enlarged = true;
        Q(0)->right = 1280;
        Q(0)->bottom = 720;
        EXPECT_EQ(HitTestQuadrant(1000, 500), Q(0));
        EXPECT_EQ(HitTestQuadrant(640, 500), Q(0)) << "an old border inside the enlarged quadrant";
        DestroyWindow(w);
    });
}

}  // namespace
