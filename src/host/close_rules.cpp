#include "host/close_rules.h"

#include <cstdlib>

#include "platform/power.h"
#include "platform/store.h"

namespace {

std::function<VerifyPasswordFn()> gPasswordProvider;

constexpr WPARAM PWR_CRITICALRESUME = 3;
constexpr WPARAM PBT_APMPOWERSTATUSCHANGE = 10;

void Close(HWND hwnd) { PostMessage(hwnd, WM_CLOSE, 0, 0); }

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

}  // namespace

std::uint8_t ReadAcLineStatus() {
    std::uint8_t status = 255;
    return GetSystemPowerStatus(&status) ? status : 255;
}

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
