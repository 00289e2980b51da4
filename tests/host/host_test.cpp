// The host's modes and close rules, run with the real saver window on the
// offscreen display.
#include <gtest/gtest.h>

#include <csignal>

#include "display/saver_fixture.h"
#include "platform/store.h"

namespace {

using HostRun = SaverTest;

TEST_F(HostRun, RefusedCommandLinesExitWithMinusOne) {
    EXPECT_EQ(HostMain("kaleidra /x"), -1);
    EXPECT_EQ(HostMain("kaleidra /p 0"), -1);
    EXPECT_EQ(HostMain("kaleidra /a 1234"), -1) << "no password change on this platform";
    Open();
    EXPECT_EQ(HostMain("kaleidra /p 999999"), -1) << "not a window";
}

TEST_F(HostRun, KeysThatEndTheSaverAndKeysThatDoNot) {
    struct Case {
        WPARAM vk;
        bool alt;
        bool ends;
    };
    const Case cases[] = {{VK_ESCAPE, false, true}, {VK_RETURN, false, true}, {VK_UP, false, true},
                          {VK_DOWN, false, true},   {'X', true, true},        {VK_LEFT, false, false},
                          {VK_RIGHT, false, false}, {'3', false, false},      {VK_SPACE, false, false},
                          {'T', false, false},      {VK_VOLUME_UP, false, false}};
    for (const Case& c : cases) {
        bool survived = false;
        int code = RunSaver([&](HWND w) {
            headless::Key(w, c.vk, c.alt);
            After(100, [&] {
                survived = true;
                DestroyWindow(window);
            });
        });
        EXPECT_EQ(code, 0);
        EXPECT_EQ(!survived, c.ends) << "key " << c.vk << (c.alt ? " with Alt" : "");
        TearDown();
        SetUp();
    }
}

TEST_F(HostRun, MouseMovesAndSideClicksKeepItMiddleButtonEndsIt) {
    bool aliveAfterMoves = false, survivedMiddle = false;
    int code = RunSaver([&](HWND w) {
        headless::SetCursorPos({500, 500});
        Host().hostCursorAnchor = {500, 500};
        headless::MouseMove(w, 700, 700);
        headless::Button(w, WM_LBUTTONDOWN, 700, 700);
        headless::Button(w, WM_RBUTTONDOWN, 10, 10);
        After(50, [&] {
            aliveAfterMoves = IsWindow(window);
            headless::Button(window, WM_MBUTTONDOWN, 5, 5);
        });
        After(150, [&] {
            survivedMiddle = true;
            DestroyWindow(window);
        });
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(aliveAfterMoves);
    EXPECT_FALSE(survivedMiddle) << "the middle button ends the saver";
}

TEST_F(HostRun, MovementThresholdOfTheDefaultProcedure) {
    RunSaver([&](HWND w) {
        Host().hostCursorAnchor = {100, 100};
        headless::SetCursorPos({103, 101});
        DefaultSaverProc(w, WM_MOUSEMOVE, 0, 0);
        EXPECT_FALSE(ClosePosted()) << "3 right and 1 down is within the threshold";
        EXPECT_EQ(Host().hostCursorAnchor, (Point{100, 100}));
        headless::SetCursorPos({103, 102});
        DefaultSaverProc(w, WM_MOUSEMOVE, 0, 0);
        EXPECT_TRUE(ClosePosted()) << "3 right and 2 down is past it";
        EXPECT_EQ(Host().hostCursorAnchor, (Point{103, 102}));
    });
}

TEST_F(HostRun, PowerEventsAndSystemCommands) {
    RunSaver([&](HWND w) {
        MSG m;
        auto closes = [&](UINT msg, WPARAM wp, LPARAM lp) {
            while (PeekMessage(&m, w, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
            }
            HostWindowProc(w, msg, wp, lp);
            return ClosePosted();
        };
        EXPECT_TRUE(closes(WM_POWERBROADCAST, 7, 0)) << "resume";
        EXPECT_FALSE(closes(WM_POWERBROADCAST, 7, 1)) << "resume after a failure";
        EXPECT_TRUE(closes(WM_POWERBROADCAST, 4, 0)) << "suspend";
        EXPECT_TRUE(closes(WM_POWERBROADCAST, 11, 0));
        EXPECT_FALSE(closes(WM_ACTIVATEAPP, 0, 0)) << "the saver procedure keeps activation for itself";
        EXPECT_EQ(HostWindowProc(w, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
        EXPECT_FALSE(ClosePosted());
        EXPECT_TRUE(closes(WM_SYSCOMMAND, SC_MONITORPOWER, 2));
        EXPECT_EQ(HostWindowProc(w, WM_SETCURSOR, 0, 0), 1) << "the cursor stays hidden";
        DestroyWindow(w);
    });
}

TEST_F(HostRun, TerminationSignalClosesInOrder) {
    int code = RunSaver([&](HWND) { std::raise(SIGTERM); });
    EXPECT_EQ(code, 0);
    std::string lines;
    EXPECT_EQ(SHGetValue("Software\\Veltrane\\Lumivista", "Lines of metadata", &lines, 40), ERROR_SUCCESS)
        << "the window was destroyed in order";
}

TEST_F(HostRun, PreviewLivesInsideItsParentAndIgnoresInput) {
    Open();
    unsigned long parentId = headless::AddForeignWindow(152, 112);
    HWND parent = WindowFromNativeId(parentId);
    Rect client;
    bool alive = false;
    int code = RunSaver(
        [&](HWND w) {
            GetClientRect(w, &client);
            EXPECT_EQ(GetParent(w), parent);
            EXPECT_TRUE(gSmallWindow);
            headless::Key(w, VK_ESCAPE);
            headless::Button(w, WM_MBUTTONDOWN, 3, 3);
            After(100, [&] {
                alive = IsWindow(window);
                DestroyWindow(window);
            });
        },
        parent);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(client, (Rect{0, 0, 152, 112}));
    EXPECT_TRUE(alive);
    EXPECT_EQ(HostMain("kaleidra /l " + std::to_string(parentId + 1000)), -1);
}

TEST_F(HostRun, SecondFullScreenStartRaisesTheFirst) {
    RunSaver([&](HWND w) {
        // Another program has the focus when the second start comes.
        HWND other = WindowFromNativeId(headless::AddForeignWindow(200, 100));
        SetForegroundWindow(other);
        ASSERT_EQ(GetForegroundWindow(), other);
        EXPECT_EQ(RunSaverWindow(nullptr), 0);
        EXPECT_EQ(Host().saverWindow, w) << "the host still knows the first as its window";
        EXPECT_TRUE(IsWindow(w)) << "the first saver stays";
        EXPECT_EQ(GetForegroundWindow(), w);
        DestroyWindow(w);
    });
}

// The password rules exist for a platform family this system never runs on;
// they are kept exact for whoever provides a verify function.
class PasswordRules : public SaverTest {
protected:
    void UsePassword(std::function<int(HWND)> verify) {
        ASSERT_EQ(SHSetValue("Control Panel\\Desktop", "ScreenSaveUsePassword", "1"), ERROR_SUCCESS);
        Host().win9xPlatform = true;
        SetPasswordProvider([verify] { return VerifyPasswordFn(verify); });
    }
};

TEST_F(PasswordRules, RefusedPasswordKeepsTheSaverAndAskedOnlyOnceIn200Ms) {
    int asked = 0;
    bool accept = false;
    UsePassword([&](HWND) {
        ++asked;
        return accept ? 1 : 0;
    });
    int code = RunSaver([&](HWND w) {
        EXPECT_TRUE(Host().saverRunningFlag);
        headless::SetCursorPos({40, 40});
        SendMessage(w, WM_CLOSE, 0, 0);
        EXPECT_TRUE(IsWindow(w));
        EXPECT_EQ(Host().hostCursorAnchor, (Point{40, 40}));
        SendMessage(w, WM_CLOSE, 0, 0);
        EXPECT_EQ(asked, 1) << "a burst of close requests asks once";
        headless::Advance(200);
        accept = true;
        SendMessage(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(Host().closing);
    EXPECT_FALSE(Host().saverRunningFlag) << "unloading the hook clears the flag";
}

TEST_F(PasswordRules, InputDuringTheCheckDoesNotClose) {
    bool closeDuringCheck = true;
    UsePassword([&](HWND w) {
        SendMessage(w, WM_KEYDOWN, VK_ESCAPE, 0);
        MSG m;
        closeDuringCheck = PeekMessage(&m, w, WM_CLOSE, WM_CLOSE, PM_NOREMOVE);
        return 1;
    });
    RunSaver([&](HWND w) { SendMessage(w, WM_CLOSE, 0, 0); });
    EXPECT_FALSE(closeDuringCheck);
}

TEST_F(PasswordRules, NoHookMeansClosingAtOnce) {
    Host().win9xPlatform = true;  // and "ScreenSaveUsePassword" is not set
    int code = RunSaver([&](HWND w) { SendMessage(w, WM_CLOSE, 0, 0); });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(Host().closing);
    EXPECT_FALSE(Host().passwordLibrary);
}

}  // namespace
