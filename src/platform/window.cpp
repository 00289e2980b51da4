#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/window_internal.h"

namespace {

struct WindowModel {
    std::unique_ptr<Backend> backend;
    BackendKind kind = BackendKind::Headless;
    std::map<std::string, std::unique_ptr<WNDCLASS>> classes;
    std::vector<std::unique_ptr<Wnd>> records;  // own and foreign windows alive
    std::vector<HWND> own;
    int cursorCount = 0;
    HCURSOR cursor = HCURSOR::Arrow;
};

WindowModel& Model() {
    static WindowModel model;
    return model;
}

Wnd* Find(HWND hwnd) {
    for (auto& r : Model().records)
        if (r.get() == hwnd) return r.get();
    return nullptr;
}

void UpdateCursor() {
    if (auto* b = ActiveBackendImpl()) b->SetCursorVisible(Model().cursorCount >= 0 && Model().cursor != HCURSOR::Null);
}

void MakeSurface(Wnd* w) {
    int width = std::max(1, w->frame.Width()), height = std::max(1, w->frame.Height());
    w->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    w->dc.cr = cairo_create(w->surface);
    w->dc.owner = w;
    w->dc.dpiY = ActiveBackendImpl()->DpiY();
    // The class brush is what an unpainted window shows.
    FillRect(&w->dc, Rect{0, 0, width, height}, w->cls->background);
}

void FreeSurface(Wnd* w) {
    if (w->dc.cr) cairo_destroy(w->dc.cr);
    if (w->surface) cairo_surface_destroy(w->surface);
    w->dc.cr = nullptr;
    w->surface = nullptr;
}

void Forget(Wnd* w) {
    auto& m = Model();
    if (w->parent) {
        auto& siblings = w->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), w), siblings.end());
    }
    m.own.erase(std::remove(m.own.begin(), m.own.end(), w), m.own.end());
    ForgetWindowMessages(w);
    FreeSurface(w);
    if (w->update) cairo_region_destroy(w->update);
    m.records.erase(std::remove_if(m.records.begin(), m.records.end(), [w](auto& r) { return r.get() == w; }),
                    m.records.end());
}

// Tears down a window and its children after WM_DESTROY reached each of them;
// `native` is false when the display has already destroyed it.
void Destroy(Wnd* w, bool native) {
    if (w->destroying) return;
    w->destroying = true;
    SendMessage(w, WM_DESTROY, 0, 0);
    while (!w->children.empty()) {
        Wnd* child = w->children.back();
        if (child->foreign) {
            w->children.pop_back();
            continue;
        }
        Destroy(child, native);
    }
    if (native) ActiveBackendImpl()->DestroyNative(w);
    Forget(w);
}

}  // namespace

Backend* ActiveBackendImpl() { return Model().backend.get(); }
const std::vector<HWND>& OwnWindows() { return Model().own; }

HWND WindowFromNative(unsigned long nativeId) {
    for (auto& r : Model().records)
        if (r->nativeId == nativeId && nativeId != 0) return r.get();
    return nullptr;
}

void WindowGoneNatively(HWND hwnd) {
    if (Find(hwnd) && !hwnd->destroying) Destroy(hwnd, false);
}

bool InitPlatform(std::string* error) {
    auto& m = Model();
    if (m.backend) return true;
    const char* wanted = std::getenv("KALEIDRA_BACKEND");
    if (wanted && std::string(wanted) == "headless") {
        m.backend.reset(CreateHeadlessBackend());
        m.kind = BackendKind::Headless;
    } else {
        m.backend.reset(CreateX11Backend(error));
        m.kind = BackendKind::X11;
    }
    m.cursorCount = 0;
    m.cursor = HCURSOR::Arrow;
    return m.backend != nullptr;
}

BackendKind ActiveBackend() { return Model().kind; }

void ShutdownPlatform() {
    auto& m = Model();
    while (!m.own.empty()) {
        HWND top = m.own.front();
        while (top->parent && !top->parent->foreign) top = top->parent;
        Destroy(top, true);
    }
    m.records.clear();
    m.classes.clear();
    ResetMessageLoop();
    m.backend.reset();
}

bool RegisterClass(const WNDCLASS& wc) {
    auto& classes = Model().classes;
    if (wc.lpszClassName.empty() || !wc.lpfnWndProc || classes.count(wc.lpszClassName)) return false;
    classes[wc.lpszClassName] = std::make_unique<WNDCLASS>(wc);
    return true;
}

