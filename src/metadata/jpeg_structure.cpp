#include <algorithm>

#include "metadata/jpeg_segments.h"
#include "metadata/structure_difference.h"
#include "metadata/tiff_structure.h"
#include "metadata/xmp_container.h"

namespace {

constexpr std::size_t kSegmentHeaderSize = 4;  // marker and length

// Start of image, each metadata segment and the padding before it, then all
// from the first scan on: entropy-coded data, EOI and whatever trails it
// (MPF images, phones' trailers).
std::vector<Piece> JpegPieces(std::string_view bytes, const std::vector<JpegSegment>& segments) {
    const JpegSegment* xmp = FirstJpegSegment(segments, bytes, kJpegApp1, kJpegXmpHeader);
    const JpegSegment* exif = FirstJpegSegment(segments, bytes, kJpegApp1, kJpegExifHeader);
    std::vector<Piece> pieces = {{PieceKind::Other, 0, bytes.substr(0, 2), "start of image"}};
    std::size_t at = 2;
    for (const JpegSegment& segment : segments) {
        if (segment.start > at) {
            pieces.push_back({PieceKind::Other, at, bytes.substr(at, segment.start - at), "padding"});
        }
        const PieceKind kind = &segment == xmp ? PieceKind::Xmp : &segment == exif ? PieceKind::Exif : PieceKind::Other;
        pieces.push_back({kind, segment.start, bytes.substr(segment.start, segment.end - segment.start), "segment"});
        at = segment.end;
    }
    pieces.push_back({PieceKind::Other, at, bytes.substr(at), "image data"});
    return pieces;
}

std::string_view ExifTiff(const Piece& exif) {
    return exif.bytes.substr(kSegmentHeaderSize + kJpegExifHeader.size());
}

// The Exif blocks, and whether a length changed where offsets forbid it.
std::string EditDifference(std::string_view original, const std::vector<JpegSegment>& segments,
                           const std::vector<PiecePair>& pairs) {
    std::size_t at = 0;  // in the original, where the pieces paired so far end
    for (const PiecePair& pair : pairs) {
        if (pair.original && pair.copy->kind == PieceKind::Exif) {
            if (std::string why = ExifBlockDifference(ExifTiff(*pair.original), ExifTiff(*pair.copy), true);
                !why.empty()) {
                return "the copy's " + why;
            }
        }
        if (!pair.original || pair.original->bytes.size() != pair.copy->bytes.size()) {
            const std::size_t editAt = pair.original ? pair.original->offset : at;
            if (std::string hazard = JpegMoveHazard(original, segments, editAt); !hazard.empty()) {
                return "the copy moved what is named by " + hazard;
            }
        }
        if (pair.original) at = pair.original->offset + pair.original->bytes.size();
    }
    return {};
}

// The Exif thumbnail and each MPF image, extracted through the copy's own
// offsets, must be the original's.
std::string EmbeddedImageDifference(std::string_view original, const std::vector<Piece>& originalPieces,
                                    const std::vector<JpegSegment>& originalSegments, std::string_view copy,
                                    const std::vector<Piece>& copyPieces,
                                    const std::vector<JpegSegment>& copySegments) {
    const auto thumbnail = [](const std::vector<Piece>& pieces) {
        const auto exif = std::find_if(pieces.begin(), pieces.end(),
                                       [](const Piece& piece) { return piece.kind == PieceKind::Exif; });
        return exif == pieces.end() ? std::string_view() : ExifThumbnail(ExifTiff(*exif));
    };
    const std::string_view before = thumbnail(originalPieces);
    if (before != thumbnail(copyPieces)) return "the copy's Exif thumbnail differs from the picture's";
    const std::vector<EmbeddedImage> images = JpegMpfImages(original, originalSegments);
    const std::vector<EmbeddedImage> copied = JpegMpfImages(copy, copySegments);
    if (images.size() != copied.size()) return "the copy's MPF index names other images";
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (original.substr(images[i].start, images[i].size) != copy.substr(copied[i].start, copied[i].size)) {
            return "the copy's MPF image " + std::to_string(i + 2) + " differs from the picture's";
        }
    }
    return {};
}

}  // namespace

std::string JpegStructureDifference(std::string_view original, std::string_view copy) {
    const std::vector<JpegSegment> originalSegments = JpegMetadataSegments(original);
    const std::vector<JpegSegment> copySegments = JpegMetadataSegments(copy);
    const std::vector<Piece> originalPieces = JpegPieces(original, originalSegments);
    const std::vector<Piece> copyPieces = JpegPieces(copy, copySegments);
    std::vector<PiecePair> pairs;
    if (std::string why = PairPieces(originalPieces, copyPieces, {PieceKind::Xmp, PieceKind::Exif}, pairs);
        !why.empty()) {
        return why;
    }
    if (std::string why = EditDifference(original, originalSegments, pairs); !why.empty()) return why;
    return EmbeddedImageDifference(original, originalPieces, originalSegments, copy, copyPieces, copySegments);
}
