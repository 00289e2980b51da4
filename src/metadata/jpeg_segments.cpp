#include "metadata/jpeg_segments.h"

#include "metadata/exif_orientation.h"
#include "metadata/tiff_structure.h"
#include "metadata/xmp_container.h"

namespace {

constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::uint8_t kApp11 = 0xEB;
constexpr std::string_view kJumbfHeader = "JP";
constexpr std::uint16_t kMpEntryTag = 0xB002;
constexpr std::size_t kMpEntrySize = 16;  // attributes, size, offset, two dependent images

std::uint8_t Byte(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

}  // namespace

std::vector<JpegSegment> JpegMetadataSegments(std::string_view bytes) {
    if (bytes.size() < 2 || Byte(bytes, 0) != 0xFF || Byte(bytes, 1) != 0xD8) throw ContainerError("not a JPEG file");
    std::vector<JpegSegment> segments;
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

const JpegSegment* FirstJpegSegment(const std::vector<JpegSegment>& segments, std::string_view bytes,
                                    std::uint8_t type, std::string_view header) {
    for (const JpegSegment& segment : segments) {
        if (segment.Is(bytes, type, header)) return &segment;
    }
    return nullptr;
}

std::string JpegMoveHazard(std::string_view bytes, const std::vector<JpegSegment>& segments, std::size_t at) {
    const JpegSegment* exif = FirstJpegSegment(segments, bytes, kJpegApp1, kJpegExifHeader);
    if (exif && ExifHasMakerNote(exif->Payload(bytes).substr(kJpegExifHeader.size()))) {
        return "a maker note, whose offsets may count from the file's start";
    }
    for (const JpegSegment& segment : segments) {
        if (segment.start < at && segment.Is(bytes, kJpegApp2, kJpegMpfHeader)) {
            return "an MPF index before the change, whose images lie after it";
        }
        // C2PA manifests among them: their hashes exclude ranges of the file
        // given by absolute offset.
        if (segment.Is(bytes, kApp11, kJumbfHeader)) return "a JUMBF box, which names ranges of the file by offset";
    }
    return {};
}

std::vector<EmbeddedImage> JpegMpfImages(std::string_view bytes, const std::vector<JpegSegment>& segments) {
    const JpegSegment* mpf = FirstJpegSegment(segments, bytes, kJpegApp2, kJpegMpfHeader);
    if (!mpf) return {};
    // Offsets count from the index's own TIFF header.
    const std::size_t header = mpf->payload + kJpegMpfHeader.size();
    const TiffStructure index(mpf->Payload(bytes).substr(kJpegMpfHeader.size()));
    std::vector<EmbeddedImage> images;
    for (const TiffEntry& entry : index.Entries(index.FirstDirectory())) {
        if (entry.tag != kMpEntryTag) continue;
        if (entry.type != kTiffUndefinedType || entry.count % kMpEntrySize != 0) {
            throw ContainerError("MPF index malformed");
        }
        const std::size_t at = index.ValueAt(entry);
        for (std::size_t image = 0; image < entry.count / kMpEntrySize; ++image) {
            const std::size_t size = index.Number(at + image * kMpEntrySize + 4, 4);
            const std::size_t offset = index.Number(at + image * kMpEntrySize + 8, 4);
            if (offset == 0) continue;  // the main image
            const std::size_t start = header + offset;
            if (start > bytes.size() || bytes.size() - start < size || size < 2 || Byte(bytes, start) != 0xFF ||
                Byte(bytes, start + 1) != 0xD8) {
                throw ContainerError("MPF image " + std::to_string(image + 1) + " is not a JPEG within the file");
            }
            images.push_back({start, size});
        }
    }
    return images;
}
