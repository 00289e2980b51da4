// The collage step: which quadrants grow, how often, how they shrink back,
// and the walk of the current quadrant.
#include <gtest/gtest.h>

#include <chrono>

#include "display/collage_fixture.h"
#include "platform/crt_random.h"

namespace {

using CollageTick_ = CollageTest;

// Every enlarged quadrant spans exactly its 2 × 2 block inside its own
// grid, the block's other three are covered, nothing else is, and the
// current quadrant is visible.
void ExpectConsistentGrowth(const std::vector<Rect>& monitors) {
    std::vector<bool> shouldBeCovered(quadrantList.size(), false);
    for (auto& q : quadrantList) {
        if (!q->enlarged) continue;
        ASSERT_TRUE(q->rightNeighbour && q->belowNeighbour) << "quadrant " << q->index << " grew without room";
        Quadrant* d = q->rightNeighbour->belowNeighbour;
        EXPECT_EQ(q->right, q->rightNeighbour->right);
        EXPECT_EQ(q->bottom, q->belowNeighbour->bottom);
        for (Quadrant* n : {q->rightNeighbour, q->belowNeighbour, d}) shouldBeCovered[n->index] = true;
        bool insideOneMonitor = false;
        for (const Rect& m : monitors)
            insideOneMonitor |= q->left >= m.left && q->right <= m.right && q->top >= m.top && q->bottom <= m.bottom;
        EXPECT_TRUE(insideOneMonitor) << "quadrant " << q->index << " grew across monitors";
    }
    for (auto& q : quadrantList) EXPECT_EQ(q->covered, shouldBeCovered[q->index]) << q->index;
    EXPECT_FALSE(quadrantList[currentQuadrant]->covered);
}

TEST_F(CollageTick_, NothingGrowsFromTheLastColumnOrRowNorAcrossMonitors) {
    config.monitors = {Rect{0, 0, 1280, 1024}, Rect{1280, 0, 3200, 1080}};
    SetPreference("UseRankingForDisplay", "0");
    UsePictures({});
    RunSaver([&](HWND w) {
        std::vector<int> grown(quadrantList.size(), 0);
        for (int tick = 0; tick < 1000; ++tick) {
            CollageTick(w, true);
            ExpectConsistentGrowth(config.monitors);
            for (auto& q : quadrantList) grown[q->index] += q->enlarged;
        }
        for (int i : {2, 5, 6, 7, 8, 11, 14, 15, 16, 17}) EXPECT_EQ(grown[i], 0) << "quadrant " << i;
        for (int i : {0, 1, 3, 4, 9, 10, 12, 13}) EXPECT_GT(grown[i], 0) << "quadrant " << i;
        DestroyWindow(w);
    });
}

TEST_F(CollageTick_, TwoByOneGridNeverGrows) {
    SetPreference("ImagesPerScreen", "2");
    SetPreference("UseRankingForDisplay", "0");
    UsePictures({});
    RunSaver([&](HWND w) {
        for (int tick = 0; tick < 200; ++tick) {
            CollageTick(w, true);
            for (auto& q : quadrantList) ASSERT_FALSE(q->enlarged || q->covered);
        }
        EXPECT_EQ(RectOf(*Q(1)), (Rect{960, 0, 1920, 1080}));
        DestroyWindow(w);
    });
}

// How often the first quadrant grows, over many steps with the given rating.
double GrowthRate(HWND w, int rating, int draws) {
    int grown = 0;
    for (int i = 0; i < draws; ++i) {
        currentQuadrant = 0;
        quadrantList[0]->info.rating = rating;
        CollageTick(w, true);
        grown += quadrantList[0]->enlarged;
    }
    return static_cast<double>(grown) / draws;
}

TEST_F(CollageTick_, RankingMakesHighRatingsGrowMoreOftenAndLowOnesNever) {
    UsePictures({});
    RunSaver([&](HWND w) {
        ASSERT_TRUE(useRankingForDisplay);
        for (int rating : {-1, 0, 1, 2}) EXPECT_EQ(GrowthRate(w, rating, 600), 0.0) << rating;
        EXPECT_NEAR(GrowthRate(w, 3, 600), 1.0 / 6, 0.05);
        EXPECT_NEAR(GrowthRate(w, 4, 600), 1.0 / 3, 0.06);
        EXPECT_NEAR(GrowthRate(w, 5, 600), 1.0 / 2, 0.06);
        EXPECT_NEAR(GrowthRate(w, 2147483647, 100), 1.0, 1e-9) << "an absurd rating read from a file";
        useRankingForDisplay = false;
        EXPECT_NEAR(GrowthRate(w, 0, 600), 5.0 / 6, 0.05) << "unranked, every quadrant tries";
        DestroyWindow(w);
    });
}

TEST_F(CollageTick_, TheDrawIsMadeOnEveryStepAfterTheFillAndNeverDuringIt) {
    UsePictures({});
    RunSaver([&](HWND w) {
        ResetCrtRand();
        CollageTick(w, false);
        CollageTick(w, false);
        int next = CrtRand();
        ResetCrtRand();
        EXPECT_EQ(next, CrtRand()) << "no draw while filling";
        ResetCrtRand();
        currentQuadrant = 8;  // the lower-right corner, which can never grow
        CollageTick(w, true);
        next = CrtRand();
        ResetCrtRand();
        CrtRand();
        EXPECT_EQ(next, CrtRand()) << "one draw even where nothing can grow";
        DestroyWindow(w);
    });
}

TEST_F(CollageTick_, EnlargedQuadrantShrinksBackAndItsNeighboursAreRefilled) {
    SetPreference("UseRankingForDisplay", "0");
    // More pictures than the step will ask for, so the folder never runs out on the way.
    UsePictures(std::vector<std::pair<int, int>>(16, {64, 36}));
    RunSaver([&](HWND w) {
        for (int i = 0; i < 9; ++i) CollageTick(w, false);
        for (auto& q : quadrantList) ASSERT_TRUE(q->picture.HasPicture()) << "filled " << q->index;
        EXPECT_EQ(currentQuadrant, 0u) << "round the grid and back";

        while (!Q(0)->enlarged) {
            currentQuadrant = 0;
            CollageTick(w, true);
        }
        EXPECT_EQ(RectOf(*Q(0)), (Rect{0, 0, 1280, 720}));
        EXPECT_EQ(currentQuadrant, 2u) << "the covered right neighbour is passed over";
        for (int i : {1, 3, 4}) ClearQuadrant(Q(i));

        useRankingForDisplay = true;  // with a rating of 0 it cannot grow again
        Q(0)->info.rating = 0;
        currentQuadrant = 0;
        CollageTick(w, true);
        EXPECT_FALSE(Q(0)->enlarged);
        EXPECT_EQ(RectOf(*Q(0)), (Rect{0, 0, 640, 360}));
        for (int i : {1, 3, 4}) {
            EXPECT_FALSE(Q(i)->covered);
            EXPECT_TRUE(Q(i)->picture.HasPicture()) << "refilled in the same step: " << i;
        }
        EXPECT_EQ(currentQuadrant, 1u);
        DestroyWindow(w);
    });
}

TEST_F(CollageTick_, GrowthNeedsThreeFreeNeighbours) {
    SetPreference("UseRankingForDisplay", "0");
    UsePictures({});
    RunSaver([&](HWND w) {
        Q(4)->enlarged = true;  // the diagonal neighbour of Q(0) is itself spread out
        Q(4)->right = 1920;
        Q(4)->bottom = 1080;
        Q(5)->covered = Q(7)->covered = Q(8)->covered = true;
        for (int i = 0; i < 50; ++i) {
            currentQuadrant = 0;
            CollageTick(w, true);
            ASSERT_FALSE(Q(0)->enlarged);
            currentQuadrant = 1;
            CollageTick(w, true);
            ASSERT_FALSE(Q(1)->enlarged) << "its lower neighbour is enlarged";
        }
        DestroyWindow(w);
    });
}

TEST_F(CollageTick_, PlayingVideosAreNotCoveredAndFinishedOnesAreStoppedAndRefilled) {
    SetPreference("UseRankingForDisplay", "0");
    UsePictures(std::vector<std::pair<int, int>>(16, {64, 36}));
    // Not a video at all: the player gives up on it at once, as at the end of a clip.
    const std::string clip = (WorkDir() / "notes.avi").string();
    WriteWhole(clip, "this is not a video\n");
    RunSaver([&](HWND w) {
        for (int i = 0; i < 9; ++i) CollageTick(w, false);
        Quadrant* playing = Q(4);
        ASSERT_TRUE(playing->video.OpenAsDynamicMedia(w, clip, playing->top, playing->left, playing->bottom,
                                                      playing->right, true));
        for (int i = 0; i < 30; ++i) {
            currentQuadrant = 0;
            videoStartedThisTick = true;  // keeps the finished video in place for now
            CollageTick(w, true);
            ASSERT_FALSE(Q(0)->enlarged) << "grown over a playing video";
            ASSERT_TRUE(playing->video.IsMediaOpen());
        }
        EXPECT_FALSE(videoStartedThisTick) << "cleared by every step";

        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!playing->video.HasMediaEnded() && std::chrono::steady_clock::now() < deadline) {
        }
        ClearQuadrant(playing);
        currentQuadrant = 8;
        CollageTick(w, true);
        EXPECT_FALSE(playing->video.IsMediaOpen()) << "stopped once it ended";
        EXPECT_TRUE(playing->picture.HasPicture()) << "and filled again in the same step";
        DestroyWindow(w);
    });
}

}  // namespace
