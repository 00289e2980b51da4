// The window model: classes, windows, the message queue, timers, painting and
// the cursor, with Win32's semantics. One GUI thread; PostMessage alone may be
// called from other threads.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/messages.h"
#include "platform/types.h"

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASS {
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr;
    int iconResource = 0;
    HCURSOR hCursor = HCURSOR::Null;
    COLORREF background = 0;  // the class brush, a solid colour
    std::string lpszClassName;
};

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;
    Point pt;
};

struct PAINTSTRUCT {
    HDC hdc = nullptr;
    bool fErase = false;
    Rect rcPaint;
};

struct CREATESTRUCT {
    void* lpCreateParams = nullptr;
    HWND hwndParent = nullptr;
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0, exStyle = 0;
    std::string lpszName, lpszClass;
};

// Which display the process talks to. Chosen once, before the first window.
enum class BackendKind { X11, Headless };
// Connects to the backend that the environment asks for: headless when
// KALEIDRA_BACKEND=headless, else the X display named by $DISPLAY. On failure
// `error` says what could not be reached.
bool InitPlatform(std::string* error);
BackendKind ActiveBackend();
// Closes every window and the display connection; the next InitPlatform starts afresh.
void ShutdownPlatform();

bool RegisterClass(const WNDCLASS& wc);
bool UnregisterClass(const std::string& name);
HWND CreateWindowEx(DWORD exStyle, const std::string& className, const std::string& title, DWORD style,
                    int x, int y, int width, int height, HWND parent, void* param);
bool DestroyWindow(HWND hwnd);
bool IsWindow(HWND hwnd);
HWND GetParent(HWND hwnd);
bool GetClientRect(HWND hwnd, Rect* rect);
bool ClientToScreen(HWND hwnd, Point* pt);
bool MoveWindow(HWND hwnd, int x, int y, int width, int height);
bool ShowWindow(HWND hwnd, bool show);
bool IsWindowVisible(HWND hwnd);
// A window of this display that the program did not create, by its native id
// (an X11 window id on x11). Null when the id names no window.
HWND WindowFromNativeId(unsigned long id);
unsigned long NativeWindowId(HWND hwnd);
// The root window of the display; null where the display has none to draw into.
HWND GetDesktopWindow();
HWND FindWindow(const std::string& className, const std::string& title);
bool SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);  // any thread
void PostQuitMessage(int exitCode);
bool GetMessage(MSG* msg, HWND filter, UINT first, UINT last);
bool PeekMessage(MSG* msg, HWND filter, UINT first, UINT last, UINT remove);
bool TranslateMessage(const MSG* msg);
LRESULT DispatchMessage(const MSG* msg);

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs);
bool KillTimer(HWND hwnd, UINT_PTR id);

bool InvalidateRect(HWND hwnd, const Rect* rect, bool erase);
bool ValidateRect(HWND hwnd, const Rect* rect);
bool GetUpdateRect(HWND hwnd, Rect* rect);
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
bool EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
HDC GetDC(HWND hwnd);  // the window's own context (every class owns its context)
int ReleaseDC(HWND hwnd, HDC dc);
// Pushes what was drawn through GetDC outside a paint to the screen.
void FlushWindow(HWND hwnd);

int ShowCursor(bool show);  // the display counter after the change
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR LoadCursor(HCURSOR standard);
bool GetCursorPos(Point* pt);

int GetSystemMetrics(int index);
// The monitors' rectangles in virtual-screen coordinates, in the display's order.
bool EnumDisplayMonitors(std::vector<Rect>* monitors);
// The primary monitor's rectangle, wherever it lies in the virtual screen;
// SM_CXSCREEN and SM_CYSCREEN give its size.
Rect GetPrimaryMonitorRect();
// WM_DISPLAYCHANGE reaches every window whose parent is not a window of this
// process (top-level windows, and windows inside another program's window)
// when the screen's size or its monitors change, and, for a window inside
// another program's window, when that window's size changes. Bursts of
// changes arrive as one message.

DWORD GetTickCount();
void Sleep(DWORD ms);
int MulDiv(int number, int numerator, int denominator);

// SIGTERM, SIGINT and SIGHUP post WM_CLOSE to this window, so a saver stopped
// by its caller still closes in order. Null stops forwarding.
void PostCloseOnTerminationSignals(HWND hwnd);
