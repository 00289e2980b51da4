#include "host/host.h"

#include <cstdio>
#include <cstdlib>

#include "display/saver_proc.h"
#include "host/command_line.h"
#include "platform/dialog.h"
#include "platform/power.h"
#include "platform/store.h"
#include "resources/resource_ids.h"
#include "settings/settings_dialog.h"

namespace {

std::function<VerifyPasswordFn()> gPasswordProvider;

constexpr WPARAM PWR_CRITICALRESUME = 3;
constexpr WPARAM PBT_APMPOWERSTATUSCHANGE = 10;

void Close(HWND hwnd) { PostMessage(hwnd, WM_CLOSE, 0, 0); }

std::uint8_t ReadAcLineStatus() {
    std::uint8_t status = 255;
    return GetSystemPowerStatus(&status) ? status : 255;
}

// The close rules for the messages that the saver procedure passed on.
// Answers true when the message is settled with *result.
bool ApplyCloseRules(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    HostState& h = Host();
    switch (msg) {
    case WM_CLOSE:
        if (h.win9xPlatform && !VerifyPasswordOnClose(hwnd)) {
            GetCursorPos(&h.hostCursorAnchor);
            *result = 0;
            return true;
        }
        return false;
    case WM_APP:
        if (!h.win9xPlatform) return false;
        *result = h.passwordLibrary && h.verifyPassword ? h.verifyPassword(hwnd) : 1;
        return true;
    default: break;
    }
    if (h.checkingPassword) return false;
    switch (msg) {
    case WM_SHOWWINDOW:
        if (wParam) SetCursor(HCURSOR::Null);
        return false;
    case WM_ACTIVATEAPP:
        if (wParam == 0) Close(hwnd);
        return false;
    case WM_SETCURSOR:
        SetCursor(HCURSOR::Null);
        *result = 1;
        return true;
    case WM_POWER:
        if (wParam == PWR_CRITICALRESUME) Close(hwnd);
        return false;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        Close(hwnd);
        return false;
    case WM_MOUSEMOVE: {
        Point pt;
        GetCursorPos(&pt);
        DWORD moved = static_cast<DWORD>(std::abs(pt.x - h.hostCursorAnchor.x) + std::abs(pt.y - h.hostCursorAnchor.y));
        if (moved > h.mouseMoveThreshold) {
            Close(hwnd);
            h.hostCursorAnchor = pt;
        }
        return false;
    }
    case WM_POWERBROADCAST:
        if (wParam <= 5) {
            Close(hwnd);
        } else if (wParam == 6 || wParam == 7 || wParam == 8 || wParam == 18) {
            if (!(lParam & 1)) Close(hwnd);  // a resume after a failure leaves the saver running
        } else if (wParam == PBT_APMPOWERSTATUSCHANGE) {
            std::uint8_t status = ReadAcLineStatus();
            if (status != h.acLineStatus) {
                h.acLineStatus = status;
                Close(hwnd);
            }
        } else {
            Close(hwnd);
        }
        return false;
    default:
        return false;
    }
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
    return static_cast<int>(msg.wParam);
}

bool EnsurePlatform() {
    std::string error;
    if (InitPlatform(&error)) return true;
    std::fprintf(stderr, "kaleidra: %s\n", error.c_str());
    return false;
}

}  // namespace

HostState& Host() {
    static HostState state;
    return state;
}

void SetPasswordProvider(std::function<VerifyPasswordFn()> provider) { gPasswordProvider = std::move(provider); }

void LoadPasswordHook() {
    if (!Host().win9xPlatform) return;
    UnloadPasswordHook();
    std::string value;
    if (SHGetValue("Control Panel\\Desktop", "ScreenSaveUsePassword", &value, 4, StoreChars::Narrow) != ERROR_SUCCESS)
        return;
    if (std::strtol(value.c_str(), nullptr, 10) == 0 || !gPasswordProvider) return;
    VerifyPasswordFn verify = gPasswordProvider();
    if (!verify) return;
    Host().passwordLibrary = true;
    Host().verifyPassword = std::move(verify);
    Host().saverRunningFlag = true;
}

void UnloadPasswordHook() {
    HostState& h = Host();
    if (!h.win9xPlatform || !h.passwordLibrary) return;
    h.passwordLibrary = false;
    if (h.verifyPassword) {
        h.verifyPassword = nullptr;
        h.saverRunningFlag = false;
    }
}