bool UnregisterClass(const std::string& name) {
    auto& m = Model();
    auto it = m.classes.find(name);
    if (it == m.classes.end()) return false;
    for (HWND w : m.own)
        if (w->cls == it->second.get()) return false;
    m.classes.erase(it);
    return true;
}

HWND CreateWindowEx(DWORD exStyle, const std::string& className, const std::string& title, DWORD style, int x,
                    int y, int width, int height, HWND parent, void* param) {
    auto& m = Model();
    auto cls = m.classes.find(className);
    if (!m.backend || cls == m.classes.end()) return nullptr;
    if (parent && !Find(parent)) return nullptr;
    auto record = std::make_unique<Wnd>();
    Wnd* w = record.get();
    w->cls = cls->second.get();
    w->title = title;
    w->style = style;
    w->exStyle = exStyle;
    w->parent = parent;
    w->frame = Rect{x, y, x + std::max(0, width), y + std::max(0, height)};
    w->update = cairo_region_create();
    m.records.push_back(std::move(record));
    MakeSurface(w);
    if (!m.backend->CreateNative(w, parent && parent->foreign ? parent->nativeId : 0)) {
        Forget(w);
        return nullptr;
    }
    m.own.push_back(w);
    if (parent) parent->children.push_back(w);
    UpdateCursor();

    CREATESTRUCT cs{param, parent, x, y, width, height, style, exStyle, title, className};
    if (SendMessage(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        Destroy(w, true);
        return nullptr;
    }
    if (style & WS_VISIBLE) {
        SendMessage(w, WM_SHOWWINDOW, 1, 0);
        InvalidateRect(w, nullptr, true);
    }
    return w;
}

bool DestroyWindow(HWND hwnd) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return false;
    Destroy(w, true);
    return true;
}

bool IsWindow(HWND hwnd) {
    Wnd* w = Find(hwnd);
    if (!w) return false;
    if (!w->foreign) return true;
    int width, height;
    return ActiveBackendImpl()->QueryForeign(w->nativeId, &width, &height);
}

HWND GetParent(HWND hwnd) {
    Wnd* w = Find(hwnd);
    return w ? w->parent : nullptr;
}

bool GetClientRect(HWND hwnd, Rect* rect) {
    Wnd* w = Find(hwnd);
    if (!w) return false;
    if (w->foreign) {
        int width, height;
        if (!ActiveBackendImpl()->QueryForeign(w->nativeId, &width, &height)) return false;
        *rect = Rect{0, 0, width, height};
        return true;
    }
    *rect = Rect{0, 0, w->frame.Width(), w->frame.Height()};
    return true;
}

bool ClientToScreen(HWND hwnd, Point* pt) {
    Wnd* w = Find(hwnd);
    if (!w) return false;
    Point origin;
    ActiveBackendImpl()->ScreenToWindow(w, &origin);
    pt->x += origin.x;
    pt->y += origin.y;
    return true;
}

bool MoveWindow(HWND hwnd, int x, int y, int width, int height) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return false;
    bool resized = width != w->frame.Width() || height != w->frame.Height();
    w->frame = Rect{x, y, x + std::max(0, width), y + std::max(0, height)};
    if (resized) {
        FreeSurface(w);
        MakeSurface(w);
        cairo_region_destroy(w->update);
        w->update = cairo_region_create();
        InvalidateRect(w, nullptr, true);
    }
    ActiveBackendImpl()->MoveNative(w);
    return true;
}

bool ShowWindow(HWND hwnd, bool show) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return false;
    bool was = (w->style & WS_VISIBLE) != 0;
    w->style = show ? (w->style | WS_VISIBLE) : (w->style & ~WS_VISIBLE);
    ActiveBackendImpl()->ShowNative(w, show);
    return was;
}

bool IsWindowVisible(HWND hwnd) {
    const Wnd* w = Find(hwnd);
    return w && (w->style & WS_VISIBLE) != 0;
}

HWND WindowFromNativeId(unsigned long id) {
    if (id == 0 || !ActiveBackendImpl()) return nullptr;
    if (HWND known = WindowFromNative(id)) return known;
    int width, height;
    if (!ActiveBackendImpl()->QueryForeign(id, &width, &height)) return nullptr;
    auto record = std::make_unique<Wnd>();
    record->foreign = true;
    record->nativeId = id;
    Model().records.push_back(std::move(record));
    return Model().records.back().get();
}

