// PNG and WebP files as lists of chunks, read as strictly as the copy must
// be: each chunk within the file (PNG up to IEND, WebP up to the RIFF end,
// the chunks filling it exactly), whatever trails them kept as a piece.
#include <zlib.h>

#include <cstdint>

#include "metadata/structure_difference.h"
#include "metadata/tiff_structure.h"
#include "metadata/xmp_container.h"

namespace {

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
constexpr std::string_view kPngXmpKeyword{"XML:com.adobe.xmp\0", 18};
constexpr std::size_t kPngChunkOverhead = 12;  // length, type and CRC
constexpr std::string_view kWebPExifPrefix{"Exif\0\0", 6};
constexpr std::size_t kWebPChunkHeader = 8;  // FourCC and size
constexpr std::size_t kWebPFirstChunk = 12;  // past "RIFF", its size and "WEBP"
constexpr unsigned char kWebPXmpFlag = 0x04;
constexpr std::size_t kWebPExtendedHeaderSize = 10;

std::uint32_t Number(std::string_view bytes, std::size_t at, bool bigEndian) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + (bigEndian ? i : 3 - i)]);
    }
    return value;
}

std::vector<Piece> PngPieces(std::string_view bytes) {
    if (!bytes.starts_with(kPngSignature)) throw ContainerError("not a PNG");
    std::vector<Piece> pieces = {{PieceKind::Other, 0, kPngSignature, "signature"}};
    bool xmp = false;
    bool exif = false;
    for (std::size_t at = kPngSignature.size();;) {
        if (bytes.size() - at < kPngChunkOverhead) throw ContainerError("PNG ends before IEND");
        const std::size_t length = Number(bytes, at, true);
        if (length > bytes.size() - at - kPngChunkOverhead) throw ContainerError("PNG chunk runs past the end");
        const std::string_view type = bytes.substr(at + 4, 4);
        PieceKind kind = PieceKind::Other;
        if (!xmp && type == "iTXt" && bytes.substr(at + 8, length).starts_with(kPngXmpKeyword)) {
            kind = PieceKind::Xmp;
            xmp = true;
        } else if (!exif && type == "eXIf") {
            kind = PieceKind::Exif;
            exif = true;
        }
        pieces.push_back({kind, at, bytes.substr(at, length + kPngChunkOverhead), "chunk"});
        at += length + kPngChunkOverhead;
        if (type == "IEND") {
            if (at < bytes.size()) pieces.push_back({PieceKind::Other, at, bytes.substr(at), "trailer"});
            return pieces;
        }
    }
}

bool PngChecksumHolds(std::string_view chunk) {
    const std::string_view typed = chunk.substr(4, chunk.size() - kPngChunkOverhead + 4);
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    return Number(chunk, chunk.size() - 4, true) == static_cast<std::uint32_t>(crc);
}

std::vector<Piece> WebPPieces(std::string_view bytes) {
    if (bytes.size() < kWebPFirstChunk || !bytes.starts_with("RIFF") || bytes.substr(8, 4) != "WEBP") {
        throw ContainerError("not a WebP");
    }
    const std::size_t riffSize = Number(bytes, 4, false);
    if (riffSize < 4 || riffSize > bytes.size() - 8) throw ContainerError("WebP RIFF size past the end");
    const std::size_t riffEnd = 8 + riffSize;
    std::vector<Piece> pieces;
    bool xmp = false;
    bool exif = false;
    for (std::size_t at = kWebPFirstChunk; at < riffEnd;) {
        if (riffEnd - at < kWebPChunkHeader) throw ContainerError("WebP chunk header cut short");
        const std::size_t size = Number(bytes, at + 4, false);
        const std::size_t padded = size + size % 2;
        if (padded > riffEnd - at - kWebPChunkHeader) throw ContainerError("WebP chunk runs past the RIFF end");
        const std::string_view type = bytes.substr(at, 4);
        PieceKind kind = PieceKind::Other;
        if (type == "VP8X" && at == kWebPFirstChunk) {
            if (size < kWebPExtendedHeaderSize) throw ContainerError("WebP extended header cut short");
            kind = PieceKind::Header;
        } else if (!xmp && type == "XMP ") {
            kind = PieceKind::Xmp;
            xmp = true;
        } else if (!exif && type == "EXIF") {
            kind = PieceKind::Exif;
            exif = true;
        }
        pieces.push_back({kind, at, bytes.substr(at, kWebPChunkHeader + padded), "chunk"});
        at += kWebPChunkHeader + padded;
    }
    if (pieces.empty()) throw ContainerError("WebP without chunks");
    // Bytes past the RIFF end are not the picture's, but stay with it.
    if (riffEnd < bytes.size()) pieces.push_back({PieceKind::Other, riffEnd, bytes.substr(riffEnd), "trailer"});
    return pieces;
}

