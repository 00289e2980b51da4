#include "platform/x11/gtk_setup.h"

#include <gdk/gdkx.h>

#include <clocale>

bool EnsureGtk() {
    static const bool ready = [] {
        // Window ids on the command line are X11 ids: GTK must talk X11 too.
        gdk_set_allowed_backends("x11");
        bool ok = gtk_init_check(nullptr, nullptr);
        std::setlocale(LC_NUMERIC, "C");
        return ok;
    }();
    return ready;
}

GdkWindow* ForeignGdkWindow(unsigned long xid) {
    if (!xid || !EnsureGtk()) return nullptr;
    GdkDisplay* display = gdk_display_get_default();
    gdk_x11_display_error_trap_push(display);
    GdkWindow* window = gdk_x11_window_foreign_new_for_display(display, static_cast<Window>(xid));
    gdk_x11_display_error_trap_pop_ignored(display);
    return window;
}
