#include <cstdint>
#include <optional>
#include <vector>

#include "metadata/container_formats.h"
#include "metadata/exif_orientation.h"

namespace {

constexpr std::string_view kExifPrefix{"Exif\0\0", 6};
// Extended-header flags.
constexpr unsigned char kIccFlag = 0x20;
constexpr unsigned char kAlphaFlag = 0x10;
constexpr unsigned char kExifFlag = 0x08;
constexpr unsigned char kXmpFlag = 0x04;
constexpr std::size_t kExtendedHeaderSize = 10;

std::uint32_t LittleEndian(std::string_view bytes, std::size_t count = 4) {
    std::uint32_t value = 0;
    for (std::size_t i = count; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

std::string LittleEndianBytes(std::uint32_t value, std::size_t count = 4) {
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
    return bytes;
}

struct Chunk {
    std::size_t offset = 0;  // of the FourCC
    std::string_view type;
    std::string_view data;
    std::size_t End() const { return offset + 8 + data.size() + data.size() % 2; }
};

std::string MakeChunk(std::string_view type, std::string_view data) {
    if (data.size() > 0xFFFFFFF0) throw ContainerError("WebP chunk too long");
    std::string chunk = std::string(type) + LittleEndianBytes(static_cast<std::uint32_t>(data.size()));
    chunk.append(data);
    if (data.size() % 2) chunk += '\0';
    return chunk;
}

struct WebPLayout {
    std::vector<Chunk> chunks;
    std::size_t riffEnd = 0;  // bytes past it are not the picture's, but stay with it
    const Chunk* Find(std::string_view type) const {
        for (const Chunk& chunk : chunks)
            if (chunk.type == type) return &chunk;
        return nullptr;
    }
};

WebPLayout Parse(std::string_view bytes) {
    if (bytes.size() < 12 || !bytes.starts_with("RIFF") || bytes.substr(8, 4) != "WEBP")
        throw ContainerError("not a WebP");
    const std::uint32_t riffSize = LittleEndian(bytes.substr(4));
    if (riffSize < 4 || riffSize > bytes.size() - 8) throw ContainerError("WebP RIFF size past the end");
    WebPLayout layout;
    layout.riffEnd = 8 + std::size_t{riffSize};
    for (std::size_t at = 12; at < layout.riffEnd;) {
        if (layout.riffEnd - at < 8) throw ContainerError("WebP chunk header cut short");
        const std::uint32_t size = LittleEndian(bytes.substr(at + 4));
        // The padding byte counts: a chunk after this one would start inside it.
        if (size > layout.riffEnd - at - 8 || size % 2 > layout.riffEnd - at - 8 - size)
            throw ContainerError("WebP chunk runs past the end");
        layout.chunks.push_back({at, bytes.substr(at, 4), bytes.substr(at + 8, size)});
        at = layout.chunks.back().End();
    }
    if (layout.chunks.empty()) throw ContainerError("WebP without chunks");
    if (layout.chunks.front().type == "VP8X" && layout.chunks.front().data.size() < kExtendedHeaderSize)
        throw ContainerError("WebP extended header cut short");
    return layout;
}

// Where the Exif chunk's TIFF structure starts: some writers put the JPEG
// APP1 identifier before it, others not.
std::size_t TiffStart(std::string_view exif) { return exif.starts_with(kExifPrefix) ? kExifPrefix.size() : 0; }

std::optional<TiffOrientation> OrientationOf(const Chunk* exif) {
    return exif ? FindTiffOrientation(exif->data.substr(TiffStart(exif->data))) : std::nullopt;
}

// The extended header a simple (single image chunk) file gains on its way
// to carrying XMP. The canvas comes from the image chunk's own header.
std::string ExtendedHeader(const WebPLayout& layout) {
    const Chunk& image = layout.chunks.front();
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned char flags = kXmpFlag;
    if (image.type == "VP8 ") {
        // Frame tag, start code, then 14-bit sizes with two scaling bits each.
        if (image.data.size() < 10 || image.data.substr(3, 3) != "\x9d\x01\x2a")
            throw ContainerError("WebP lossy frame header malformed");
        width = LittleEndian(image.data.substr(6), 2) & 0x3FFF;
        height = LittleEndian(image.data.substr(8), 2) & 0x3FFF;
        if (width == 0 || height == 0) throw ContainerError("WebP lossy frame without size");
    } else if (image.type == "VP8L") {
        if (image.data.size() < 5 || static_cast<unsigned char>(image.data[0]) != 0x2F)
            throw ContainerError("WebP lossless header malformed");
        const std::uint32_t bits = LittleEndian(image.data.substr(1));
        width = (bits & 0x3FFF) + 1;
        height = (bits >> 14 & 0x3FFF) + 1;
        if (bits >> 28 & 1) flags |= kAlphaFlag;
    } else {
        throw ContainerError("WebP does not start with an image chunk");
    }
    if (layout.Find("ALPH")) flags |= kAlphaFlag;
    if (layout.Find("EXIF")) flags |= kExifFlag;
    if (layout.Find("ICCP")) flags |= kIccFlag;
    std::string header(4, '\0');
    header[0] = static_cast<char>(flags);
    return MakeChunk("VP8X", header + LittleEndianBytes(width - 1, 3) + LittleEndianBytes(height - 1, 3));
}

}  // namespace

ContainerMetadata ReadWebPContainer(std::string_view bytes) {
    const WebPLayout layout = Parse(bytes);
    ContainerMetadata metadata;
    if (const Chunk* xmp = layout.Find("XMP ")) {
        metadata.hasPacket = true;
        metadata.packet = std::string(xmp->data);
    }
    if (const auto orientation = OrientationOf(layout.Find("EXIF"))) metadata.exifOrientation = orientation->value;
    return metadata;
}

std::string RewriteWebPContainer(std::string_view bytes, std::string_view packet, int orientation) {
    const WebPLayout layout = Parse(bytes);
    const bool extended = layout.chunks.front().type == "VP8X";
    const Chunk* xmp = layout.Find("XMP ");
    // An empty packet leaves a file without one as it is.
    const bool withPacket = xmp || !packet.empty();
    std::string out(bytes.substr(0, 12));
    if (!extended && withPacket) out += ExtendedHeader(layout);
    const Chunk* exif = layout.Find("EXIF");
    const auto where = OrientationOf(exif);
    for (const Chunk& chunk : layout.chunks) {
        const std::size_t start = out.size();
        if (&chunk == xmp) {
            out += MakeChunk("XMP ", packet);
            continue;
        }
        out.append(bytes.substr(chunk.offset, chunk.End() - chunk.offset));
        if (&chunk == &layout.chunks.front() && extended && withPacket) out[start + 8] |= static_cast<char>(kXmpFlag);
        if (&chunk == exif && where && orientation != 0)
            SetTiffOrientation(out.data() + start + 8 + TiffStart(exif->data), *where, orientation);
    }
    // Last, as the container wants it: after the image data and the Exif.
    if (!xmp && withPacket) out += MakeChunk("XMP ", packet);
    if (out.size() - 8 > 0xFFFFFFFF) throw ContainerError("WebP too large for RIFF");
    out.replace(4, 4, LittleEndianBytes(static_cast<std::uint32_t>(out.size() - 8)));
    return out.append(bytes.substr(layout.riffEnd));
}
