#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "metadata/container_formats.h"
#include "metadata/exif_orientation.h"

namespace {

constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";
constexpr std::string_view kXmpKeyword{"XML:com.adobe.xmp\0", 18};
// The format's own ceiling on a chunk length; larger ones are hostile.
constexpr std::uint32_t kLongestChunk = 0x7FFFFFFF;

std::uint32_t BigEndian(std::string_view bytes) {
    std::uint32_t value = 0;
    for (const char byte : bytes.substr(0, 4)) value = value << 8 | static_cast<unsigned char>(byte);
    return value;
}

std::string BigEndianBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 3; i >= 0; --i, value >>= 8) bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
    return bytes;
}

std::string MakeChunk(std::string_view type, std::string_view data) {
    if (data.size() > kLongestChunk) throw ContainerError("PNG chunk too long");
    std::string typed = std::string(type).append(data);
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    return BigEndianBytes(static_cast<std::uint32_t>(data.size())) + typed +
           BigEndianBytes(static_cast<std::uint32_t>(crc));
}

struct Chunk {
    std::size_t offset = 0;  // of the length field
    std::string_view type;
    std::string_view data;
    std::size_t End() const { return offset + 12 + data.size(); }
};

// Where the packet sits inside an XMP iTXt chunk's data.
struct XmpChunk {
    Chunk chunk;
    std::size_t textStart = 0;  // past keyword, flags, language and translated keyword
};

std::optional<std::size_t> XmpTextStart(std::string_view data) {
    if (!data.starts_with(kXmpKeyword)) return std::nullopt;
    // Compression flag and method, then two NUL-terminated fields.
    std::size_t at = kXmpKeyword.size();
    if (data.size() < at + 2) throw ContainerError("PNG XMP chunk cut short");
    // XMP must stay readable in place; nobody reads a compressed packet.
    if (data[at] != 0) throw ContainerError("PNG XMP chunk is compressed");
    at += 2;
    for (int field = 0; field < 2; ++field) {
        const auto end = data.find('\0', at);
        if (end == std::string_view::npos) throw ContainerError("PNG XMP chunk cut short");
        at = end + 1;
    }
    return at;
}

struct PngLayout {
    Chunk header;
    std::optional<XmpChunk> xmp;
    std::optional<Chunk> exif;
};

PngLayout Parse(std::string_view bytes) {
    if (!bytes.starts_with(kSignature)) throw ContainerError("not a PNG");
    PngLayout layout;
    bool first = true;
    for (std::size_t at = kSignature.size();;) {
        if (bytes.size() - at < 12) throw ContainerError("PNG ends before IEND");
        const std::uint32_t length = BigEndian(bytes.substr(at));
        if (length > kLongestChunk || length > bytes.size() - at - 12)
            throw ContainerError("PNG chunk runs past the end");
        const Chunk chunk{at, bytes.substr(at + 4, 4), bytes.substr(at + 8, length)};
        if (first != (chunk.type == "IHDR")) throw ContainerError("PNG does not start with IHDR");
        if (first) layout.header = chunk;
        first = false;
        if (chunk.type == "IEND") return layout;
        if (chunk.type == "iTXt") {
            if (const auto textStart = XmpTextStart(chunk.data)) {
                // A writer can replace only one; readers might prefer the other.
                if (layout.xmp) throw ContainerError("PNG has two XMP chunks");
                layout.xmp = XmpChunk{chunk, *textStart};
            }
        } else if (chunk.type == "eXIf" && !layout.exif) {
            layout.exif = chunk;
        }
        at = chunk.End();
    }
}

std::optional<TiffOrientation> OrientationOf(const std::optional<Chunk>& exif) {
    return exif ? FindTiffOrientation(exif->data) : std::nullopt;
}

}  // namespace

ContainerMetadata ReadPngContainer(std::string_view bytes) {
    const PngLayout layout = Parse(bytes);
    ContainerMetadata metadata;
    if (layout.xmp) {
        metadata.hasPacket = true;
        metadata.packet = std::string(layout.xmp->chunk.data.substr(layout.xmp->textStart));
    }
    if (const auto orientation = OrientationOf(layout.exif)) metadata.exifOrientation = orientation->value;
    return metadata;
}

std::string RewritePngContainer(std::string_view bytes, std::string_view packet, int orientation) {
    const PngLayout layout = Parse(bytes);
    struct Splice {
        std::size_t from, to;
        std::string with;
    };
    std::vector<Splice> splices;
    if (layout.xmp) {
        const Chunk& old = layout.xmp->chunk;
        const std::string header(old.data.substr(0, layout.xmp->textStart));
        splices.push_back({old.offset, old.End(), MakeChunk("iTXt", header + std::string(packet))});
    } else if (!packet.empty()) {
        // Right after IHDR, so that readers stopping at the image data still see it.
        const std::string header = std::string(kXmpKeyword).append(4, '\0');
        splices.push_back({layout.header.End(), layout.header.End(), MakeChunk("iTXt", header + std::string(packet))});
    }
    if (const auto where = OrientationOf(layout.exif); where && orientation != 0) {
        std::string data(layout.exif->data);
        SetTiffOrientation(data.data(), *where, orientation);
        splices.push_back({layout.exif->offset, layout.exif->End(), MakeChunk("eXIf", data)});
    }
    std::sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) { return a.from < b.from; });
    std::string out;
    out.reserve(bytes.size() + packet.size() + 64);
    std::size_t copied = 0;
    for (const Splice& splice : splices) {
        out.append(bytes.substr(copied, splice.from - copied)).append(splice.with);
        copied = splice.to;
    }
    return out.append(bytes.substr(copied));
}
