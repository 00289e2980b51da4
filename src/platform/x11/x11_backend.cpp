// The X11 display: one Xlib connection, watched as a source of GLib's main
// context. Windows are drawn into back buffers and copied to the screen at
// the end of each paint.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <cairo-xlib.h>
#include <glib.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/modal_loop.h"
#include "platform/window_internal.h"
#include "platform/x11/keymap.h"

namespace {

int gLastXError = 0;

int RecordXError(Display*, XErrorEvent* event) {
    // Windows of other programs may vanish at any moment; a failed request is
    // answered by the caller's check, never by ending the program.
    gLastXError = event->error_code;
    return 0;
}

struct NativeWindow {
    Window window = 0;
    cairo_surface_t* target = nullptr;
};

struct XSource {
    GSource base;
    Display* display;
    GPollFD poll;
    class X11Backend* backend;
};

class X11Backend : public Backend {
public:
    explicit X11Backend(Display* display) : dpy_(display) {
        screen_ = DefaultScreen(dpy_);
        root_ = RootWindow(dpy_, screen_);
        XSetErrorHandler(RecordXError);
        static const char kEmpty[1] = {0};
        Pixmap empty = XCreateBitmapFromData(dpy_, root_, kEmpty, 1, 1);
        XColor black{};
        blankCursor_ = XCreatePixmapCursor(dpy_, empty, empty, &black, &black, 0, 0);
        XFreePixmap(dpy_, empty);
        arrowCursor_ = XCreateFontCursor(dpy_, 68 /* XC_left_ptr */);
        // The root's children: windows that appear above the full-screen
        // saver. Its size and RandR: the screen and its monitors changing.
        XSelectInput(dpy_, root_, StructureNotifyMask | SubstructureNotifyMask);
        int errorBase = 0;
        if (XRRQueryExtension(dpy_, &randrEventBase_, &errorBase)) {
            XRRSelectInput(dpy_, root_, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
        } else {
            randrEventBase_ = -1;
        }
        AttachSource();
    }

    ~X11Backend() override {
        for (auto& [parent, timer] : pendingChanges_) g_source_remove(timer);
        g_source_destroy(&source_->base);
        g_source_unref(&source_->base);
        XFreeCursor(dpy_, blankCursor_);
        XFreeCursor(dpy_, arrowCursor_);
        XCloseDisplay(dpy_);
    }

    bool CreateNative(HWND hwnd, unsigned long foreignParent) override {
        bool topLevel = !hwnd->parent;
        Window parent = hwnd->parent ? static_cast<Window>(hwnd->parent->nativeId) : root_;
        if (foreignParent) parent = static_cast<Window>(foreignParent);
        XSetWindowAttributes attrs{};
        attrs.background_pixel = BlackPixel(dpy_, screen_);
        // A window drawn over the root stands outside the window manager, as
        // a full-screen one does.
        attrs.override_redirect = (topLevel && (hwnd->style & WS_POPUP)) || parent == root_ ? True : False;
        attrs.event_mask = ExposureMask | StructureNotifyMask;
        // A disabled window selects no input, so X hands its clicks and keys to the parent.
        if (!(hwnd->style & WS_DISABLED))
            attrs.event_mask |= KeyPressMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
        attrs.cursor = cursorVisible_ ? arrowCursor_ : blankCursor_;
        gLastXError = 0;
        Window w = XCreateWindow(dpy_, parent, hwnd->frame.left, hwnd->frame.top,
                                 static_cast<unsigned>(std::max(1, hwnd->frame.Width())),
                                 static_cast<unsigned>(std::max(1, hwnd->frame.Height())), 0, CopyFromParent,
                                 InputOutput, CopyFromParent,
                                 CWBackPixel | CWOverrideRedirect | CWEventMask | CWCursor, &attrs);
        XSync(dpy_, False);
        if (!w || gLastXError) return false;
        hwnd->nativeId = w;
        auto* native = new NativeWindow;
        native->window = w;
        native->target = cairo_xlib_surface_create(dpy_, w, DefaultVisual(dpy_, screen_),
                                                   std::max(1, hwnd->frame.Width()), std::max(1, hwnd->frame.Height()));
        hwnd->native = native;
        // Names that let a second start find the running saver by class and title.
        XClassHint hint{const_cast<char*>("kaleidra"), const_cast<char*>(hwnd->cls->lpszClassName.c_str())};
        XSetClassHint(dpy_, w, &hint);
        XStoreName(dpy_, w, hwnd->title.c_str());
        XChangeProperty(dpy_, w, XInternAtom(dpy_, "_NET_WM_NAME", False), XInternAtom(dpy_, "UTF8_STRING", False), 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(hwnd->title.data()),
                        static_cast<int>(hwnd->title.size()));
        if (hwnd->style & WS_VISIBLE) Map(hwnd, topLevel);
        // A daemon resizes its window when the screen changes.
        if (foreignParent && parent != root_) XSelectInput(dpy_, parent, StructureNotifyMask);
        XFlush(dpy_);
        return true;
    }

    void DestroyNative(HWND hwnd) override {
        auto* native = static_cast<NativeWindow*>(hwnd->native);
        if (!native) return;
        cairo_surface_destroy(native->target);
        XDestroyWindow(dpy_, native->window);
        XFlush(dpy_);
        delete native;
        hwnd->native = nullptr;
    }

    void MoveNative(HWND hwnd) override {
        auto* native = static_cast<NativeWindow*>(hwnd->native);
        if (!native) return;
        int width = std::max(1, hwnd->frame.Width()), height = std::max(1, hwnd->frame.Height());
        XMoveResizeWindow(dpy_, native->window, hwnd->frame.left, hwnd->frame.top, static_cast<unsigned>(width),
                          static_cast<unsigned>(height));
        cairo_xlib_surface_set_size(native->target, width, height);
        XFlush(dpy_);
    }

    void ShowNative(HWND hwnd, bool show) override {
        if (show)
            Map(hwnd, !hwnd->parent);
        else
            XUnmapWindow(dpy_, static_cast<Window>(hwnd->nativeId));
        XFlush(dpy_);
    }

    void Present(HWND hwnd, const cairo_region_t* region) override {
        auto* native = static_cast<NativeWindow*>(hwnd->native);
        if (!native || !hwnd->surface) return;
        cairo_t* cr = cairo_create(native->target);
        for (int i = 0, n = cairo_region_num_rectangles(region); i < n; ++i) {
            cairo_rectangle_int_t r;
            cairo_region_get_rectangle(region, i, &r);
            cairo_rectangle(cr, r.x, r.y, r.width, r.height);
        }
        cairo_clip(cr);
        cairo_set_source_surface(cr, hwnd->surface, 0, 0);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(native->target);
        XFlush(dpy_);
    }

    bool QueryForeign(unsigned long id, int* width, int* height) override {
        XWindowAttributes attrs;
        gLastXError = 0;
        Status ok = XGetWindowAttributes(dpy_, static_cast<Window>(id), &attrs);
        XSync(dpy_, False);
        if (!ok || gLastXError) return false;
        *width = attrs.width;
        *height = attrs.height;
        return true;
    }

    unsigned long FindTopLevel(const std::string& className, const std::string& title) override {
        Window rootReturn, parentReturn, *children = nullptr;
        unsigned count = 0;
        unsigned long found = 0;
        if (!XQueryTree(dpy_, root_, &rootReturn, &parentReturn, &children, &count)) return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            XClassHint hint{};
            gLastXError = 0;
            if (!XGetClassHint(dpy_, children[i], &hint)) continue;
            bool sameClass = hint.res_class && className == hint.res_class;
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            char* name = nullptr;
            if (sameClass && XFetchName(dpy_, children[i], &name) && name) {
                if (title == name) found = children[i];
                XFree(name);
            }
        }
        if (children) XFree(children);
        return found;
    }

