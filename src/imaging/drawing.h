// The drawing primitives the saver paints with. Each draws into a context
// the caller owns for one paint; PictureHolder::DrawInto is the third.
#pragma once

#include <cairo.h>

#include <string_view>

#include "platform/types.h"

// The whole surface scaled onto exactly the target rectangle of the context
// (null: nothing) through the filter, edges kept opaque. A surface in an
// error state draws nothing.
void PaintScaled(cairo_t* cr, cairo_surface_t* surface, const Rect& target, cairo_operator_t op,
                 cairo_filter_t filter);

// Sets the context's background colour to black (it stays so) and fills the
// rectangle with it.
void FillBlack(HDC dc, const Rect& rect);

// One line of UTF-8 text in opaque white, the generic serif family at the
// given size in points, anti-aliased, with its top-left corner at (x, y).
// Nothing wraps it and nothing but the context's own clip cuts it. Bytes
// that are not UTF-8 are drawn as replacement characters. Draws nothing
// while the graphics machinery is not running.
void DrawTextLine(HDC dc, std::string_view text, int x, int y, int points);
