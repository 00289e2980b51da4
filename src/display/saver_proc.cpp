#include "display/saver_proc.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "catalogue/folder_scan.h"
#include "catalogue/scan_state.h"
#include "diag/debug_log.h"
#include "display/collage.h"
#include "display/saver_state.h"
#include "host/host.h"
#include "imaging/graphics_state.h"
#include "metadata/quadrant_menu.h"
#include "metadata/xmp_metadata.h"
#include "platform/paths.h"
#include "platform/store.h"
#include "platform/worker.h"
#include "resources/resource_ids.h"
#include "settings/preferences.h"

namespace {

constexpr UINT kMenuHoldMs = 9999999;
constexpr UINT kMouseHoldMs = 15000;
constexpr UINT kFirstTickMs = 5000;
constexpr int kMouseSlack = 50;
constexpr int kPauseLength = 10000;

// Input the saver answered while a tick waited for its picture: it is handled
// once the tick is over, as if it had come right after it.
std::vector<MSG> inputAfterTick;

void ComputeBandHeight() {
    metadataBandHeight = linesOfMetadata * lineHeight;
    if (linesOfMetadata != 0 && starImage && starImage->HasPicture()) metadataBandHeight -= lineHeight;
}

void SpecialFolder(int csidl, std::string* path, std::string* name) {
    std::string found;
    *path = SHGetSpecialFolderPath(csidl, &found, true) ? BoundedPath(found) : std::string();
    *name = BoundedPath(PathStripPath(*path));
}

// What depends on the window's size: a small window shows one grid with
// thin bands.
void MeasureWindow(HWND hwnd) {
    Rect client;
    GetClientRect(hwnd, &client);
    gSmallWindow = client.Width() < 300 || client.Height() < 300;
    HDC dc = GetDC(hwnd);
    lineHeight = gSmallWindow ? 2 : MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(hwnd, dc);
}

// Fresh grids over the window and the monitors as they are now, filled
// anew; the walk goes on where it was.
void RebuildGrids(HWND hwnd) {
    gridsStale = false;
    MeasureWindow(hwnd);
    ComputeBandHeight();
    fillCountdown = BuildQuadrants(hwnd) * imagesPerScreen;
    // The splash and a pause keep their time; otherwise the fill starts now.
    if (splashState == 0 && pauseTicks == 0) RestartSaverTimer(hwnd, 1);
    backgroundErased = false;
    InvalidateRect(hwnd, nullptr, true);
}

LRESULT OnDisplayChange(HWND hwnd) {
    if (!quadrantsReady) return 0;
    // A tick holds its quadrant: the grids go when it ends.
    if (inTimerTick) {
        gridsStale = true;
        return 0;
    }
    RebuildGrids(hwnd);
    return 0;
}

bool Flag(PreferenceId id, long defaultValue) { return ReadLongFromPreferences(id, defaultValue) == 1; }

LRESULT OnCreate(HWND hwnd) {
    ApplyDebugOutputPreference();
    LogEntry(1, "Begin WM_CREATE");
    LRESULT result = InitSaverState(hwnd);
    InvalidateRect(hwnd, nullptr, false);
    if (quadrantList.empty()) {
        int regions = BuildQuadrants(hwnd);
        fillCountdown = regions * imagesPerScreen;
    }
    currentQuadrant = 0;
    quadrantsReady = true;
    return result;
}

LRESULT OnDestroy(HWND hwnd);

LRESULT OnTimer(HWND hwnd) {
    splashState = 0;
    if (pauseTicks != 0) {
        --pauseTicks;
        return 0;
    }
    ShowCursor(false);
    if (saverTimerId != 0 && quadrantsReady) {
        if (inTimerTick) return 0;  // a tick re-entered through a nested message loop
        struct TickGuard {
            TickGuard() { inTimerTick = true; }
            ~TickGuard() { inTimerTick = false; }
        } guard;
        if (fillCountdown >= 1) {
            --fillCountdown;
            RestartSaverTimer(hwnd, 1);
        }
        if (fillCountdown == 0) RestartSaverTimer(hwnd, static_cast<UINT>(tickPeriodMs));
        CollageTick(hwnd, fillCountdown == 0);
        LogEntry(0, "End WM_TIMER");
    }
    if (!IsWindow(hwnd)) return OnDestroy(hwnd);  // taken away during the tick
    if (gridsStale && !closePending) RebuildGrids(hwnd);
    // What waited for the tick comes next, in the order it arrived; a closing
    // saver answers none of it.
    if (!closePending) {
        for (const MSG& m : inputAfterTick) PostMessage(m.hwnd, m.message, m.wParam, m.lParam);
    }
    inputAfterTick.clear();
    if (closePending) PostMessage(hwnd, WM_CLOSE, 0, 0);
    return 0;
}

// What a key does: the saver's own keys, and every other one, which ends it.
enum class KeyAction { Pause, Band, Nothing, Close };

KeyAction ActionOf(WPARAM key) {
    switch (key) {
    case VK_SPACE: return KeyAction::Pause;
    case 0x54:   // T
    case VK_F5:  // the same code as a lower-case t
        return KeyAction::Band;
    case VK_LEFT:
    case VK_RIGHT:
    case '1': case '2': case '3': case '4': case '5':
    case VK_VOLUME_MUTE:
    case VK_VOLUME_DOWN:
    case VK_VOLUME_UP:
        return KeyAction::Nothing;
    default: return KeyAction::Close;
    }
}

LRESULT OnKeyDown(HWND hwnd, UINT msg, WPARAM key, LPARAM lParam) {
    switch (ActionOf(key)) {
    case KeyAction::Pause:
        pauseTicks = pauseTicks == 0 ? kPauseLength : 0;
        return 0;
    case KeyAction::Band:
        if (++linesOfMetadata > 2) linesOfMetadata = 0;
        ComputeBandHeight();
        InvalidateRect(hwnd, nullptr, false);
        return 0;
    case KeyAction::Nothing: return 0;
    case KeyAction::Close: break;
    }
    return DefaultSaverProc(hwnd, msg, key, lParam);
}

// During a tick, input the saver answers itself waits for the tick's end;
// what goes on to the close rules can only end the saver, so it goes now.
bool WaitsForTickEnd(UINT msg, WPARAM wParam) {
    switch (msg) {
    case WM_KEYDOWN: return ActionOf(wParam) != KeyAction::Close;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: return true;
    default: return false;
    }
}

LRESULT OnMouseMove(HWND hwnd, LPARAM lParam) {
    int x = LOWORD(static_cast<std::uintptr_t>(lParam)), y = HIWORD(static_cast<std::uintptr_t>(lParam));
    if (mouseAnchor.x == kNoMouseAnchor) mouseAnchor = Point{x, y};
    if (std::abs(x - mouseAnchor.x) > kMouseSlack || std::abs(y - mouseAnchor.y) > kMouseSlack) {
        SetCursor(LoadCursor(HCURSOR::Arrow));
        ShowCursor(true);
        RestartSaverTimer(hwnd, kMouseHoldMs);
    }
    return 0;
}

// Takes away the notices of refused writes whose time is up, and waits for
// the next one.
LRESULT OnNoticeTimer(HWND hwnd) {
    const DWORD now = GetTickCount();
    std::int32_t soonest = 0;
    for (const auto& q : quadrantList) {
        if (q->refusedNoticeUntil == 0) continue;
        const auto left = static_cast<std::int32_t>(q->refusedNoticeUntil - now);
        if (left > 0) {
            soonest = soonest == 0 ? left : std::min(soonest, left);
            continue;
        }
        q->refusedNoticeUntil = 0;
        Rect rect{q->left, q->top, q->right, q->bottom};
        InvalidateRect(hwnd, &rect, false);
    }
    if (soonest > 0) {
        SetTimer(hwnd, kNoticeTimerIdentifier, static_cast<UINT>(soonest));
    } else {
        KillTimer(hwnd, kNoticeTimerIdentifier);
    }
    return 0;
}

LRESULT OnClick(HWND hwnd, LPARAM lParam) {
    int x = LOWORD(static_cast<std::uintptr_t>(lParam)), y = HIWORD(static_cast<std::uintptr_t>(lParam));
    ShowCursor(true);
    Quadrant* q = HitTestQuadrant(x, y);
    if (!q) return 0;
    SetCursor(LoadCursor(HCURSOR::Arrow));
    ShowCursor(true);
    // The frame marks the quadrant while its menu is up: repaint it on the way in and out.
    Rect rect{q->left, q->top, q->right, q->bottom};
    q->menuOpen = true;
    InvalidateRect(hwnd, &rect, false);
    RestartSaverTimer(hwnd, kMenuHoldMs);
    const std::shared_ptr<const bool> alive = q->alive;
    ShowQuadrantMenu(hwnd, q, x, y);
    // A close request inside the menu's loop took the window and its quadrants.
    if (!IsWindow(hwnd)) return 0;
    RestartSaverTimer(hwnd, static_cast<UINT>(tickPeriodMs));
    if (!*alive) return 0;
    q->menuOpen = false;
    InvalidateRect(hwnd, &rect, false);
    return 0;
}

LRESULT OnPaint(HWND hwnd) {
    LogEntry(0, "Begin WM_PAINT");
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    SetBkColor(dc, RGB(0, 0, 0));
    SetTextColor(dc, RGB(255, 255, 255));
    if (splashState != 0) {
        PaintSplash(dc, hwnd);
    } else if (quadrantList.empty()) {
        LogEntry(0, " quadrants painted");
    } else {
        int count = PaintCollage(dc);
        LogEntry(count, count >= 11 ? " quadrants painted!!!" : " quadrants painted");
    }
    EndPaint(hwnd, &ps);
    LogEntry(0, "End WM_PAINT");
    return 0;
}

LRESULT OnDestroy(HWND hwnd) {
    // The display took the window away (its parent went) while a tick waited
    // for a picture: the tick ends first, holding its quadrant and the walk,
    // and then the saver closes down from there.
    if (inTimerTick) {
        closePending = true;
        CancelWork();
        return 0;
    }
    // Written under its own spelling; the store matches names without regard
    // to case, so the next start reads it back as "Lines of metadata".
    long status = SHSetValue(settingsKeyPath, "Lines Of Metadata", std::to_string(linesOfMetadata));
    if (status != ERROR_SUCCESS) LogEntry(status, "SHSetValue Lines Of Metadata");
    try {
        TerminateXmpToolkit();
        LogEntry(0, "WM_DESTROY called\n");
        DestroyQuadrants();
        SaveScanState(hwnd);
    } catch (...) {
        LogEntry(0, "WM_DESTROY someone threw");
    }
    PostQuitMessage(0);
    return 0;
}

LRESULT Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (inTimerTick && WaitsForTickEnd(msg, wParam)) {
        inputAfterTick.push_back(MSG{hwnd, msg, wParam, lParam});
        return 0;
    }
    switch (msg) {
    case WM_CREATE: return OnCreate(hwnd);
    case WM_DESTROY: return OnDestroy(hwnd);
    case WM_ACTIVATE:
    case WM_KILLFOCUS:
    case WM_ACTIVATEAPP:
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED:
    case WM_NCACTIVATE:
    case WM_COMMAND:
    case WM_MENUCOMMAND:
        return 0;  // the click menu taking the focus must not end the saver
    case WM_PAINT: return OnPaint(hwnd);
    case WM_DISPLAYCHANGE: return OnDisplayChange(hwnd);
    case WM_CLOSE:
        if (saverTimerId != 0) KillTimer(hwnd, saverTimerId);
        saverTimerId = 0;
        if (inTimerTick) {
            // The person sees the desktop now; the tick stops its decode and ends.
            closePending = true;
            ShowWindow(hwnd, false);
            CancelWork();
            return 0;
        }
        return DefaultSaverProc(hwnd, msg, wParam, lParam);
    case WM_ERASEBKGND:
        if (backgroundErased) return 1;
        backgroundErased = true;
        return DefaultSaverProc(hwnd, msg, wParam, lParam);
    case WM_KEYDOWN: return OnKeyDown(hwnd, msg, wParam, lParam);
    case WM_TIMER: return wParam == kNoticeTimerIdentifier ? OnNoticeTimer(hwnd) : OnTimer(hwnd);
    case WM_MOUSEMOVE: return OnMouseMove(hwnd, lParam);
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: return OnClick(hwnd, lParam);
    default: return DefaultSaverProc(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

void RestartSaverTimer(HWND hwnd, UINT milliseconds) {
    if (saverTimerId != 0) KillTimer(hwnd, saverTimerId);
    saverTimerId = SetTimer(hwnd, kSaverTimerIdentifier, milliseconds);
}

LRESULT InitSaverState(HWND hwnd) {
    StartGdiplus();
    if (!starImage) {
        starImage = std::make_unique<PictureHolder>();
        starImage->LoadFromResource(kStarPngId, ResourceType::Png);
    }
    MeasureWindow(hwnd);
    SpecialFolder(CSIDL_PERSONAL, &myDocumentsPath, &myDocumentsName);
    SpecialFolder(CSIDL_MYPICTURES, &myPicturesPath, &myPicturesName);
    // Threads need no component-model set-up here; the walk is reset directly.
    gFindFileHandle = nullptr;
    SearchPosition = 0;

    imagesPerScreen = static_cast<int>(ReadLongFromPreferences(PreferenceId::ImagesPerScreen, 9));
    long seconds = ReadLongFromPreferences(PreferenceId::Timer, 1);
    long long period = static_cast<long long>(seconds) * 1000;
    // A period beyond what a timer can hold would wrap into nonsense; hold it at the longest one.
    if (period < 0 || period > 0x7FFFFFFF) period = 0x7FFFFFFF;
    tickPeriodMs = period == 0 ? 50 : static_cast<int>(period);
    RestartSaverTimer(hwnd, kFirstTickMs);
    FolderQueue = std::make_unique<std::deque<std::string>>();
    playVideo = Flag(PreferenceId::PlayVideo, 1);
    muteVideo = Flag(PreferenceId::MuteVideo, 0);
    linesOfMetadata = static_cast<int>(ReadLongFromPreferences(PreferenceId::LinesOfMetadata, 1));
    includeSubdirectories = Flag(PreferenceId::IncludeSubdirectories, 1);
    useRankingForDisplay = Flag(PreferenceId::UseRankingForDisplay, 1);
    hideFilesLabeledPrivate = Flag(PreferenceId::HideFilesLabeledPrivate, 1);
    ComputeBandHeight();
    return 0;
}

LRESULT ScreenSaverProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    LogEntry(msg, "Begin ScreenSaverProcW");
    LRESULT result = 0;
    try {
        result = Dispatch(hwnd, msg, wParam, lParam);
    } catch (...) {
        LogEntry(result, "Someone threw main message loop");
        result = -1;
    }
    LogEntry(result, "End  ScreenSaverProcW");
    return result;
}

void ResetSaverState() {
    saverTimerId = 0;
    fillCountdown = 0;
    pauseTicks = 0;
    linesOfMetadata = 1;
    splashState = 1;
    mouseAnchor = Point{kNoMouseAnchor, 0};
    inputAfterTick.clear();
    inTimerTick = closePending = backgroundErased = quadrantsReady = videoStartedThisTick = gridsStale = false;
    DestroyQuadrants();
}
