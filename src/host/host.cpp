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

int RunMessageLoop() {
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
    return static_cast<int>(msg.wParam);
}

// The saver window covers its parent, or with none the whole virtual screen.
Rect SaverFrame(HWND parent) {
    Rect frame;
    if (parent) {
        GetClientRect(parent, &frame);
        return frame;
    }
    frame.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    frame.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    frame.right = frame.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    frame.bottom = frame.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (frame.Empty()) frame = Rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return frame;
}

bool EnsurePlatform() {
    std::string error;
    if (InitPlatform(&error)) return true;
    std::fprintf(stderr, "kaleidra: %s\n", error.c_str());
    return false;
}

}  // namespace

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
    case WM_DISPLAYCHANGE: {
        // The screen, or the window holding the saver, took another size:
        // cover it again before the grids are laid anew.
        const Rect frame = SaverFrame(h.frameParent);
        MoveWindow(hwnd, frame.left, frame.top, frame.Width(), frame.Height());
        break;
    }
    case WM_SYSCOMMAND:
        if (!h.previewMode) {
            if (wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW || wParam == SC_SCREENSAVE) return 0;
            if (wParam == SC_MONITORPOWER) PostMessage(hwnd, WM_CLOSE, 0, 0);
        }
        break;
    default: break;
    }
    return ScreenSaverProcW(hwnd, msg, wParam, lParam);
}

namespace {

int RunSaverWindowIn(HWND parent, bool daemon) {
    HostState& h = Host();
    WNDCLASS wc;
    wc.style = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = HostWindowProc;
    wc.iconResource = 100;
    wc.hCursor = HCURSOR::Null;
    wc.background = RGB(0, 0, 0);
    wc.lpszClassName = kSaverClassName;

    const Rect frame = SaverFrame(parent);
    h.frameParent = parent;
    DWORD style, exStyle = 0;
    std::string title;
    if (daemon) {
        // Disabled: the clicks and keys go to the daemon's window beneath.
        style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_DISABLED;
        title = kDaemonSaverTitle;
        h.acLineStatus = ReadAcLineStatus();
    } else if (parent) {
        style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
        title = "Preview";
        h.previewMode = true;
    } else {
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
            if (!parent && !daemon) SetForegroundWindow(h.saverWindow);
            result = RunMessageLoop();
            PostCloseOnTerminationSignals(nullptr);
        }
        UnregisterClass(kSaverClassName);
    }
    UnloadPasswordHook();
    h.saverWindow = nullptr;
    h.frameParent = nullptr;
    return result;
}

}  // namespace

int RunSaverWindow(HWND parent) { return RunSaverWindowIn(parent, false); }

int RunInDaemonWindow(HWND daemonWindow) { return RunSaverWindowIn(daemonWindow, true); }

int ShowSettingsDialog(HWND owner) {
    // Without a display there is no dialog: -1, as a dialog that cannot be
    // created answers, never a result that reads as OK or Cancel.
    if (!EnsurePlatform()) return -1;
    return static_cast<int>(DialogBoxParam(kSettingsDialogId, owner, SettingsDialogProc, 0));
}

void ChangeSaverPassword(HWND) {
    // No password provider exists on this platform: the change does nothing.
}

namespace {

// A refused command line is the caller's mistake: one line says which, and
// the exit code says it was refused.
int Refuse(const std::string& commandLine) {
    std::fprintf(stderr, "kaleidra: command line refused: \"%s\" (use /s, /p WINDOW, /c, -root or -window-id WINDOW)\n",
                 commandLine.substr(ArgumentsStart(commandLine)).c_str());
    return -1;
}

}  // namespace

int HostMain(const std::string& commandLine) {
    try {
        ParsedCommandLine parsed = ApplyDaemonWindow(ParseCommandLine(commandLine), std::getenv("XSCREENSAVER_WINDOW"));
        switch (parsed.mode) {
        case RunMode::Refused:
            return Refuse(commandLine);
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
            if (parsed.window == 0) return Refuse(commandLine);
            if (!EnsurePlatform()) return 1;
            HWND parent = WindowFromNativeId(parsed.window);
            if (!parent || !IsWindow(parent)) return Refuse(commandLine);
            return RunSaverWindow(parent);
        }
        case RunMode::Daemon: {
            if (!EnsurePlatform()) return 1;
            HWND window = parsed.window ? WindowFromNativeId(parsed.window) : GetDesktopWindow();
            if (!window || !IsWindow(window)) return Refuse(commandLine);
            return RunInDaemonWindow(window);
        }
        case RunMode::ChangePassword: {
            if (!Host().win9xPlatform) return Refuse(commandLine);
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
