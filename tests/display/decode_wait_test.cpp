// What the saver does with a person's input while a tick waits for its
// picture to decode on the worker thread.
#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "display/collage.h"
#include "display/saver_fixture.h"
#include "platform/dir_search.h"
#include "platform/store.h"
#include "platform/worker.h"
#include "settings/preferences.h"

namespace {

namespace fs = std::filesystem;

class DecodeWait : public SaverTest {
protected:
    void SetUp() override {
        SaverTest::SetUp();
        folder = WorkDir() / "Pictures";
        fs::create_directories(folder);
        for (const char* name : {"first.png", "second.png", "third.png", "fourth.png"}) {
            cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 8, 6);
            cairo_surface_write_to_png(s, (folder / name).c_str());
            cairo_surface_destroy(s);
        }
        ASSERT_EQ(SHSetValue(settingsKeyPath, "Path", folder.string()), ERROR_SUCCESS);
        // On the second decode (the second quadrant's first picture), `input`
        // reaches the window while the decode is held until it is cancelled.
        ObserveWork([this](const std::atomic<bool>& cancelled) {
            if (++decodes != 2) return;
            input();
            if (!holdUntilCancelled) return;
            for (int i = 0; i < 300 && !cancelled.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            sawCancel = cancelled.load();
        });
    }

    void TearDown() override {
        ObserveWork(nullptr);
        headless::OnMenu(nullptr);
        SaverTest::TearDown();
    }

    // The folder's pictures in the order the walk meets them.
    std::vector<std::string> WalkOrder() const {
        std::vector<std::string> names;
        WIN32_FIND_DATA entry;
        DirectorySearch* search = FindFirstFile(folder.string() + "/*", &entry);
        do {
            if (entry.cFileName.size() > 3) names.push_back((folder / entry.cFileName).string());
        } while (FindNextFile(search, &entry));
        FindClose(search);
        return names;
    }

    fs::path folder;
    std::function<void()> input;
    bool holdUntilCancelled = true;
    std::atomic<int> decodes{0};
    bool sawCancel = false;
};

TEST_F(DecodeWait, AKeyHidesTheWindowAtOnceCancelsTheDecodeAndTheNextStartShowsThatPicture) {
    bool hiddenDuringTick = false, quadrantKeptEmpty = false;
    input = [this] { PostMessage(window, WM_KEYDOWN, 'Q', 0); };
    RunSaver([&](HWND) {
        headless::ObserveDispatch([&](const MSG& m) {
            if (inTimerTick && closePending) hiddenDuringTick = !IsWindowVisible(window);
            if (m.message == WM_CLOSE && closePending && !inTimerTick)
                quadrantKeptEmpty = !quadrantList[1]->picture.HasPicture();
        });
    });
    EXPECT_TRUE(sawCancel);
    EXPECT_TRUE(hiddenDuringTick) << "the window stayed up until the tick ended";
    EXPECT_TRUE(quadrantKeptEmpty) << "the cancelled decode put a picture up";
    EXPECT_EQ(decodes.load(), 2) << "the tick went on after the close";

    // The next start shows first the picture whose decode was cancelled.
    ResetSaverState();
    Host() = HostState{};
    start = headless::Now();
    std::string firstShown;
    After(5005, [&] {
        firstShown = quadrantList[0]->path;
        DestroyWindow(window);
    });
    RunSaver([](HWND) {});
    EXPECT_EQ(firstShown, WalkOrder()[1]);
}

TEST_F(DecodeWait, AClickOpensItsMenuOnlyOnceTheTickIsOver) {
    LPARAM centre = 0;
    input = [&] { PostMessage(window, WM_LBUTTONDOWN, 0, centre); };
    holdUntilCancelled = false;
    bool menuOpened = false, menuDuringTick = true;
    headless::OnMenu([&](const std::vector<MenuItem>&, Point) {
        menuOpened = true;
        menuDuringTick = inTimerTick;
        PostMessage(window, WM_CLOSE, 0, 0);
        return 0u;
    });
    RunSaver([&](HWND) {
        const Quadrant& q = *quadrantList[0];
        centre = MAKELPARAM((q.left + q.right) / 2, (q.top + q.bottom) / 2);
    });
    EXPECT_TRUE(menuOpened);
    EXPECT_FALSE(menuDuringTick);
}

// A daemon's or a preview's window going away takes the saver's window with
// it, at any moment of a decode: the tick must end on quadrants and a walk
// that still exist, and the walk must still be stored.
TEST_F(DecodeWait, AWindowTakenAwayDuringADecodeClosesTheSaverAfterTheTick) {
    Open();
    WNDCLASS wc;
    wc.lpfnWndProc = [](HWND, UINT msg, WPARAM target, LPARAM) -> LRESULT {
        if (msg == WM_APP) headless::TakeAwayWindow(reinterpret_cast<HWND>(target));
        return 0;
    };
    wc.lpszClassName = "Remover";
    RegisterClass(wc);
    HWND remover = CreateWindowEx(0, "Remover", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr);
    input = [&] { PostMessage(remover, WM_APP, reinterpret_cast<WPARAM>(window), 0); };
    EXPECT_EQ(RunSaver([](HWND) {}), 0);
    EXPECT_TRUE(sawCancel);
    EXPECT_TRUE(quadrantList.empty());
    std::string index;
    EXPECT_EQ(SHGetValue(settingsKeyPath, "QIndex", &index, 20, StoreChars::Narrow), ERROR_SUCCESS);
}

}  // namespace
