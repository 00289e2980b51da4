#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/headless/headless.h"
#include "platform/window_internal.h"

namespace headless {
namespace {

struct Scheduled {
    std::uint64_t at;
    unsigned long order;
    std::function<void()> action;
};

struct State {
    Config config;
    std::uint64_t now = 0;
    std::vector<Scheduled> scheduled;
    unsigned long order = 0;
    std::function<void()> idle;
    Point cursor;
    bool cursorVisible = true;
    std::map<unsigned long, std::pair<int, int>> foreign;
    unsigned long nextId = 0x400001;
    std::map<HWND, int> presents;
    unsigned long focused = 0;
};

State& S() {
    static State state;
    return state;
}

bool RunDueActions() {
    auto& s = S();
    bool ran = false;
    for (;;) {
        auto it = std::min_element(s.scheduled.begin(), s.scheduled.end(), [](auto& a, auto& b) {
            return a.at != b.at ? a.at < b.at : a.order < b.order;
        });
        if (it == s.scheduled.end() || it->at > s.now) return ran;
        auto action = std::move(it->action);
        s.scheduled.erase(it);
        action();
        ran = true;
    }
}

class HeadlessBackend : public Backend {
public:
    bool CreateNative(HWND hwnd, unsigned long) override {
        hwnd->nativeId = S().nextId++;
        return true;
    }
    void DestroyNative(HWND hwnd) override {
        S().presents.erase(hwnd);
        if (S().focused == hwnd->nativeId) S().focused = 0;
    }
    void MoveNative(HWND) override {}
    void ShowNative(HWND, bool) override {}
    void Present(HWND hwnd, const cairo_region_t*) override { ++S().presents[hwnd]; }
    bool QueryForeign(unsigned long id, int* width, int* height) override {
        auto it = S().foreign.find(id);
        if (it == S().foreign.end()) return false;
        *width = it->second.first;
        *height = it->second.second;
        return true;
    }
    unsigned long FindTopLevel(const std::string&, const std::string&) override { return 0; }
    void Raise(unsigned long id, bool focus) override {
        if (focus) S().focused = id;
    }
    unsigned long FocusedTopLevel() override { return S().focused; }
    void ScreenToWindow(HWND hwnd, Point* origin) override {
        for (HWND w = hwnd; w && !w->foreign; w = w->parent) {
            origin->x += w->frame.left;
            origin->y += w->frame.top;
        }
    }
    bool Monitors(std::vector<Rect>* monitors, std::size_t* primary) override {
        *monitors = S().config.monitors;
        *primary = 0;
        return true;
    }
    unsigned long RootId() override { return 0; }
    Rect VirtualScreen() override {
        Rect all{};
        for (size_t i = 0; i < S().config.monitors.size(); ++i) {
            const Rect& m = S().config.monitors[i];
            all = i == 0 ? m
                         : Rect{std::min(all.left, m.left), std::min(all.top, m.top), std::max(all.right, m.right),
                                std::max(all.bottom, m.bottom)};
        }
        return all;
    }
    int DpiY() override { return S().config.dpiY; }
    Point CursorPos() override { return S().cursor; }
    void SetCursorVisible(bool visible) override { S().cursorVisible = visible; }
    std::uint64_t NowMs() override { return S().now; }
    void SleepMs(DWORD ms) override { Advance(ms); }

    void Wait(int timeoutMs) override {
        auto& s = S();
        if (RunDueActions()) return;
        // Another thread (a video player) may have something for the loop.
        if (g_main_context_pending(nullptr)) {
            g_main_context_iteration(nullptr, FALSE);
            return;
        }
        std::uint64_t next = UINT64_MAX;
        if (timeoutMs >= 0) next = s.now + static_cast<std::uint64_t>(timeoutMs);
        for (auto& a : s.scheduled) next = std::min(next, a.at);
        if (next != UINT64_MAX) {
            s.now = std::max(s.now, next);
            RunDueActions();
            return;
        }
        if (s.idle) {
            s.idle();
            return;
        }
        std::fprintf(stderr, "headless: the message loop would wait forever\n");
        std::abort();
    }
};

}  // namespace

void Configure(const Config& config) { S().config = config; }
std::uint64_t Now() { return S().now; }
void Advance(std::uint64_t ms) {
    S().now += ms;
    RunDueActions();
}
void At(std::uint64_t atMs, std::function<void()> action) {
    S().scheduled.push_back(Scheduled{atMs, S().order++, std::move(action)});
}
void OnIdle(std::function<void()> action) { S().idle = std::move(action); }

void Key(HWND hwnd, WPARAM vk, bool alt) {
    QueueInput(MSG{hwnd, static_cast<UINT>(alt ? WM_SYSKEYDOWN : WM_KEYDOWN), vk, alt ? (1 | (1 << 29)) : 1});
}

void MouseMove(HWND hwnd, int x, int y) {
    Point origin;
    ClientToScreen(hwnd, &origin);
    S().cursor = Point{origin.x + x, origin.y + y};
    QueueInput(MSG{hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<unsigned>(x), static_cast<unsigned>(y))});
}

void Button(HWND hwnd, UINT message, int x, int y) {
    QueueInput(MSG{hwnd, message, 0, MAKELPARAM(static_cast<unsigned>(x), static_cast<unsigned>(y))});
}

void SetCursorPos(Point screen) { S().cursor = screen; }
bool CursorVisible() { return S().cursorVisible; }

unsigned long AddForeignWindow(int width, int height) {
    unsigned long id = S().nextId++;
    S().foreign[id] = {width, height};
    return id;
}

void RemoveForeignWindow(unsigned long id) { S().foreign.erase(id); }

void TakeAwayWindow(HWND hwnd) { WindowGoneNatively(hwnd); }

void ObserveDispatch(std::function<void(const MSG&)> observer) { gDispatchObserver = std::move(observer); }

cairo_surface_t* Surface(HWND hwnd) { return hwnd ? hwnd->surface : nullptr; }

bool WritePng(HWND hwnd, const std::string& path) {
    return hwnd && hwnd->surface && cairo_surface_write_to_png(hwnd->surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

std::uint32_t PixelAt(HWND hwnd, int x, int y) {
    cairo_surface_t* s = Surface(hwnd);
    cairo_surface_flush(s);
    auto* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    return reinterpret_cast<std::uint32_t*>(data + y * stride)[x] & 0xFFFFFF;
}

int PresentCount(HWND hwnd) { return S().presents[hwnd]; }

}  // namespace headless

Backend* CreateHeadlessBackend() {
    auto& s = headless::S();
    // A new display: the clock keeps running forward, everything else starts over.
    s.scheduled.clear();
    s.idle = nullptr;
    s.presents.clear();
    s.cursorVisible = true;
    s.focused = 0;
    gDispatchObserver = nullptr;
    return new headless::HeadlessBackend;
}
