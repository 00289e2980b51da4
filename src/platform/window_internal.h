// The window model's own records, shared by its parts and its backends.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/gdi_internal.h"
#include "platform/window.h"

struct Wnd {
    const WNDCLASS* cls = nullptr;  // null for a foreign window
    std::string title;
    DWORD style = 0, exStyle = 0;
    HWND parent = nullptr;
    std::vector<HWND> children;
    Rect frame;  // relative to the parent's client area, or the screen
    bool foreign = false;
    unsigned long nativeId = 0;
    void* native = nullptr;  // the backend's data
    cairo_surface_t* surface = nullptr;
    DeviceContext dc;
    cairo_region_t* update = nullptr;
    bool eraseWanted = false;
    bool painting = false;
    bool destroying = false;
};

Backend* ActiveBackendImpl();
// Windows of this process, in creation order, foreign ones excluded.
const std::vector<HWND>& OwnWindows();
HWND WindowFromNative(unsigned long nativeId);

// Backends deliver what the user does through these.
void QueueInput(const MSG& msg);
// Called when the display destroyed a window behind the program's back
// (a preview whose parent went away).
void WindowGoneNatively(HWND hwnd);
// The screen or its monitors changed (foreignParent 0), or the window of
// another program with that native id changed its size: posts
// WM_DISPLAYCHANGE to the windows it concerns.
void DisplayChanged(unsigned long foreignParent);

// Sees every message DispatchMessage hands out; the offscreen display lets tests watch with it.
extern std::function<void(const MSG&)> gDispatchObserver;

// GetMessage without the generated messages: the next posted message or
// input, waiting for one; paints and timers stay due. False on WM_QUIT.
bool GetQueuedMessage(MSG* msg);

// Message-loop state that the window model resets when a window goes.
void ForgetWindowMessages(HWND hwnd);
void ResetMessageLoop();
