// The dialog manager under a dialog procedure of the test's own: what the
// procedure is sent, trackbar semantics, and the modal loop.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/dialog.h"
#include "platform/headless/headless.h"

namespace {

constexpr int kTemplateId = 9001;
constexpr int kSlider = 10, kLabel = 11, kCheck = 12;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

constexpr DialogItemTemplate kItems[] = {
    {kLabel, kStaticClass, "text", 0, kChild | SS_LEFT, 5, 5, 60, 8},
    {IDOK, kButtonClass, "OK", 0, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 5, 20, 50, 14},
    {IDCANCEL, kButtonClass, "Cancel", 0, kChild | BS_PUSHBUTTON | WS_TABSTOP, 60, 20, 50, 14},
    {kSlider, kTrackbarClass, "", 0, kChild | TBS_NOTICKS | WS_TABSTOP, 5, 40, 100, 12},
    {kCheck, kButtonClass, "&Check", 0, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 5, 60, 60, 10},
};
constexpr DialogTemplate kTemplates[] = {
    {kTemplateId, WS_POPUP | WS_CAPTION, "Test", "MS Shell Dlg", 8, 400, false, 1, 120, 80, kItems}};

struct Seen {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> seen;
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> hook;

INT_PTR TestProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG || msg == WM_COMMAND || msg == WM_HSCROLL || msg == WM_CLOSE)
        seen.push_back({msg, wParam, lParam});
    return hook ? hook(dialog, msg, wParam, lParam) : 0;
}

class DialogBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        static bool registered = (RegisterDialogTemplates(kTemplates), true);
        (void)registered;
        setenv("KALEIDRA_BACKEND", "headless", 1);
        ASSERT_TRUE(InitPlatform(nullptr));
        seen.clear();
        hook = nullptr;
        headless::OnIdle([] {
            ADD_FAILURE() << "the dialog was left open";
            EndDialog(dialog, -2);
        });
    }
    void TearDown() override {
        hook = nullptr;
        ShutdownPlatform();
    }

    static INT_PTR Run(std::uint64_t afterMs, std::function<void()> user) {
        hook = [inner = hook](HWND d, UINT msg, WPARAM w, LPARAM l) -> INT_PTR {
            if (msg == WM_INITDIALOG) dialog = d;
            return inner ? inner(d, msg, w, l) : 0;
        };
        headless::At(headless::Now() + afterMs, std::move(user));
        return DialogBoxParam(kTemplateId, nullptr, TestProc, 77);
    }

    static inline HWND dialog = nullptr;
};

TEST_F(DialogBoxTest, TrackbarKeepsItsPositionInRangeAndOnlyTheUserMakesItReport) {
    hook = [](HWND d, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG) return 0;
        HWND slider = GetDlgItem(d, kSlider);
        EXPECT_EQ(SendMessage(slider, TBM_GETPOS, 0, 0), 0);
        SendMessage(slider, TBM_SETPOS, true, 150);
        EXPECT_EQ(SendMessage(slider, TBM_GETPOS, 0, 0), 100) << "a fresh trackbar spans 0 to 100";
        SendMessage(slider, TBM_SETRANGEMAX, false, 60);
        EXPECT_EQ(SendMessage(slider, TBM_GETPOS, 0, 0), 60);
        SendMessage(slider, TBM_SETRANGEMIN, false, 10);
        SendMessage(slider, TBM_SETPOS, true, -5);
        EXPECT_EQ(SendMessage(slider, TBM_GETPOS, 0, 0), 10);
        return 0;
    };
    EXPECT_EQ(Run(0,
                  [] {
                      headless::MoveDialogSlider(kSlider, 30);
                      EXPECT_EQ(SendMessage(GetDlgItem(dialog, kSlider), TBM_GETPOS, 0, 0), 30);
                      EndDialog(dialog, 3);
                  }),
              3);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].msg, UINT(WM_INITDIALOG));
    EXPECT_EQ(seen[0].lParam, 77);
    EXPECT_EQ(seen[1].msg, UINT(WM_HSCROLL));
    EXPECT_EQ(seen[1].wParam, MAKEWPARAM(TB_THUMBTRACK, 30));
}

