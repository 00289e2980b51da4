// GTK for the x11 display's dialogs and menus: one initialisation per
// process, and windows of other clients as GTK sees them.
#pragma once

#include <gtk/gtk.h>

// Opens GTK on the X display named by $DISPLAY, once; later calls answer the
// first call's outcome. Afterwards LC_NUMERIC is "C" again, which GTK's locale
// set-up changed and the video library depends on.
bool EnsureGtk();

// A window of any X client (the window model's own windows included, since
// they live on another connection) as a GdkWindow, for anchoring menus and
// dialogs to it. Null when the id names no window. The caller unrefs it.
GdkWindow* ForeignGdkWindow(unsigned long xid);
