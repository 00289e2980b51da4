#include "imaging/picture_holder.h"

#include <utility>

#include "imaging/graphics_state.h"
#include "imaging/my_istream.h"

namespace {

void DestroySurface(cairo_surface_t*& surface) {
    if (surface) cairo_surface_destroy(surface);
    surface = nullptr;
}

// The holder owns the bitmap and never draws on it, so its image can share
// the pixels; a turn makes a surface of its own.
cairo_surface_t* ImageFromBitmap(cairo_surface_t* bitmap) {
    if (!GraphicsRunning() || cairo_surface_status(bitmap) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_get_type(bitmap) != CAIRO_SURFACE_TYPE_IMAGE) {
        return nullptr;
    }
    return cairo_surface_reference(bitmap);
}

cairo_status_t ReadFromStream(void* closure, unsigned char* data, unsigned int length) {
    ULONG read = 0;
    const HRESULT hr = static_cast<MyIStream*>(closure)->Read(data, length, &read);
    return hr == S_OK && read == length ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_READ_ERROR;
}

cairo_surface_t* DecodePng(MyIStream* stream) {
    if (!GraphicsRunning()) return nullptr;
    cairo_surface_t* image = cairo_image_surface_create_from_png_stream(ReadFromStream, stream);
    if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) return image;
    cairo_surface_destroy(image);
    return nullptr;
}

// The image turned clockwise by 90, 180 or 270 degrees, in the same pixel
// format; null for any other angle or when no surface can be made.
cairo_surface_t* TurnedImage(cairo_surface_t* image, int degrees) {
    const int w = cairo_image_surface_get_width(image);
    const int h = cairo_image_surface_get_height(image);
    cairo_matrix_t turn;  // maps the source's pixels onto the turned surface
    switch (degrees) {
        case 90: cairo_matrix_init(&turn, 0, 1, -1, 0, h, 0); break;
        case 180: cairo_matrix_init(&turn, -1, 0, 0, -1, w, h); break;
        case 270: cairo_matrix_init(&turn, 0, -1, 1, 0, 0, w); break;
        default: return nullptr;
    }
    const bool sideways = degrees != 180;
    cairo_surface_t* turned =
        cairo_image_surface_create(cairo_image_surface_get_format(image), sideways ? h : w, sideways ? w : h);
    if (cairo_surface_status(turned) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(turned);
        return nullptr;
    }
    cairo_t* cr = cairo_create(turned);
    cairo_transform(cr, &turn);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    return turned;
}

std::uint32_t ImageDimension(cairo_surface_t* image, int (*dimension)(cairo_surface_t*)) {
    return image ? static_cast<std::uint32_t>(dimension(image)) : 0;
}

}  // namespace

PictureHolder::PictureHolder() { StartGdiplus(); }

PictureHolder::~PictureHolder() { ReleasePicture(); }

void PictureHolder::SetBitmap(cairo_surface_t* bitmap) {
    StartGdiplus();
    ReleasePicture();
    if (!bitmap) return;
    bitmapHandle_ = bitmap;
    bitmapImage_ = ImageFromBitmap(bitmap);
}

void PictureHolder::LoadFromResource(int id, ResourceType type) {
    const auto bytes = LoadResourceBytes(type, id);
    if (bytes.empty()) return;
    auto* stream = new MyIStream(bytes.data(), bytes.size());
    cairo_surface_t* image = DecodePng(stream);
    stream->Release();
    DestroySurface(resourceImage_);
    resourceImage_ = image;
}

void PictureHolder::RotateBy(std::int32_t degrees) {
    if (!bitmapImage_) return;
    // The remainder keeps the dividend's sign: below -360 no turn matches.
    const auto normalised = static_cast<int>((static_cast<std::int64_t>(degrees) + 360) % 360);
    if (cairo_surface_t* turned = TurnedImage(bitmapImage_, normalised)) {
        cairo_surface_destroy(bitmapImage_);
        bitmapImage_ = turned;
    }
}

std::uint32_t PictureHolder::GetWidth() const { return ImageDimension(Image(), cairo_image_surface_get_width); }

std::uint32_t PictureHolder::GetHeight() const { return ImageDimension(Image(), cairo_image_surface_get_height); }

bool PictureHolder::HasPicture() const {
    return ImageDimension(resourceImage_, cairo_image_surface_get_height) != 0 ||
           ImageDimension(bitmapImage_, cairo_image_surface_get_height) != 0 || bitmapHandle_ != nullptr;
}

void PictureHolder::ReleasePicture() {
    DestroySurface(resourceImage_);
    DestroySurface(bitmapImage_);
    DestroySurface(bitmapHandle_);
}

void PictureHolder::Swap(PictureHolder& other) noexcept {
    std::swap(bitmapHandle_, other.bitmapHandle_);
    std::swap(bitmapImage_, other.bitmapImage_);
    std::swap(resourceImage_, other.resourceImage_);
}