int VerifyPasswordOnClose(HWND hwnd) {
    HostState& h = Host();
    if (h.checkingPassword || h.closing) return 0;
    if (!h.passwordLibrary) {
        h.closing = true;
        return 1;
    }
    if (h.lastPasswordCheckTick != 0xFFFFFFFF && GetTickCount() - h.lastPasswordCheckTick < 200) return h.closing;
    h.checkingPassword = true;
    MSG pending;
    for (int i = 0; i < 2; ++i) {
        while (PeekMessage(&pending, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        }
    }
    h.closing = SendMessage(hwnd, WM_APP, 0, 0) != 0;
    h.checkingPassword = false;
    if (!h.closing) SetCursor(HCURSOR::Null);
    h.lastPasswordCheckTick = GetTickCount();
    return h.closing;
}

LRESULT DefaultSaverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    HostState& h = Host();
    if (!h.previewMode && !h.closing) {
        LRESULT result = 0;
        if (ApplyCloseRules(hwnd, msg, wParam, lParam, &result)) return result;
    }
    if (h.autoPlayMessage != 0 && msg == h.autoPlayMessage) {
        Close(hwnd);
        return h.passwordLibrary ? 1 : 0;  // 1 cancels the shell's auto-play
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

LRESULT HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    HostState& h = Host();
    switch (msg) {
    case WM_CREATE:
        // No input method is bound to the saver's windows here, so there is
        // no input context to detach and restore.
        GetCursorPos(&h.hostCursorAnchor);
        if (!h.previewMode) SetCursor(HCURSOR::Null);
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    case WM_SETTEXT:
        return 0;
    case WM_PAINT:
        if (h.closing) return DefWindowProc(hwnd, msg, wParam, lParam);
        if (!h.previewMode) SetCursor(HCURSOR::Null);
        break;
    case WM_HELP:
    case WM_CONTEXTMENU:
        if (h.previewMode) {
            HWND parent = GetParent(hwnd);
            if (parent && IsWindow(parent)) PostMessage(parent, msg, reinterpret_cast<WPARAM>(parent), lParam);
            return 1;
        }
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (h.closing) return DefWindowProc(hwnd, msg, wParam, lParam);
        break;
    case WM_TIMER:
        if (h.closing) return 0;
        Sleep(0);
        break;
    case WM_SYSCOMMAND:
        if (!h.previewMode) {
            if (wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW || wParam == SC_SCREENSAVE) return 0;
            if (wParam == SC_MONITORPOWER) Close(hwnd);
        }
        break;
    default: break;
    }
    return ScreenSaverProcW(hwnd, msg, wParam, lParam);
}

int RunSaverWindow(HWND parent) {
    HostState& h = Host();
    WNDCLASS wc;
    wc.style = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = HostWindowProc;
    wc.iconResource = 100;
    wc.hCursor = HCURSOR::Null;
    wc.background = RGB(0, 0, 0);
    wc.lpszClassName = kSaverClassName;

    Rect frame;
    DWORD style, exStyle = 0;
    std::string title;
    if (parent) {
        GetClientRect(parent, &frame);
        style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
        title = "Preview";
        h.previewMode = true;
    } else {
        frame.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
        frame.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        frame.right = frame.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
        frame.bottom = frame.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
        if (frame.Empty()) frame = Rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        exStyle = WS_EX_TOPMOST;
        title = kSaverTitle;
        if (HWND running = FindWindow(kSaverClassName, kSaverTitle)) {
            SetForegroundWindow(running);
            return 0;
        }
        h.acLineStatus = ReadAcLineStatus();
        LoadPasswordHook();
    }
    // There is no auto-play message to register outside the old platform family.
    h.autoPlayMessage = 0;

    int result = 0;
    if (RegisterClass(wc)) {
        h.saverWindow = CreateWindowEx(exStyle, kSaverClassName, title, style, frame.left, frame.top, frame.Width(),
                                       frame.Height(), parent, nullptr);
        if (h.saverWindow) {
            PostCloseOnTerminationSignals(h.saverWindow);
            if (!parent) SetForegroundWindow(h.saverWindow);
            result = RunMessageLoop();
            PostCloseOnTerminationSignals(nullptr);
        }
        UnregisterClass(kSaverClassName);
    }
    UnloadPasswordHook();
    h.saverWindow = nullptr;
    return result;
}

int ShowSettingsDialog(HWND owner) {
    // Without a display there is no dialog: -1, as a dialog that cannot be
    // created answers, never a result that reads as OK or Cancel.
    if (!EnsurePlatform()) return -1;
    return static_cast<int>(DialogBoxParam(kSettingsDialogId, owner, SettingsDialogProc, 0));
}

void ChangeSaverPassword(HWND) {
    // No password provider exists on this platform: the change does nothing.
}

int HostMain(const std::string& commandLine) {
    try {
        ParsedCommandLine parsed = ParseCommandLine(commandLine);
        switch (parsed.mode) {
        case RunMode::Refused:
            return -1;
        case RunMode::Settings: {
            HWND owner = nullptr;
            std::string error;
            if (!parsed.ownerless && InitPlatform(&error)) {
                owner = WindowFromNativeId(parsed.window);
                if (!owner || !IsWindow(owner)) owner = GetForegroundWindow();
            }
            return ShowSettingsDialog(owner);
        }
        case RunMode::Saver:
            if (!EnsurePlatform()) return 1;
            return RunSaverWindow(nullptr);
        case RunMode::Preview: {
            if (parsed.window == 0) return -1;
            if (!EnsurePlatform()) return 1;
            HWND parent = WindowFromNativeId(parsed.window);
            if (!parent || !IsWindow(parent)) return -1;
            return RunSaverWindow(parent);
        }
        case RunMode::ChangePassword: {
            if (!Host().win9xPlatform) return -1;
            HWND owner = EnsurePlatform() ? WindowFromNativeId(parsed.window) : nullptr;
            if (!owner || !IsWindow(owner)) owner = GetForegroundWindow();
            ChangeSaverPassword(owner);
            return 0;
        }
        }
    } catch (...) {
        if (Host().win9xPlatform) Host().saverRunningFlag = false;
        return -1;
    }
    return -1;
}
