#include <cstdint>
#include <optional>
#include <vector>

#include "metadata/container_formats.h"
#include "metadata/exif_orientation.h"

namespace {

using namespace std::string_view_literals;

constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::string_view kXmpHeader = "http://ns.adobe.com/xap/1.0/\0"sv;
constexpr std::string_view kExifHeader = "Exif\0\0"sv;
constexpr std::size_t kMaxSegmentLength = 0xFFFF;  // the length field counts itself

struct Segment {
    std::size_t start = 0;    // of the marker's 0xFF
    std::size_t payload = 0;  // after the length field
    std::size_t end = 0;
    std::uint8_t marker = 0;

    std::string_view Payload(std::string_view bytes) const { return bytes.substr(payload, end - payload); }
    bool Is(std::string_view bytes, std::uint8_t type, std::string_view header) const {
        return marker == type && Payload(bytes).starts_with(header);
    }
};

std::uint8_t Byte(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

// The metadata segments from SOI to SOS. What follows SOS is entropy-coded
// data with markers of its own and is never looked into.
std::vector<Segment> MetadataSegments(std::string_view bytes) {
    if (bytes.size() < 2 || Byte(bytes, 0) != 0xFF || Byte(bytes, 1) != 0xD8) throw ContainerError("not a JPEG file");
    std::vector<Segment> segments;
    std::size_t at = 2;
    for (;;) {
        if (at >= bytes.size()) throw ContainerError("JPEG file ends before its image data");
        if (Byte(bytes, at) != 0xFF) throw ContainerError("JPEG marker expected");
        // Any number of 0xFF may pad the space before a marker.
        while (at < bytes.size() && Byte(bytes, at) == 0xFF) ++at;
        if (at >= bytes.size()) throw ContainerError("JPEG file ends inside a marker");
        const std::uint8_t marker = Byte(bytes, at);
        const std::size_t start = at - 1;
        ++at;
        if (marker == kStartOfScan) return segments;
        if (marker == kEndOfImage || marker == 0x00) throw ContainerError("JPEG file without image data");
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length field
        if (bytes.size() - at < 2) throw ContainerError("JPEG file ends inside a segment length");
        const std::size_t length = std::size_t{Byte(bytes, at)} << 8 | Byte(bytes, at + 1);
        if (length < 2 || length > bytes.size() - at) throw ContainerError("JPEG segment runs past the file's end");
        segments.push_back({start, at + 2, at + length, marker});
        at += length;
    }
}

const Segment* FirstWith(const std::vector<Segment>& segments, std::string_view bytes, std::string_view header) {
    for (const Segment& segment : segments) {
        if (segment.Is(bytes, kApp1, header)) return &segment;
    }
    return nullptr;
}

std::optional<TiffOrientation> ExifOrientation(const Segment* exif, std::string_view bytes) {
    if (!exif) return std::nullopt;
    return FindTiffOrientation(exif->Payload(bytes).substr(kExifHeader.size()));
}

std::string XmpSegment(std::string_view packet) {
    const std::size_t length = 2 + kXmpHeader.size() + packet.size();
    if (length > kMaxSegmentLength) throw ContainerError("XMP packet too large for one JPEG segment");
    std::string segment = "\xFF\xE1";
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    return segment.append(kXmpHeader).append(packet);
}

}  // namespace

ContainerMetadata ReadJpegContainer(std::string_view bytes) {
    const std::vector<Segment> segments = MetadataSegments(bytes);
    const Segment* xmp = FirstWith(segments, bytes, kXmpHeader);
    const auto orientation = ExifOrientation(FirstWith(segments, bytes, kExifHeader), bytes);
    return {.hasPacket = xmp != nullptr,
            .packet = xmp ? std::string(xmp->Payload(bytes).substr(kXmpHeader.size())) : std::string(),
            .exifOrientation = orientation ? orientation->value : 0};
}

std::string RewriteJpegContainer(std::string_view bytes, std::string_view packet, int orientation) {
    const std::vector<Segment> segments = MetadataSegments(bytes);
    const std::string xmp = XmpSegment(packet);
    std::string out(bytes);
    const Segment* exif = FirstWith(segments, bytes, kExifHeader);
    if (const auto where = ExifOrientation(exif, bytes); where && orientation != 0) {
        SetTiffOrientation(out.data() + exif->payload + kExifHeader.size(), *where, orientation);
    }
    if (const Segment* old = FirstWith(segments, bytes, kXmpHeader)) {
        return out.replace(old->start, old->end - old->start, xmp);
    }
    // Readers expect JFIF first and Exif right after it; the packet follows them.
    std::size_t insertAt = 2;
    for (const Segment& segment : segments) {
        if (segment.marker != kApp0 && !segment.Is(bytes, kApp1, kExifHeader)) break;
        insertAt = segment.end;
    }
    return out.insert(insertAt, xmp);
}
