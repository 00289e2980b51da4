// Drawing contexts: a cairo context on a window's surface (or on any image
// surface), with the GDI state the program relies on.
#pragma once

#include <cairo.h>

#include "platform/types.h"

constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// The cairo context to draw with; its clip is the paint region.
cairo_t* DcCairo(HDC dc);

COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF GetBkColor(HDC dc);
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetTextColor(HDC dc);

// LOGPIXELSY is the only index asked for.
int GetDeviceCaps(HDC dc, int index);

// True when any part of the rectangle lies inside the context's clip.
bool RectVisible(HDC dc, const Rect& rect);
// The bounding box of the clip; false when nothing can be drawn.
bool GetClipBox(HDC dc, Rect* box);

void FillRect(HDC dc, const Rect& rect, COLORREF color);
// A one-pixel frame just inside the rectangle, as FrameRect draws it.
void FrameRect(HDC dc, const Rect& rect, COLORREF color);

// A context over an image surface the caller owns, for offscreen drawing and tests.
HDC CreateSurfaceDC(cairo_surface_t* surface);
void DeleteSurfaceDC(HDC dc);
