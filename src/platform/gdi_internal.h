// What the window model needs to know of a drawing context.
#pragma once

#include <cairo.h>

#include "platform/types.h"

struct DeviceContext {
    cairo_t* cr = nullptr;
    COLORREF bkColor = 0xFFFFFF;
    COLORREF textColor = 0x000000;
    int dpiY = 96;
    HWND owner = nullptr;
};

// Restores the default state when a window's own context is handed out again.
void ResetDC(DeviceContext* dc);