unsigned long NativeWindowId(HWND hwnd) {
    Wnd* w = Find(hwnd);
    return w ? w->nativeId : 0;
}

HWND GetDesktopWindow() {
    if (!ActiveBackendImpl()) return nullptr;
    const unsigned long root = ActiveBackendImpl()->RootId();
    return root ? WindowFromNativeId(root) : nullptr;
}

HWND FindWindow(const std::string& className, const std::string& title) {
    if (!ActiveBackendImpl()) return nullptr;
    for (HWND w : Model().own)
        if (!w->parent && w->cls->lpszClassName == className && w->title == title) return w;
    unsigned long id = ActiveBackendImpl()->FindTopLevel(className, title);
    return id ? WindowFromNativeId(id) : nullptr;
}

bool SetForegroundWindow(HWND hwnd) {
    Wnd* w = Find(hwnd);
    if (!w) return false;
    ActiveBackendImpl()->Raise(w->nativeId, true);
    return true;
}

HWND GetForegroundWindow() {
    if (!ActiveBackendImpl()) return nullptr;
    unsigned long id = ActiveBackendImpl()->FocusedTopLevel();
    return id ? WindowFromNativeId(id) : nullptr;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return 0;
    return w->cls->lpfnWndProc(w, msg, wParam, lParam);
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return 0;
    switch (msg) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_ERASEBKGND: {
        Rect box;
        HDC dc = reinterpret_cast<HDC>(wParam);
        if (GetClipBox(dc, &box)) FillRect(dc, box, w->cls->background);
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SETCURSOR:
        if (LOWORD(static_cast<std::uintptr_t>(lParam)) == HTCLIENT && w->cls->hCursor != HCURSOR::Null) {
            SetCursor(w->cls->hCursor);
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}

bool InvalidateRect(HWND hwnd, const Rect* rect, bool erase) {
    if (!hwnd) {
        for (HWND w : Model().own) InvalidateRect(w, rect, erase);
        return true;
    }
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return false;
    cairo_rectangle_int_t client{0, 0, w->frame.Width(), w->frame.Height()};
    cairo_rectangle_int_t r = client;
    if (rect) r = {rect->left, rect->top, rect->Width(), rect->Height()};
    if (r.width <= 0 || r.height <= 0) return true;
    cairo_region_t* add = cairo_region_create_rectangle(&r);
    cairo_region_intersect_rectangle(add, &client);
    cairo_region_union(w->update, add);
    cairo_region_destroy(add);
    if (erase) w->eraseWanted = true;
    return true;
}

bool ValidateRect(HWND hwnd, const Rect* rect) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return false;
    if (!rect) {
        cairo_region_destroy(w->update);
        w->update = cairo_region_create();
        w->eraseWanted = false;
        return true;
    }
    cairo_rectangle_int_t r{rect->left, rect->top, rect->Width(), rect->Height()};
    cairo_region_subtract_rectangle(w->update, &r);
    return true;
}

bool GetUpdateRect(HWND hwnd, Rect* rect) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return false;
    cairo_rectangle_int_t e;
    cairo_region_get_extents(w->update, &e);
    if (rect) *rect = Rect{e.x, e.y, e.x + e.width, e.y + e.height};
    return !cairo_region_is_empty(w->update);
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return nullptr;
    cairo_region_t* region = w->update;
    w->update = cairo_region_create();  // invalidations while painting make another WM_PAINT
    bool erase = w->eraseWanted;
    w->eraseWanted = false;

    cairo_t* cr = w->dc.cr;
    cairo_reset_clip(cr);
    for (int i = 0, n = cairo_region_num_rectangles(region); i < n; ++i) {
        cairo_rectangle_int_t r;
        cairo_region_get_rectangle(region, i, &r);
        cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    }
    cairo_clip(cr);
    cairo_rectangle_int_t e;
    cairo_region_get_extents(region, &e);
    ps->hdc = &w->dc;
    ps->rcPaint = Rect{e.x, e.y, e.x + e.width, e.y + e.height};
    ps->fErase = false;
    w->painting = true;
    cairo_region_destroy(region);
    if (erase) ps->fErase = SendMessage(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(&w->dc), 0) == 0;
    return &w->dc;
}

