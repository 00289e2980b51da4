#include "metadata/xmp_container.h"

#include "metadata/container_formats.h"

namespace {

bool StartsWith(std::string_view bytes, std::string_view magic) { return bytes.substr(0, magic.size()) == magic; }

}  // namespace

ContainerFormat SniffContainer(std::string_view bytes) {
    using namespace std::string_view_literals;
    if (StartsWith(bytes, "\xFF\xD8\xFF"sv)) return ContainerFormat::Jpeg;
    if (StartsWith(bytes, "II*\0"sv) || StartsWith(bytes, "MM\0*"sv)) return ContainerFormat::Tiff;
    if (StartsWith(bytes, "\x89PNG\r\n\x1A\n"sv)) return ContainerFormat::Png;
    if (bytes.size() >= 12 && StartsWith(bytes, "RIFF"sv) && bytes.substr(8, 4) == "WEBP"sv) return ContainerFormat::WebP;
    return ContainerFormat::Unknown;
}

ContainerMetadata ReadContainer(ContainerFormat format, std::string_view bytes) {
    switch (format) {
    case ContainerFormat::Jpeg: return ReadJpegContainer(bytes);
    case ContainerFormat::Tiff: return ReadTiffContainer(bytes);
    case ContainerFormat::Png: return ReadPngContainer(bytes);
    case ContainerFormat::WebP: return ReadWebPContainer(bytes);
    case ContainerFormat::Unknown: break;
    }
    throw ContainerError("not a picture format whose metadata can be read");
}

std::string RewriteContainer(ContainerFormat format, std::string_view bytes, std::string_view packet, int orientation) {
    switch (format) {
    case ContainerFormat::Jpeg: return RewriteJpegContainer(bytes, packet, orientation);
    case ContainerFormat::Tiff: return RewriteTiffContainer(bytes, packet, orientation);
    case ContainerFormat::Png: return RewritePngContainer(bytes, packet, orientation);
    case ContainerFormat::WebP: return RewriteWebPContainer(bytes, packet, orientation);
    case ContainerFormat::Unknown: break;
    }
    throw ContainerError("not a picture format whose metadata can be written");
}
