#include <cstdint>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "metadata/container_formats.h"
#include "metadata/exif_orientation.h"
#include "metadata/jpeg_segments.h"

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

constexpr std::uint16_t kXResolutionTag = 0x011A;
constexpr std::uint16_t kYResolutionTag = 0x011B;
constexpr std::uint16_t kResolutionUnitTag = 0x0128;
constexpr std::uint16_t kYCbCrPositioningTag = 0x0213;
constexpr std::size_t kMaxSegmentLength = 0xFFFF;  // the length field counts itself

std::uint8_t Byte(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

std::optional<TiffOrientation> ExifOrientation(const JpegSegment* exif, std::string_view bytes) {
    if (!exif) return std::nullopt;
    return FindTiffOrientation(exif->Payload(bytes).substr(kJpegExifHeader.size()));
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
std::string ExifSegment(const JpegSegment& exif, std::string_view bytes, int orientation) {
    std::string tiff(exif.Payload(bytes).substr(kJpegExifHeader.size()));
    if (const auto where = FindTiffOrientation(tiff)) {
        SetTiffOrientation(tiff.data(), *where, orientation);
    } else {
        AddTiffOrientation(tiff, orientation);
    }
    return App1Segment(kJpegExifHeader, tiff, "Exif block");
}

// The orientation with the resolution entries every Exif IFD0 must carry,
// taken from the JFIF density so no reader is told another print size; the
// 72 dpi readers assume without one.
std::string NewExifSegment(const std::vector<JpegSegment>& segments, std::string_view bytes, int orientation) {
    std::uint32_t unit = 2;  // inches
    std::uint32_t x = 72;
    std::uint32_t y = 72;
    for (const JpegSegment& segment : segments) {
        const std::string_view jfif = segment.Payload(bytes);
        if (segment.marker != kJpegApp0 || !jfif.starts_with("JFIF\0"sv) || jfif.size() < 12) continue;
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
        PutTiffNumber(tiff, entry + 8, value, type == kTiffShortType ? 2 : 4, true);
    };
    add(kXResolutionTag, kTiffRationalType, 8);
    add(kYResolutionTag, kTiffRationalType, 16);
    add(kResolutionUnitTag, kTiffShortType, unit);
    add(kYCbCrPositioningTag, kTiffShortType, 1);  // centred, as JFIF samples chroma
    AddTiffOrientation(tiff, orientation);
    return App1Segment(kJpegExifHeader, tiff, "Exif block");
}

struct Edit {
    std::size_t start = 0;
    std::size_t end = 0;
    std::string with;
};

}  // namespace

ContainerMetadata ReadJpegContainer(std::string_view bytes) {
    const std::vector<JpegSegment> segments = JpegMetadataSegments(bytes);
    const JpegSegment* xmp = FirstJpegSegment(segments, bytes, kJpegApp1, kJpegXmpHeader);
    const auto orientation = ExifOrientation(FirstJpegSegment(segments, bytes, kJpegApp1, kJpegExifHeader), bytes);
    return {.hasPacket = xmp != nullptr,
            .packet = xmp ? std::string(xmp->Payload(bytes).substr(kJpegXmpHeader.size())) : std::string(),
            .exifOrientation = orientation ? orientation->value : 0};
}

std::string RewriteJpegContainer(std::string_view bytes, std::string_view packet, int orientation) {
    const std::vector<JpegSegment> segments = JpegMetadataSegments(bytes);
    // Readers expect JFIF first and Exif right after it; the packet follows them.
    std::size_t insertAt = 2;
    for (const JpegSegment& segment : segments) {
        if (segment.marker != kJpegApp0 && !segment.Is(bytes, kJpegApp1, kJpegExifHeader)) break;
        insertAt = segment.end;
    }
    std::vector<Edit> edits;
    const JpegSegment* exif = FirstJpegSegment(segments, bytes, kJpegApp1, kJpegExifHeader);
    if (orientation != 0) {
        if (exif) {
            edits.push_back({exif->start, exif->end, ExifSegment(*exif, bytes, orientation)});
        } else {
            edits.push_back({insertAt, insertAt, NewExifSegment(segments, bytes, orientation)});
        }
    }
    if (const JpegSegment* old = FirstJpegSegment(segments, bytes, kJpegApp1, kJpegXmpHeader)) {
        edits.push_back({old->start, old->end, App1Segment(kJpegXmpHeader, packet, "XMP packet")});
    } else if (!packet.empty()) {
        // An empty packet leaves a file without one as it is: a turn alone
        // then patches the orientation in place and moves nothing.
        edits.push_back({insertAt, insertAt, App1Segment(kJpegXmpHeader, packet, "XMP packet")});
    }
    // An edit that changes a length moves everything after it.
    for (const Edit& edit : edits) {
        if (edit.with.size() == edit.end - edit.start) continue;
        if (const std::string hazard = JpegMoveHazard(bytes, segments, edit.start); !hazard.empty()) {
            throw ContainerMoveError("JPEG file would move what is named by " + hazard);
        }
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
