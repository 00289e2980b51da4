#include "imaging/graphics_state.h"

#include <cairo.h>

GdiplusState gdiplusState;

namespace {

std::int32_t ProbeGraphics() {
    // A cairo older than the one built against may lack what drawing relies on.
    if (cairo_version() < CAIRO_VERSION) return kGraphicsUnsupportedVersion;
    cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    const bool usable = cairo_surface_status(probe) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(probe);
    return usable ? kGraphicsOk : kGraphicsGenericError;
}

}  // namespace

void StartGdiplus() {
    if (gdiplusState.status == kGraphicsNotInitialized) gdiplusState.status = ProbeGraphics();
}

void StopGdiplus() { gdiplusState.status = kGraphicsNotInitialized; }

bool GraphicsRunning() { return gdiplusState.status == kGraphicsOk; }
