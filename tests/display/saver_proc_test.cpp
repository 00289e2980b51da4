// The saver procedure's cadence, keys, mouse and shutdown, on the offscreen display.
#include <gtest/gtest.h>

#include "display/collage.h"
#include "display/saver_fixture.h"
#include "metadata/quadrant_menu.h"
#include "platform/store.h"

namespace {

using SaverProc = SaverTest;

std::vector<std::uint64_t> Gaps(const std::vector<std::uint64_t>& ticks) {
    std::vector<std::uint64_t> gaps;
    for (std::size_t i = 1; i < ticks.size(); ++i) gaps.push_back(ticks[i] - ticks[i - 1]);
    return gaps;
}

TEST_F(SaverProc, FirstTickAfterFiveSecondsThenFastFillThenThePeriod) {
    config.monitors = {Rect{0, 0, 1280, 1024}, Rect{1280, 0, 3200, 1080}};
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista", "Timer", "3"), ERROR_SUCCESS);
    RunSaver([&](HWND) {
        EXPECT_EQ(fillCountdown, 18);
        After(4999, [&] { EXPECT_EQ(splashState, 2) << "the splash is painted until the first tick"; });
        After(5000 + 17 + 3 * 3000 + 1, [&] { DestroyWindow(window); });
    });
    ASSERT_EQ(ticks.size(), 18u + 3u);
    EXPECT_EQ(ticks.front(), 5000u);
    std::vector<std::uint64_t> expected(17, 1);
    expected.insert(expected.end(), {3000, 3000, 3000});
    EXPECT_EQ(Gaps(ticks), expected);
    EXPECT_EQ(splashState, 0);
}

TEST_F(SaverProc, TimerZeroTicksEveryFiftyMilliseconds) {
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista", "Timer", "0"), ERROR_SUCCESS);
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista", "ImagesPerScreen", "1"), ERROR_SUCCESS);
    RunSaver([&](HWND) { After(5000 + 200 + 1, [&] { DestroyWindow(window); }); });
    EXPECT_EQ(tickPeriodMs, 50);
    EXPECT_EQ(Gaps(ticks), (std::vector<std::uint64_t>{50, 50, 50, 50}));
}

TEST_F(SaverProc, SpacePausesForTenThousandTicksAndResumesOnASecondPress) {
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista", "ImagesPerScreen", "1"), ERROR_SUCCESS);
    RunSaver([&](HWND w) {
        headless::Key(w, VK_SPACE);
        After(5000 + 3 * 1000, [&] {
            EXPECT_EQ(pauseTicks, 10000 - 1) << "paused ticks only count down";
            EXPECT_EQ(fillCountdown, 1) << "no collage work while paused";
            EXPECT_EQ(ticks, (std::vector<std::uint64_t>{5000})) << "nor do they re-arm the period";
            headless::Key(window, VK_SPACE);
        });
        After(10000 + 1, [&] {
            EXPECT_EQ(pauseTicks, 0);
            EXPECT_EQ(fillCountdown, 0);
            DestroyWindow(window);
        });
    });
}

TEST_F(SaverProc, TCyclesTheMetadataLinesAndTheBand) {
    RunSaver([&](HWND w) {
        ASSERT_TRUE(starImage && starImage->HasPicture());
        EXPECT_EQ(lineHeight, 12) << "9 points at 96 dots per inch";
        EXPECT_EQ(linesOfMetadata, 1);
        EXPECT_EQ(metadataBandHeight, 0) << "the stars are pictures over the picture; no text line";
        SendMessage(w, WM_KEYDOWN, 'T', 0);
        EXPECT_EQ(linesOfMetadata, 2);
        EXPECT_EQ(metadataBandHeight, 12);
        SendMessage(w, WM_KEYDOWN, VK_F5, 0);
        EXPECT_EQ(linesOfMetadata, 0);
        EXPECT_EQ(metadataBandHeight, 0);
        Rect update;
        EXPECT_TRUE(GetUpdateRect(w, &update));
        SendMessage(w, WM_KEYDOWN, 'T', 0);
        DestroyWindow(w);
    });
    std::string stored;
    ASSERT_EQ(SHGetValue("Software\\Veltrane\\Lumivista", "Lines of metadata", &stored, 40), ERROR_SUCCESS);
    EXPECT_EQ(stored, "1");
}

TEST_F(SaverProc, WithoutTheStarPictureTheBandHoldsTheStarText) {
    starImage = std::make_unique<PictureHolder>();  // made once per process: this one stays empty
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista", "Lines of metadata", "2"), ERROR_SUCCESS);
    RunSaver([&](HWND w) {
        EXPECT_EQ(metadataBandHeight, 24);
        DestroyWindow(w);
    });
}

TEST_F(SaverProc, MouseBeyondFiftyPixelsShowsTheCursorAndHoldsTheTick) {
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista", "ImagesPerScreen", "1"), ERROR_SUCCESS);
    RunSaver([&](HWND w) {
        After(5100, [&] {
            EXPECT_FALSE(headless::CursorVisible()) << "every tick hides the cursor";
            headless::MouseMove(window, 100, 100);
            headless::MouseMove(window, 150, 100);
        });
        After(5200, [&] {
            EXPECT_FALSE(headless::CursorVisible()) << "50 pixels from the anchor is not a movement";
            headless::MouseMove(window, 151, 100);
        });
        After(5300, [&] { EXPECT_TRUE(headless::CursorVisible()); });
        After(5200 + 15000 + 10, [&] { DestroyWindow(window); });
        (void)w;
    });
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_EQ(ticks.back(), 5200u + 15000u) << "the next tick waits 15 s after the movement";
}

TEST_F(SaverProc, ClickOnABorderOnlyShowsTheCursor) {
    config.monitors = {Rect{0, 0, 800, 600}};
    RunSaver([&](HWND w) {
        int counter = ShowCursor(false);
        Quadrant* q = quadrantList.front().get();
        SendMessage(w, WM_LBUTTONDOWN, 0, MAKELPARAM(static_cast<unsigned>(q->right), 10));
        EXPECT_EQ(ShowCursor(false), counter) << "the click counted the cursor up once";
        EXPECT_TRUE(IsWindow(w)) << "a click never ends the saver";
        EXPECT_EQ(HitTestQuadrant(q->left, 10), nullptr) << "bounds are strict";
        DestroyWindow(w);
    });
}

// A close request arriving while the menu is up destroys the quadrants inside
// the menu's loop; neither the menu nor the click may touch them afterwards
// (the sanitizer build sees any such touch).
TEST_F(SaverProc, CloseWhileTheMenuIsUpEndsTheSaverCleanly) {
    const int result = RunSaver([&](HWND w) {
        headless::OnMenu([w](const std::vector<MenuItem>&, Point) {
            SendMessage(w, WM_CLOSE, 0, 0);
            return static_cast<UINT>(kNoRanking + 2);
        });
        const Quadrant* q = quadrantList.front().get();
        SendMessage(w, WM_LBUTTONDOWN, 0, MAKELPARAM((q->left + q->right) / 2, (q->top + q->bottom) / 2));
        EXPECT_FALSE(IsWindow(w));
    });
    headless::OnMenu(nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(quadrantList.empty());
}

TEST_F(SaverProc, CloseDuringATickEndsTheSaverRightAfterIt) {
    RunSaver([&](HWND w) {
        inTimerTick = true;  // as if a nested loop inside the tick delivered the close
        SendMessage(w, WM_CLOSE, 0, 0);
        EXPECT_TRUE(IsWindow(w));
        EXPECT_TRUE(closePending);
        EXPECT_EQ(saverTimerId, 0u);
        inTimerTick = false;
        SendMessage(w, WM_TIMER, 1, 0);  // the end of the outer tick
        EXPECT_TRUE(ClosePosted());
    });
}

TEST_F(SaverProc, FreshStoreHoldsOnlyTheDebugSwitchAfterCreation) {
    RunSaver([&](HWND w) {
        std::string text = ReadWhole(StoreFile());
        EXPECT_NE(text.find("DebugOutput=0"), std::string::npos) << text;
        EXPECT_EQ(text.find("Lines"), std::string::npos) << text;
        DestroyWindow(w);
    });
    std::string text = ReadWhole(StoreFile());
    EXPECT_NE(text.find("Lines Of Metadata=1"), std::string::npos) << text;
}

TEST_F(SaverProc, TracedRunLeavesANumberedLog) {
    ASSERT_EQ(SHSetValue("Software\\Veltrane\\Lumivista", "DebugOutput", "01"), ERROR_SUCCESS);
    WriteWhole(WorkDir() / "VeltraneSSDebug0.log", "old");
    WriteWhole(WorkDir() / "VeltraneSSDebugSpool1.log", "crashed");
    RunSaver([&](HWND w) {
        EXPECT_TRUE(std::filesystem::exists(WorkDir() / "VeltraneSSDebugSpool2.log"));
        DestroyWindow(w);
    });
    std::string log = ReadWhole(WorkDir() / "VeltraneSSDebug2.log");
    EXPECT_EQ(log.rfind("Created ScreenSaverDebug.log\nKaleidra Screen Saver 1.4beta2\n", 0), 0u) << log;
    EXPECT_NE(log.find("0x1 Begin WM_CREATE\n"), std::string::npos);
    EXPECT_NE(log.find("0x0 WM_DESTROY called\n"), std::string::npos);
}

}  // namespace
