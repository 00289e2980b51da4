// A first loader: decodes the file to fit the target size, no metadata yet.
#include "metadata/extract_preview.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>

void ExtractPreview(const std::string& path, std::int32_t targetWidth, std::int32_t targetHeight,
                    PictureHolder& picture, PictureMetadata& info) {
    info = PictureMetadata{};
    if (targetWidth <= 0 || targetHeight <= 0) return;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file_at_size(path.c_str(), targetWidth, targetHeight, nullptr);
    if (!pixbuf) return;
    int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    cairo_surface_t* bitmap = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(bitmap);
    gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    g_object_unref(pixbuf);
    picture.SetBitmap(bitmap);
}