bool EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign || !w->painting) return false;
    w->painting = false;
    cairo_rectangle_int_t r{ps->rcPaint.left, ps->rcPaint.top, ps->rcPaint.Width(), ps->rcPaint.Height()};
    cairo_region_t* painted = cairo_region_create_rectangle(&r);
    cairo_reset_clip(w->dc.cr);
    cairo_surface_flush(w->surface);
    ActiveBackendImpl()->Present(w, painted);
    cairo_region_destroy(painted);
    return true;
}

HDC GetDC(HWND hwnd) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return nullptr;
    if (!w->painting) cairo_reset_clip(w->dc.cr);
    return &w->dc;
}

int ReleaseDC(HWND hwnd, HDC dc) {
    Wnd* w = Find(hwnd);
    return w && !w->foreign && dc == &w->dc ? 1 : 0;
}

void FlushWindow(HWND hwnd) {
    Wnd* w = Find(hwnd);
    if (!w || w->foreign) return;
    cairo_surface_flush(w->surface);
    cairo_rectangle_int_t all{0, 0, w->frame.Width(), w->frame.Height()};
    cairo_region_t* region = cairo_region_create_rectangle(&all);
    ActiveBackendImpl()->Present(w, region);
    cairo_region_destroy(region);
}

int ShowCursor(bool show) {
    Model().cursorCount += show ? 1 : -1;
    UpdateCursor();
    return Model().cursorCount;
}

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR old = Model().cursor;
    Model().cursor = cursor;
    UpdateCursor();
    return old;
}

HCURSOR LoadCursor(HCURSOR standard) { return standard; }

bool GetCursorPos(Point* pt) {
    if (!ActiveBackendImpl()) return false;
    *pt = ActiveBackendImpl()->CursorPos();
    return true;
}

int GetSystemMetrics(int index) {
    Backend* b = ActiveBackendImpl();
    if (!b) return 0;
    Rect virt = b->VirtualScreen();
    switch (index) {
    case SM_CXSCREEN: return GetPrimaryMonitorRect().Width();
    case SM_CYSCREEN: return GetPrimaryMonitorRect().Height();
    case SM_XVIRTUALSCREEN: return virt.left;
    case SM_YVIRTUALSCREEN: return virt.top;
    case SM_CXVIRTUALSCREEN: return virt.Width();
    case SM_CYVIRTUALSCREEN: return virt.Height();
    default: return 0;
    }
}

Rect GetPrimaryMonitorRect() {
    Backend* b = ActiveBackendImpl();
    if (!b) return Rect{};
    std::vector<Rect> monitors;
    std::size_t primary = 0;
    if (b->Monitors(&monitors, &primary) && primary < monitors.size()) return monitors[primary];
    return b->VirtualScreen();
}

void DisplayChanged(unsigned long foreignParent) {
    Backend* b = ActiveBackendImpl();
    if (!b) return;
    const Rect screen = b->VirtualScreen();
    const auto size = static_cast<LPARAM>(MAKELPARAM(static_cast<unsigned>(screen.Width()),
                                                     static_cast<unsigned>(screen.Height())));
    for (HWND w : Model().own) {
        const bool topLevel = !w->parent || w->parent->foreign;
        if (topLevel && (foreignParent == 0 || (w->parent && w->parent->nativeId == foreignParent)))
            PostMessage(w, WM_DISPLAYCHANGE, 24, size);
    }
}

bool EnumDisplayMonitors(std::vector<Rect>* monitors) {
    monitors->clear();
    std::size_t primary = 0;
    if (!ActiveBackendImpl() || !ActiveBackendImpl()->Monitors(monitors, &primary)) return false;
    // Cloned outputs show one picture: one monitor, as the caller must never
    // lay a second, hidden grid under the visible one.
    std::vector<Rect> distinct;
    for (const Rect& monitor : *monitors)
        if (std::find(distinct.begin(), distinct.end(), monitor) == distinct.end()) distinct.push_back(monitor);
    *monitors = std::move(distinct);
    return !monitors->empty();
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    long long product = static_cast<long long>(number) * numerator;
    // Rounds half away from zero, as the Win32 routine does.
    long long half = (denominator < 0 ? -denominator : denominator) / 2;
    bool negative = (product < 0) != (denominator < 0);
    long long a = product < 0 ? -product : product;
    long long d = denominator < 0 ? -static_cast<long long>(denominator) : denominator;
    long long q = (a + half) / d;
    long long result = negative ? -q : q;
    if (result > 0x7FFFFFFF || result < -0x7FFFFFFFLL - 1) return -1;
    return static_cast<int>(result);
}
