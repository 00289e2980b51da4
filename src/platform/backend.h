// The seam between the window model and a display: x11 talks to an X server,
// headless keeps everything in memory for tests. Only the window model calls it.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "platform/types.h"

class Backend {
public:
    virtual ~Backend() = default;

    // Makes the native side of a window of this process: its back buffer
    // exists already; the backend shows it. `foreignParent` is the native id
    // of a parent the program did not create, 0 otherwise.
    virtual bool CreateNative(HWND hwnd, unsigned long foreignParent) = 0;
    virtual void DestroyNative(HWND hwnd) = 0;
    virtual void MoveNative(HWND hwnd) = 0;
    virtual void ShowNative(HWND hwnd, bool show) = 0;
    // Copies the painted region of the back buffer to the screen.
    virtual void Present(HWND hwnd, const cairo_region_t* region) = 0;
    // Whether the id names a window of the display; its size when it does.
    virtual bool QueryForeign(unsigned long id, int* width, int* height) = 0;
    virtual unsigned long FindTopLevel(const std::string& className, const std::string& title) = 0;
    virtual void Raise(unsigned long nativeId, bool focus) = 0;
    virtual unsigned long FocusedTopLevel() = 0;
    virtual void ScreenToWindow(HWND hwnd, Point* origin) = 0;

    // primary: the index of the primary monitor in monitors.
    virtual bool Monitors(std::vector<Rect>* monitors, std::size_t* primary) = 0;
    virtual unsigned long RootId() = 0;  // 0 when the display has no root window
    virtual Rect VirtualScreen() = 0;
    virtual int DpiY() = 0;
    virtual Point CursorPos() = 0;
    virtual void SetCursorVisible(bool visible) = 0;

    // Milliseconds of the backend's clock (real or virtual).
    virtual std::uint64_t NowMs() = 0;
    virtual void SleepMs(DWORD ms) = 0;
    // Blocks until something happens on the main context or `timeoutMs` (-1:
    // no limit) passes; a headless display moves its clock instead of waiting.
    virtual void Wait(int timeoutMs) = 0;
};

Backend* CreateX11Backend(std::string* error);
Backend* CreateHeadlessBackend();
