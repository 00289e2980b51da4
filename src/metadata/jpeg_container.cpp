#include <cstdint>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "metadata/container_formats.h"
#include "metadata/exif_orientation.h"

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::string_view kXmpHeader = "http://ns.adobe.com/xap/1.0/\0"sv;
constexpr std::string_view kExifHeader = "Exif\0\0"sv;
constexpr std::uint16_t kXResolutionTag = 0x011A;
constexpr std::uint16_t kYResolutionTag = 0x011B;
constexpr std::uint16_t kResolutionUnitTag = 0x0128;
constexpr std::uint16_t kYCbCrPositioningTag = 0x0213;
constexpr std::uint16_t kShortType = 3;
constexpr std::uint16_t kRationalType = 5;
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

// A whole APP1 segment: marker, length and payload.
std::string App1Segment(std::string_view header, std::string_view payload, const char* what) {
    const std::size_t length = 2 + header.size() + payload.size();
    if (length > kMaxSegmentLength) throw ContainerError(std::string(what) + " too large for one JPEG segment");
    std::string segment = "\xFF\xE1";
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    return segment.append(header).append(payload);
}

// The Exif segment with its orientation set, or gained in a copy of IFD0
// that stays inside the segment. Every other offset in the block is
// relative to its TIFF header and keeps pointing where it did.
std::string ExifSegment(const Segment& exif, std::string_view bytes, int orientation) {
    std::string tiff(exif.Payload(bytes).substr(kExifHeader.size()));
    if (const auto where = FindTiffOrientation(tiff)) {
        SetTiffOrientation(tiff.data(), *where, orientation);
    } else {
        AddTiffOrientation(tiff, orientation);
    }
    return App1Segment(kExifHeader, tiff, "Exif block");
}

// The orientation with the resolution entries every Exif IFD0 must carry,
// taken from the JFIF density so no reader is told another print size; the
// 72 dpi readers assume without one.
std::string NewExifSegment(const std::vector<Segment>& segments, std::string_view bytes, int orientation) {
    std::uint32_t unit = 2;  // inches
    std::uint32_t x = 72;
    std::uint32_t y = 72;
    for (const Segment& segment : segments) {
        const std::string_view jfif = segment.Payload(bytes);
        if (segment.marker != kApp0 || !jfif.starts_with("JFIF\0"sv) || jfif.size() < 12) continue;
        const std::uint32_t jfifX = std::uint32_t{Byte(jfif, 8)} << 8 | Byte(jfif, 9);
        const std::uint32_t jfifY = std::uint32_t{Byte(jfif, 10)} << 8 | Byte(jfif, 11);
        // JFIF counts units from 0 (an aspect ratio only), Exif from 1.
        if (Byte(jfif, 7) <= 2 && jfifX != 0 && jfifY != 0) {
            unit = Byte(jfif, 7) + 1u;
            x = jfifX;
            y = jfifY;
        }
        break;
    }
    // The rationals come first so that IFD0 ends the block and each entry
    // added grows it where it stands.
    std::string tiff = "MM\0*\0\0\0\x18"s + std::string(16, '\0') + "\0\0\0\0\0\0"s;
    PutTiffNumber(tiff, 8, x, 4, true);
    PutTiffNumber(tiff, 12, 1, 4, true);
    PutTiffNumber(tiff, 16, y, 4, true);
    PutTiffNumber(tiff, 20, 1, 4, true);
    const auto add = [&tiff](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        const std::size_t entry = AddFirstDirectoryEntry(tiff, tag, type);
        PutTiffNumber(tiff, entry + 4, 1, 4, true);
        PutTiffNumber(tiff, entry + 8, value, type == kShortType ? 2 : 4, true);
    };
    add(kXResolutionTag, kRationalType, 8);
    add(kYResolutionTag, kRationalType, 16);
    add(kResolutionUnitTag, kShortType, unit);
    add(kYCbCrPositioningTag, kShortType, 1);  // centred, as JFIF samples chroma
    AddTiffOrientation(tiff, orientation);
    return App1Segment(kExifHeader, tiff, "Exif block");
}

struct Edit {
    std::size_t start = 0;
    std::size_t end = 0;
    std::string with;
};

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
    // Readers expect JFIF first and Exif right after it; the packet follows them.
    std::size_t insertAt = 2;
    for (const Segment& segment : segments) {
        if (segment.marker != kApp0 && !segment.Is(bytes, kApp1, kExifHeader)) break;
        insertAt = segment.end;
    }
    std::vector<Edit> edits;
    const Segment* exif = FirstWith(segments, bytes, kExifHeader);
    if (orientation != 0) {
        if (exif) {
            edits.push_back({exif->start, exif->end, ExifSegment(*exif, bytes, orientation)});
        } else {
            edits.push_back({insertAt, insertAt, NewExifSegment(segments, bytes, orientation)});
        }
    }
    if (const Segment* old = FirstWith(segments, bytes, kXmpHeader)) {
        edits.push_back({old->start, old->end, App1Segment(kXmpHeader, packet, "XMP packet")});
    } else {
        edits.push_back({insertAt, insertAt, App1Segment(kXmpHeader, packet, "XMP packet")});
    }
    // Applied from the file's end so each edit's offsets still hold; of two
    // insertions at one place the Exif block comes first.
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.start < b.start; });
    std::string out(bytes);
    for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit) {
        out.replace(edit->start, edit->end - edit->start, edit->with);
    }
    return out;
}