TEST_F(DialogBoxTest, ClicksKeysAndTheCloseButtonBecomeCommands) {
    HWND okButton = nullptr, checkBox = nullptr, cancelButton = nullptr;
    EXPECT_EQ(Run(0,
                  [&] {
                      okButton = GetDlgItem(dialog, IDOK);
                      checkBox = GetDlgItem(dialog, kCheck);
                      cancelButton = GetDlgItem(dialog, IDCANCEL);
                      headless::ClickDialogItem(kCheck);
                      EXPECT_EQ(IsDlgButtonChecked(dialog, kCheck), BST_CHECKED);
                      headless::ClickDialogItem(kLabel);  // a static text sends nothing
                      headless::DialogKey(VK_RETURN);
                      headless::DialogKey(VK_ESCAPE);
                      headless::CloseDialog();
                      headless::At(headless::Now() + 1, [] { EndDialog(dialog, 42); });
                  }),
              42);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0].wParam, reinterpret_cast<WPARAM>(okButton)) << "WM_INITDIALOG names the first tab stop";
    EXPECT_EQ(seen[1].wParam, MAKEWPARAM(kCheck, BN_CLICKED));
    EXPECT_EQ(seen[1].lParam, reinterpret_cast<LPARAM>(checkBox));
    EXPECT_EQ(seen[2].wParam, MAKEWPARAM(IDOK, BN_CLICKED));
    EXPECT_EQ(seen[3].wParam, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    EXPECT_EQ(seen[4].msg, UINT(WM_CLOSE));
    // Unhandled, the close request comes back as Cancel.
    EXPECT_EQ(seen[5].wParam, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    EXPECT_EQ(seen[5].lParam, reinterpret_cast<LPARAM>(cancelButton));
}

LRESULT CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
int ticks = 0, posted = 0;
LRESULT CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER) ++ticks;
    if (msg == WM_APP) ++posted;
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

TEST_F(DialogBoxTest, OtherWindowsKeepWorkingWhileTheDialogIsOpen) {
    WNDCLASS wc;
    wc.lpfnWndProc = CountingProc;
    wc.lpszClassName = "Counting";
    ASSERT_TRUE(RegisterClass(wc));
    HWND other = CreateWindowEx(0, "Counting", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr);
    SetTimer(other, 1, 100);
    PostMessage(other, WM_APP, 0, 0);
    ticks = posted = 0;
    Run(1000, [] { EndDialog(dialog, 1); });
    EXPECT_EQ(posted, 1);
    EXPECT_GE(ticks, 9);
}

TEST_F(DialogBoxTest, QuitEndsTheDialogAndReachesTheOuterLoop) {
    EXPECT_EQ(Run(0, [] { PostQuitMessage(7); }), 0);
    MSG msg;
    EXPECT_FALSE(GetMessage(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(DialogBoxTest, ItemOperationsAndDialogsThatNeverShow) {
    hook = [](HWND d, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG) return 0;
        EXPECT_EQ(GetDlgItem(d, 99), nullptr);
        EXPECT_FALSE(SetDlgItemText(d, 99, "x"));
        SetDlgItemText(d, kLabel, "a\xf0\x9f\x98\x80z");  // U+1F600 takes two UTF-16 units
        std::string text = "old";
        EXPECT_EQ(GetDlgItemText(d, kLabel, &text, 3), 1u);
        EXPECT_EQ(text, "a") << "a cut never splits a character";
        EXPECT_EQ(GetDlgItemText(d, kLabel, &text, 4), 3u);
        SetDlgItemInt(d, kLabel, static_cast<UINT>(-2), true);
        EXPECT_EQ(GetDlgItemText(d, kLabel, &text, 260), 2u);
        EXPECT_EQ(text, "-2");
        std::string path;
        EXPECT_FALSE(SHBrowseForFolder(BROWSEINFO{nullptr, "", 0}, &path)) << "a browser needs an open dialog";
        EndDialog(d, 5);  // before the dialog ever shows
        return 0;
    };
    EXPECT_EQ(DialogBoxParam(kTemplateId, nullptr, TestProc, 0), 5);
    EXPECT_EQ(DialogBoxParam(4242, nullptr, TestProc, 0), -1);
    EXPECT_EQ(GetDlgItem(nullptr, IDOK), nullptr);
}

}  // namespace
