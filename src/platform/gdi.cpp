#include "platform/gdi.h"

#include <cmath>

#include "platform/gdi_internal.h"

namespace {

void SetSource(cairo_t* cr, COLORREF c) {
    cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

}  // namespace

void ResetDC(DeviceContext* dc) {
    dc->bkColor = 0xFFFFFF;
    dc->textColor = 0x000000;
}

cairo_t* DcCairo(HDC dc) { return dc ? dc->cr : nullptr; }

COLORREF SetBkColor(HDC dc, COLORREF color) {
    if (!dc) return CLR_INVALID;
    COLORREF old = dc->bkColor;
    dc->bkColor = color;
    return old;
}

COLORREF GetBkColor(HDC dc) { return dc ? dc->bkColor : CLR_INVALID; }

COLORREF SetTextColor(HDC dc, COLORREF color) {
    if (!dc) return CLR_INVALID;
    COLORREF old = dc->textColor;
    dc->textColor = color;
    return old;
}

COLORREF GetTextColor(HDC dc) { return dc ? dc->textColor : CLR_INVALID; }

int GetDeviceCaps(HDC dc, int index) {
    constexpr int kLogPixelsY = 90;
    if (!dc || index != kLogPixelsY) return 0;
    return dc->dpiY;
}

bool GetClipBox(HDC dc, Rect* box) {
    if (!dc || !dc->cr) return false;
    double x1, y1, x2, y2;
    cairo_clip_extents(dc->cr, &x1, &y1, &x2, &y2);
    *box = Rect{static_cast<int>(std::floor(x1)), static_cast<int>(std::floor(y1)),
                static_cast<int>(std::ceil(x2)), static_cast<int>(std::ceil(y2))};
    return !box->Empty();
}

bool RectVisible(HDC dc, const Rect& rect) {
    if (!dc || !dc->cr || rect.Empty()) return false;
    cairo_rectangle_list_t* list = cairo_copy_clip_rectangle_list(dc->cr);
    bool visible = false;
    if (list->status == CAIRO_STATUS_SUCCESS) {
        for (int i = 0; i < list->num_rectangles && !visible; ++i) {
            const cairo_rectangle_t& r = list->rectangles[i];
            visible = rect.left < r.x + r.width && r.x < rect.right && rect.top < r.y + r.height && r.y < rect.bottom;
        }
    } else {
        // A clip that is not a set of rectangles: fall back to its bounding box.
        Rect box;
        visible = GetClipBox(dc, &box) && rect.left < box.right && box.left < rect.right && rect.top < box.bottom &&
                  box.top < rect.bottom;
    }
    cairo_rectangle_list_destroy(list);
    return visible;
}

void FillRect(HDC dc, const Rect& rect, COLORREF color) {
    if (!dc || !dc->cr || rect.Empty()) return;
    cairo_save(dc->cr);
    SetSource(dc->cr, color);
    cairo_rectangle(dc->cr, rect.left, rect.top, rect.Width(), rect.Height());
    cairo_fill(dc->cr);
    cairo_restore(dc->cr);
}

void FrameRect(HDC dc, const Rect& rect, COLORREF color) {
    if (!dc || !dc->cr || rect.Empty()) return;
    cairo_save(dc->cr);
    SetSource(dc->cr, color);
    // Four one-pixel strips, so the frame covers whole pixels just inside the rectangle.
    cairo_rectangle(dc->cr, rect.left, rect.top, rect.Width(), 1);
    cairo_rectangle(dc->cr, rect.left, rect.bottom - 1, rect.Width(), 1);
    cairo_rectangle(dc->cr, rect.left, rect.top, 1, rect.Height());
    cairo_rectangle(dc->cr, rect.right - 1, rect.top, 1, rect.Height());
    cairo_fill(dc->cr);
    cairo_restore(dc->cr);
}

HDC CreateSurfaceDC(cairo_surface_t* surface) {
    auto* dc = new DeviceContext;
    dc->cr = cairo_create(surface);
    return dc;
}

void DeleteSurfaceDC(HDC dc) {
    if (!dc) return;
    cairo_destroy(dc->cr);
    delete dc;
}