std::string_view WebPData(const Piece& chunk) {
    return chunk.bytes.substr(kWebPChunkHeader, Number(chunk.bytes, 4, false));
}

// The extended header as the writer leaves it: its XMP flag perhaps set,
// every other byte the original's; or, gained by a simple file, first and
// whole.
std::string WebPHeaderDifference(const PiecePair& pair) {
    const std::string_view now = WebPData(*pair.copy);
    if (!pair.original) {
        if (pair.copy->offset != kWebPFirstChunk || now.size() != kWebPExtendedHeaderSize ||
            !(static_cast<unsigned char>(now[0]) & kWebPXmpFlag)) {
            return "the copy's added extended header is malformed";
        }
        return {};
    }
    const std::string_view was = WebPData(*pair.original);
    const auto flags = static_cast<unsigned char>(was[0]);
    const auto newFlags = static_cast<unsigned char>(now[0]);
    if (now.size() != was.size() || (newFlags != flags && newFlags != (flags | kWebPXmpFlag)) ||
        now.substr(1) != was.substr(1)) {
        return "the copy's extended header differs beyond its XMP flag";
    }
    return {};
}

}  // namespace

std::string PngStructureDifference(std::string_view original, std::string_view copy) {
    const std::vector<Piece> before = PngPieces(original);
    const std::vector<Piece> after = PngPieces(copy);
    std::vector<PiecePair> pairs;
    if (std::string why = PairPieces(before, after, {PieceKind::Xmp}, pairs); !why.empty()) return why;
    for (const PiecePair& pair : pairs) {
        const Piece& chunk = *pair.copy;
        // Chunks the writer left alone keep what checksum they had.
        if (chunk.kind == PieceKind::Other || (pair.original && pair.original->bytes == chunk.bytes)) continue;
        if (!PngChecksumHolds(chunk.bytes)) {
            return "the copy's " + std::string(chunk.bytes.substr(4, 4)) + " chunk fails its checksum";
        }
        const std::string_view data = chunk.bytes.substr(8, chunk.bytes.size() - kPngChunkOverhead);
        // Nobody reads a compressed packet.
        const std::size_t flag = kPngXmpKeyword.size();
        if (chunk.kind == PieceKind::Xmp && (data.size() <= flag || data[flag] != 0)) {
            return "the copy's XMP chunk is cut short or compressed";
        }
        if (chunk.kind == PieceKind::Exif) {
            const Piece& was = *pair.original;
            const std::string_view old = was.bytes.substr(8, was.bytes.size() - kPngChunkOverhead);
            if (std::string why = ExifBlockDifference(old, data, false); !why.empty()) return "the copy's " + why;
        }
    }
    return {};
}

std::string WebPStructureDifference(std::string_view original, std::string_view copy) {
    const std::vector<Piece> before = WebPPieces(original);
    const std::vector<Piece> after = WebPPieces(copy);
    std::vector<PiecePair> pairs;
    if (std::string why = PairPieces(before, after, {PieceKind::Xmp, PieceKind::Header}, pairs); !why.empty()) {
        return why;
    }
    for (const PiecePair& pair : pairs) {
        if (pair.copy->kind == PieceKind::Header) {
            if (std::string why = WebPHeaderDifference(pair); !why.empty()) return why;
        } else if (pair.copy->kind == PieceKind::Exif) {
            const std::string_view was = WebPData(*pair.original);
            const std::string_view now = WebPData(*pair.copy);
            // Some writers put the JPEG APP1 identifier before the TIFF header.
            const std::size_t tiff = was.starts_with(kWebPExifPrefix) ? kWebPExifPrefix.size() : 0;
            if (now.substr(0, tiff) != was.substr(0, tiff)) return "the copy's Exif chunk lost its identifier";
            if (std::string why = ExifBlockDifference(was.substr(tiff), now.substr(tiff), false); !why.empty()) {
                return "the copy's " + why;
            }
        }
    }
    return {};
}
