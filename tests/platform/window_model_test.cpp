// Message-sequence tests of the window model on the offscreen display.
#include <gtest/gtest.h>

#include <vector>

#include "platform/headless/headless.h"
#include "platform/window.h"

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
};

std::vector<Seen> gSeen;
std::function<void(HWND, UINT)> gOnMessage;

LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_SETCURSOR && msg != WM_SHOWWINDOW && msg != WM_ERASEBKGND) gSeen.push_back({msg, wParam});
    if (gOnMessage) gOnMessage(hwnd, msg);
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

class WindowModel : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KALEIDRA_BACKEND", "headless", 1);
        headless::Configure({});
        ASSERT_TRUE(InitPlatform(nullptr));
        WNDCLASS wc;
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "Test";
        ASSERT_TRUE(RegisterClass(wc));
        gSeen.clear();
        gOnMessage = nullptr;
        hwnd = CreateWindowEx(0, "Test", "t", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        Drain();
        gSeen.clear();
    }
    void TearDown() override { ShutdownPlatform(); }

    // Dispatches everything that is due now, without letting time pass.
    void Drain() {
        MSG msg;
        while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    }
    std::vector<UINT> Messages() const {
        std::vector<UINT> out;
        for (auto& s : gSeen) out.push_back(s.message);
        return out;
    }

    HWND hwnd = nullptr;
};

TEST_F(WindowModel, RetrievesPostedThenInputThenPaintThenTimer) {
    SetTimer(hwnd, 1, 10);
    headless::Advance(10);
    InvalidateRect(hwnd, nullptr, false);
    headless::Key(hwnd, VK_SPACE);
    PostMessage(hwnd, WM_APP + 1, 0, 0);
    PostMessage(hwnd, WM_APP + 2, 0, 0);
    Drain();
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_APP + 1, WM_APP + 2, WM_KEYDOWN, WM_PAINT, WM_TIMER}));
}

TEST_F(WindowModel, QuitEndsGetMessageAfterPostedMessages) {
    PostMessage(hwnd, WM_APP, 0, 0);
    PostQuitMessage(7);
    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_APP);
    EXPECT_FALSE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(WindowModel, TimersDropMissedPeriodsAndAreReplacedById) {
    SetTimer(hwnd, 1, 100);
    headless::Advance(1000);  // ten periods late: still one tick
    Drain();
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_TIMER}));
    gSeen.clear();
    headless::Advance(99);
    Drain();
    EXPECT_TRUE(gSeen.empty()) << "the period restarts from the tick that was taken";

    // Replacing the timer discards its due tick and counts the new period from now.
    headless::Advance(1);
    SetTimer(hwnd, 1, 50);
    Drain();
    EXPECT_TRUE(gSeen.empty());
    headless::Advance(50);
    Drain();
    ASSERT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gSeen[0].wParam, 1u);
    EXPECT_TRUE(KillTimer(hwnd, 1));
    EXPECT_FALSE(KillTimer(hwnd, 1));
}

TEST_F(WindowModel, GetMessageWaitsForTheNextTimerOnTheVirtualClock) {
    SetTimer(hwnd, 3, 5000);
    std::uint64_t start = headless::Now();
    MSG msg;
    ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(headless::Now() - start, 5000u);
}

TEST_F(WindowModel, UpdateRegionsAccumulateAndBeginPaintValidatesThem) {
    Rect a{10, 10, 20, 20}, b{50, 30, 60, 40};
    InvalidateRect(hwnd, &a, false);
    InvalidateRect(hwnd, &b, true);
    Rect update;
    ASSERT_TRUE(GetUpdateRect(hwnd, &update));
    EXPECT_EQ(update, (Rect{10, 10, 60, 40}));

    Rect paint;
    bool visibleA = false, visibleMiddle = true, erasedFirst = false, stillDue = false;
    gOnMessage = [&](HWND, UINT msg) {
        if (msg != WM_PAINT) return;
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        erasedFirst = !ps.fErase && headless::PixelAt(hwnd, 55, 35) == 0;
        paint = ps.rcPaint;
        visibleA = RectVisible(dc, a);
        visibleMiddle = RectVisible(dc, Rect{25, 25, 45, 28});
        InvalidateRect(hwnd, &a, false);  // an invalidation while painting asks for another paint
        EndPaint(hwnd, &ps);
        stillDue = GetUpdateRect(hwnd, &update) && update == a;
        gOnMessage = nullptr;
    };
    FillRect(GetDC(hwnd), Rect{0, 0, 200, 100}, RGB(255, 255, 255));
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_PAINT);
    DispatchMessage(&msg);
    EXPECT_EQ(paint, (Rect{10, 10, 60, 40}));
    EXPECT_TRUE(visibleA);
    EXPECT_FALSE(visibleMiddle) << "the clip is the region, not its bounding box";
    EXPECT_TRUE(stillDue);
    EXPECT_TRUE(erasedFirst) << "an erase request is answered by the class brush inside BeginPaint";
}