    void Raise(unsigned long id, bool focus) override {
        Window w = static_cast<Window>(id);
        gLastXError = 0;
        XRaiseWindow(dpy_, w);
        XWindowAttributes attrs;
        if (focus && XGetWindowAttributes(dpy_, w, &attrs) && attrs.map_state == IsViewable)
            XSetInputFocus(dpy_, w, RevertToParent, CurrentTime);
        XSync(dpy_, False);
    }

    unsigned long FocusedTopLevel() override {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(dpy_, &focus, &revert);
        if (focus == None || focus == PointerRoot) return 0;
        // The foreground window is the top-level window that holds the focus.
        for (;;) {
            Window rootReturn, parent, *children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(dpy_, focus, &rootReturn, &parent, &children, &count)) return 0;
            if (children) XFree(children);
            if (parent == root_ || parent == 0) return focus;
            focus = parent;
        }
    }

    void ScreenToWindow(HWND hwnd, Point* origin) override {
        Window child;
        int x = 0, y = 0;
        XTranslateCoordinates(dpy_, static_cast<Window>(hwnd->nativeId), root_, 0, 0, &x, &y, &child);
        origin->x += x;
        origin->y += y;
    }

    bool Monitors(std::vector<Rect>* monitors, std::size_t* primary) override {
        monitors->clear();
        *primary = 0;
        int count = 0;
        if (XRRMonitorInfo* info = XRRGetMonitors(dpy_, root_, True, &count)) {
            for (int i = 0; i < count; ++i) {
                if (info[i].primary) *primary = static_cast<std::size_t>(i);
                monitors->push_back(Rect{info[i].x, info[i].y, info[i].x + info[i].width, info[i].y + info[i].height});
            }
            XRRFreeMonitors(info);
        }
        // Servers with several screens joined by Xinerama report one RandR monitor.
        if (monitors->size() <= 1 && XineramaIsActive(dpy_)) {
            if (XineramaScreenInfo* heads = XineramaQueryScreens(dpy_, &count)) {
                if (count > 1) {
                    monitors->clear();
                    *primary = 0;
                    for (int i = 0; i < count; ++i)
                        monitors->push_back(Rect{heads[i].x_org, heads[i].y_org, heads[i].x_org + heads[i].width,
                                                 heads[i].y_org + heads[i].height});
                }
                XFree(heads);
            }
        }
        if (monitors->empty()) monitors->push_back(VirtualScreen());
        return true;
    }

