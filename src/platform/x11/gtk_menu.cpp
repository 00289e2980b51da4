// The popup menu on x11: a GTK menu anchored to the owner window at the
// point, above the full-screen saver, usable with keyboard and mouse.
#include <gtk/gtk.h>

#include "platform/menu_internal.h"
#include "platform/modal_loop.h"
#include "platform/x11/gtk_setup.h"

namespace {

struct Tracking {
    UINT chosen = 0;
    bool done = false;
    guint idle = 0;  // the pending decision after "deactivate"
};

void Finish(Tracking* tracking) {
    tracking->done = true;
    WakeModalLoop();
}

void OnActivate(GtkMenuItem* item, gpointer data) {
    auto* tracking = static_cast<Tracking*>(data);
    tracking->chosen = static_cast<UINT>(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "kaleidra-id")));
}

void OnSelectionDone(GtkMenuShell*, gpointer data) { Finish(static_cast<Tracking*>(data)); }

// An item's "activate" can follow the menu's "deactivate": decide once the
// main loop is idle again, after both.
void OnDeactivate(GtkMenuShell*, gpointer data) {
    auto* tracking = static_cast<Tracking*>(data);
    if (tracking->idle) return;
    tracking->idle = g_idle_add(
        [](gpointer d) -> gboolean {
            auto* t = static_cast<Tracking*>(d);
            t->idle = 0;
            Finish(t);
            return G_SOURCE_REMOVE;
        },
        data);
}

GtkWidget* BuildItem(const MenuItem& item, Tracking* tracking) {
    if (item.flags & MF_SEPARATOR) return gtk_separator_menu_item_new();
    GtkWidget* widget;
    if (item.flags & MF_CHECKED) {
        widget = gtk_check_menu_item_new_with_label(item.text.c_str());
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), TRUE);
    } else {
        widget = gtk_menu_item_new_with_label(item.text.c_str());
    }
    gtk_widget_set_sensitive(widget, item.Selectable());
    g_object_set_data(G_OBJECT(widget), "kaleidra-id", GUINT_TO_POINTER(static_cast<guint>(item.id)));
    g_signal_connect(widget, "activate", G_CALLBACK(OnActivate), tracking);
    return widget;
}

}  // namespace

UINT TrackGtkMenu(const Menu& menu, Point screen, HWND owner) {
    if (!EnsureGtk()) return 0;
    GdkWindow* anchor = ForeignGdkWindow(NativeWindowId(owner));
    if (!anchor) return 0;
    Tracking tracking;
    GtkWidget* widget = gtk_menu_new();
    for (const MenuItem& item : menu.items) gtk_menu_shell_append(GTK_MENU_SHELL(widget), BuildItem(item, &tracking));
    gtk_widget_show_all(widget);
    g_signal_connect(widget, "selection-done", G_CALLBACK(OnSelectionDone), &tracking);
    g_signal_connect(widget, "deactivate", G_CALLBACK(OnDeactivate), &tracking);

    Point origin;
    ClientToScreen(owner, &origin);
    GdkRectangle at{screen.x - origin.x, screen.y - origin.y, 1, 1};
    // GTK places a menu well only for a triggering event; the click that
    // opened it arrived on the window model's own connection, so stand one in.
    GdkEvent* trigger = gdk_event_new(GDK_BUTTON_PRESS);
    trigger->button.window = GDK_WINDOW(g_object_ref(anchor));
    trigger->button.time = GDK_CURRENT_TIME;
    trigger->button.button = 1;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(anchor));
    gdk_event_set_device(trigger, gdk_seat_get_pointer(seat));
    gtk_menu_popup_at_rect(GTK_MENU(widget), anchor, &at, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST, trigger);
    gdk_event_free(trigger);

    // The window model's loop runs on GTK's main context, so both keep flowing.
    if (gtk_widget_get_visible(widget)) RunModalLoop(tracking.done);
    g_signal_handlers_disconnect_by_data(widget, &tracking);
    if (tracking.idle) g_source_remove(tracking.idle);
    gtk_widget_destroy(widget);
    g_object_unref(anchor);
    return tracking.chosen;
}