TEST_F(WindowModel, SendMessageCallsTheProcedureAtOnce) {
    PostMessage(hwnd, WM_APP, 0, 0);
    SendMessage(hwnd, WM_APP + 5, 42, 0);
    ASSERT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gSeen[0].message, WM_APP + 5);
    EXPECT_EQ(gSeen[0].wParam, 42u);
}

TEST_F(WindowModel, NestedModalLoopKeepsDispatching) {
    // A modal loop run from inside a message handler still delivers the
    // window's timers and posted messages, then returns to the outer loop.
    SetTimer(hwnd, 9, 100);
    int nestedTicks = 0;
    gOnMessage = [&](HWND w, UINT msg) {
        if (msg == WM_APP) {
            gOnMessage = [&](HWND, UINT inner) {
                if (inner == WM_TIMER && ++nestedTicks == 3) PostMessage(w, WM_APP + 1, 0, 0);
            };
            MSG m;
            while (GetMessage(&m, nullptr, 0, 0)) {
                DispatchMessage(&m);
                if (m.message == WM_APP + 1) break;
            }
            gOnMessage = nullptr;
        }
    };
    PostMessage(hwnd, WM_APP, 0, 0);
    Drain();
    EXPECT_EQ(nestedTicks, 3);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_APP, WM_TIMER, WM_TIMER, WM_TIMER, WM_APP + 1}));
}

TEST_F(WindowModel, PeekCanFilterTimersAway) {
    SetTimer(hwnd, 1, 10);
    headless::Advance(10);
    PostMessage(hwnd, WM_APP, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_FALSE(PeekMessage(&msg, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE));
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_APP);
}

TEST_F(WindowModel, DestroyingAWindowSendsDestroyToItAndItsChildren) {
    HWND child = CreateWindowEx(0, "Test", "c", WS_CHILD | WS_VISIBLE, 5, 5, 20, 20, hwnd, nullptr);
    ASSERT_NE(child, nullptr);
    SetTimer(child, 2, 10);
    gSeen.clear();
    DestroyWindow(hwnd);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_DESTROY, WM_DESTROY}));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindow(child));
    headless::Advance(100);
    MSG msg;
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) << "a destroyed window's timers are gone";
}

TEST_F(WindowModel, CursorCounterDecidesVisibility) {
    EXPECT_EQ(ShowCursor(false), -1);
    EXPECT_FALSE(headless::CursorVisible());
    EXPECT_EQ(ShowCursor(true), 0);
    EXPECT_TRUE(headless::CursorVisible());
    SetCursor(HCURSOR::Null);
    EXPECT_FALSE(headless::CursorVisible());
    SetCursor(LoadCursor(HCURSOR::Arrow));
    EXPECT_TRUE(headless::CursorVisible());
}

TEST_F(WindowModel, ForeignWindowsAreKnownByTheirIds) {
    unsigned long id = headless::AddForeignWindow(152, 112);
    HWND foreign = WindowFromNativeId(id);
    ASSERT_NE(foreign, nullptr);
    Rect r;
    ASSERT_TRUE(GetClientRect(foreign, &r));
    EXPECT_EQ(r, (Rect{0, 0, 152, 112}));
    EXPECT_EQ(WindowFromNativeId(999999), nullptr);
    headless::RemoveForeignWindow(id);
    EXPECT_FALSE(IsWindow(foreign));
}

TEST(MulDivTest, RoundsHalfAwayFromZero) {
    EXPECT_EQ(MulDiv(9, 96, 72), 12);
    EXPECT_EQ(MulDiv(9, 120, 72), 15);
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

}  // namespace