    unsigned long RootId() override { return root_; }

    Rect VirtualScreen() override { return Rect{0, 0, DisplayWidth(dpy_, screen_), DisplayHeight(dpy_, screen_)}; }

    int DpiY() override {
        if (const char* dpi = XGetDefault(dpy_, "Xft", "dpi")) {
            int value = std::atoi(dpi);
            if (value > 0) return value;
        }
        return 96;
    }

    Point CursorPos() override {
        Window rootReturn, child;
        int rootX = 0, rootY = 0, winX, winY;
        unsigned mask;
        XQueryPointer(dpy_, root_, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask);
        return Point{rootX, rootY};
    }

    void SetCursorVisible(bool visible) override {
        if (visible == cursorVisible_) return;
        cursorVisible_ = visible;
        for (HWND w : OwnWindows()) XDefineCursor(dpy_, static_cast<Window>(w->nativeId), visible ? arrowCursor_ : blankCursor_);
        XFlush(dpy_);
    }

    std::uint64_t NowMs() override { return static_cast<std::uint64_t>(g_get_monotonic_time() / 1000); }
    void SleepMs(DWORD ms) override { g_usleep(static_cast<gulong>(ms) * 1000); }

    void Wait(int timeoutMs) override {
        GSource* timeout = nullptr;
        if (timeoutMs >= 0) {
            timeout = g_timeout_source_new(static_cast<guint>(timeoutMs));
            g_source_set_callback(timeout, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
            g_source_attach(timeout, nullptr);
        }
        g_main_context_iteration(nullptr, TRUE);
        if (timeout) {
            g_source_destroy(timeout);
            g_source_unref(timeout);
        }
    }

    void DrainEvents() {
        while (XPending(dpy_)) {
            XEvent ev;
            XNextEvent(dpy_, &ev);
            Handle(ev);
        }
    }

private:
    void Map(HWND hwnd, bool topLevel) {
        Window w = static_cast<Window>(hwnd->nativeId);
        if (!topLevel) {
            XMapWindow(dpy_, w);
            return;
        }
        XMapRaised(dpy_, w);
        // Focus can only go to a viewable window: wait for the map to be done.
        XSync(dpy_, False);
        for (int i = 0; i < 100; ++i) {
            XWindowAttributes attrs;
            if (XGetWindowAttributes(dpy_, w, &attrs) && attrs.map_state == IsViewable) break;
            g_usleep(10000);
        }
    }

    // Several events make one change (a new size comes with RandR's notice
    // and the root's configure): the windows hear of it once they settle.
    void ChangeSettles(unsigned long foreignParent) {
        if (pendingChanges_.contains(foreignParent)) return;
        struct Pending {
            X11Backend* backend;
            unsigned long parent;
        };
        pendingChanges_[foreignParent] = g_timeout_add_full(
            G_PRIORITY_DEFAULT, kSettleMs,
            [](gpointer data) {
                auto* pending = static_cast<Pending*>(data);
                pending->backend->pendingChanges_.erase(pending->parent);
                DisplayChanged(pending->parent);
                return G_SOURCE_REMOVE;
            },
            new Pending{this, foreignParent}, [](gpointer data) { delete static_cast<Pending*>(data); });
    }

    // Nothing but a menu or dialog of this process may cover the full-screen
    // saver; whatever else is mapped or raised over it goes back below it.
    void KeepOnTop(Window other) {
        if (ModalLoopDepth() > 0 || WindowFromNative(other)) return;
        for (HWND w : OwnWindows()) {
            if (!w->parent && (w->exStyle & WS_EX_TOPMOST) && (w->style & WS_VISIBLE))
                XRaiseWindow(dpy_, static_cast<Window>(w->nativeId));
        }
        XFlush(dpy_);
    }

    // Events about windows that are not this process's own: the root and
    // its children, and the windows of others that hold one of ours.
    bool HandleOthers(XEvent& ev) {
        if (randrEventBase_ >= 0 && (ev.type == randrEventBase_ + RRScreenChangeNotify ||
                                     ev.type == randrEventBase_ + RRNotify)) {
            XRRUpdateConfiguration(&ev);
            ChangeSettles(0);
            return true;
        }
        if (ev.xany.window == root_) {
            switch (ev.type) {
            case ConfigureNotify:
                if (ev.xconfigure.window == root_) {
                    XRRUpdateConfiguration(&ev);
                    ChangeSettles(0);
                } else {
                    KeepOnTop(ev.xconfigure.window);
                }
                break;
            case MapNotify: KeepOnTop(ev.xmap.window); break;
            default: break;
            }
            return true;
        }
        HWND hwnd = WindowFromNative(ev.xany.window);
        if (hwnd && hwnd->foreign && ev.type == ConfigureNotify) {
            // A move or a restacking changes nothing inside it.
            for (HWND w : OwnWindows()) {
                if (w->parent == hwnd && (w->frame.Width() != ev.xconfigure.width ||
                                          w->frame.Height() != ev.xconfigure.height)) {
                    ChangeSettles(ev.xconfigure.window);
                }
            }
        }
        return !hwnd || hwnd->foreign;
    }

    void Handle(XEvent& ev) {
        if (HandleOthers(ev)) return;
        HWND hwnd = WindowFromNative(ev.xany.window);
        switch (ev.type) {
        case Expose: {
            Rect r{ev.xexpose.x, ev.xexpose.y, ev.xexpose.x + ev.xexpose.width, ev.xexpose.y + ev.xexpose.height};
            InvalidateRect(hwnd, &r, false);
            break;
        }
        case KeyPress: {
            KeySym ks = XLookupKeysym(&ev.xkey, 0);
            WPARAM vk = VirtualKeyFromKeysym(ks);
            bool alt = (ev.xkey.state & Mod1Mask) != 0 || vk == VK_MENU;
            LPARAM lParam = 1 | (static_cast<LPARAM>(ev.xkey.keycode & 0xFF) << 16) | (alt ? (1 << 29) : 0);
            bool sys = alt || vk == VK_F1 + 9;  // F10 is a system key, as Alt is
            QueueInput(MSG{hwnd, sys ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, lParam});
            break;
        }
        case ButtonPress: {
            UINT message = 0;
            switch (ev.xbutton.button) {
            case 1: message = WM_LBUTTONDOWN; break;
            case 2: message = WM_MBUTTONDOWN; break;
            case 3: message = WM_RBUTTONDOWN; break;
            case 4:
            case 5: {
                int delta = ev.xbutton.button == 4 ? 120 : -120;
                QueueInput(MSG{hwnd, WM_MOUSEWHEEL, static_cast<WPARAM>(MAKELPARAM(0, static_cast<unsigned>(delta))),
                               MAKELPARAM(static_cast<unsigned>(ev.xbutton.x_root), static_cast<unsigned>(ev.xbutton.y_root))});
                return;
            }
            default: return;
            }
            QueueInput(MSG{hwnd, message, KeyState(ev.xbutton.state),
                           MAKELPARAM(static_cast<unsigned>(ev.xbutton.x), static_cast<unsigned>(ev.xbutton.y))});
            break;
        }
        case ButtonRelease: {
            UINT message = ev.xbutton.button == 1 ? WM_LBUTTONUP : ev.xbutton.button == 2 ? WM_MBUTTONUP
                         : ev.xbutton.button == 3 ? WM_RBUTTONUP : 0;
            if (message)
                QueueInput(MSG{hwnd, message, KeyState(ev.xbutton.state),
                               MAKELPARAM(static_cast<unsigned>(ev.xbutton.x), static_cast<unsigned>(ev.xbutton.y))});
            break;
        }
        case MotionNotify:
            QueueInput(MSG{hwnd, WM_MOUSEMOVE, KeyState(ev.xmotion.state),
                           MAKELPARAM(static_cast<unsigned>(ev.xmotion.x), static_cast<unsigned>(ev.xmotion.y))});
            break;
        case DestroyNotify:
            if (ev.xdestroywindow.window == ev.xdestroywindow.event && !hwnd->destroying) {
                // The parent of a preview went away and took the window with it.
                auto* native = static_cast<NativeWindow*>(hwnd->native);
                if (native) {
                    cairo_surface_destroy(native->target);
                    delete native;
                    hwnd->native = nullptr;
                }
                WindowGoneNatively(hwnd);
            }
            break;
        default: break;
        }
    }

    static WPARAM KeyState(unsigned state) {
        WPARAM k = 0;
        if (state & Button1Mask) k |= MK_LBUTTON;
        if (state & Button2Mask) k |= MK_MBUTTON;
        if (state & Button3Mask) k |= MK_RBUTTON;
        if (state & ShiftMask) k |= MK_SHIFT;
        if (state & ControlMask) k |= MK_CONTROL;
        return k;
    }

    void AttachSource() {
        static GSourceFuncs funcs = {
            [](GSource* s, gint* timeout) -> gboolean {
                *timeout = -1;
                return XPending(reinterpret_cast<XSource*>(s)->display) > 0;
            },
            [](GSource* s) -> gboolean {
                auto* xs = reinterpret_cast<XSource*>(s);
                return (xs->poll.revents & G_IO_IN) || XPending(xs->display) > 0;
            },
            [](GSource* s, GSourceFunc, gpointer) -> gboolean {
                reinterpret_cast<XSource*>(s)->backend->DrainEvents();
                return G_SOURCE_CONTINUE;
            },
            nullptr, nullptr, nullptr};
        source_ = reinterpret_cast<XSource*>(g_source_new(&funcs, sizeof(XSource)));
        source_->display = dpy_;
        source_->backend = this;
        source_->poll.fd = ConnectionNumber(dpy_);
        source_->poll.events = G_IO_IN | G_IO_HUP | G_IO_ERR;
        g_source_add_poll(&source_->base, &source_->poll);
        g_source_set_can_recurse(&source_->base, TRUE);
        g_source_attach(&source_->base, nullptr);
    }

    Display* dpy_;
    int screen_ = 0;
    Window root_ = 0;
    Cursor blankCursor_ = 0, arrowCursor_ = 0;
    bool cursorVisible_ = true;
    XSource* source_ = nullptr;
    int randrEventBase_ = -1;
    static constexpr guint kSettleMs = 250;
    std::map<unsigned long, guint> pendingChanges_;  // by foreign parent, 0 for the screen
};

}  // namespace

Backend* CreateX11Backend(std::string* error) {
    const char* name = std::getenv("DISPLAY");
    Display* dpy = XOpenDisplay(name);
    if (!dpy) {
        if (error) *error = std::string("cannot open X display \"") + (name ? name : "") + "\"";
        return nullptr;
    }
    return new X11Backend(dpy);
}
