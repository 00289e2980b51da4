#include "imaging/drawing.h"

#include <glib.h>
#include <pango/pangocairo.h>

#include "imaging/graphics_state.h"
#include "imaging/picture_holder.h"
#include "platform/gdi.h"
#include "platform/messages.h"

void PaintScaled(cairo_t* cr, cairo_surface_t* surface, const Rect& target, cairo_operator_t op,
                 cairo_filter_t filter) {
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    // A surface in an error state would put the whole context into error.
    if (!cr || target.Empty() || w <= 0 || h <= 0 || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return;
    cairo_save(cr);
    cairo_rectangle(cr, target.left, target.top, target.Width(), target.Height());
    cairo_translate(cr, target.left, target.top);
    cairo_scale(cr, static_cast<double>(target.Width()) / w, static_cast<double>(target.Height()) / h);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_pattern_t* source = cairo_get_source(cr);
    cairo_pattern_set_filter(source, filter);
    // Filtering at the border samples outside the picture; padding keeps the
    // edge pixels opaque instead of fading them into the background.
    cairo_pattern_set_extend(source, CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, op);
    cairo_fill(cr);
    cairo_restore(cr);
}

void PictureHolder::DrawInto(HDC dc, int left, int top, int right, int bottom) const {
    const Rect target{left, top, right, bottom};
    // GOOD averages over the covered pixels when shrinking photos and copies
    // exactly at the picture's own size.
    if (cairo_surface_t* image = Image()) {
        if (GraphicsRunning()) PaintScaled(DcCairo(dc), image, target, CAIRO_OPERATOR_OVER, CAIRO_FILTER_GOOD);
    } else if (bitmapHandle_) {
        // A bitmap on its own is copied as it stands, replacing what was there.
        PaintScaled(DcCairo(dc), bitmapHandle_, target, CAIRO_OPERATOR_SOURCE, CAIRO_FILTER_GOOD);
    }
}

void FillBlack(HDC dc, const Rect& rect) {
    SetBkColor(dc, RGB(0, 0, 0));
    FillRect(dc, rect, GetBkColor(dc));
}

void DrawTextLine(HDC dc, std::string_view text, int x, int y, int points) {
    cairo_t* cr = DcCairo(dc);
    if (!cr || text.empty() || !GraphicsRunning()) return;
    // File names need not be UTF-8; drawing is the one place they get replaced.
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));

    cairo_save(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoContext* context = pango_layout_get_context(layout);
    // Points become pixels at the context's own resolution.
    pango_cairo_context_set_resolution(context, GetDeviceCaps(dc, LOGPIXELSY));
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_layout_context_changed(layout);

    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family_static(font, "serif");
    pango_font_description_set_size(font, points * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, valid, -1);

    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);

    g_object_unref(layout);
    cairo_restore(cr);
    g_free(valid);
}
