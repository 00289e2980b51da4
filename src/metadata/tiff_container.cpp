#include <cstdint>
#include <limits>
#include <optional>

#include "metadata/container_formats.h"
#include "metadata/exif_orientation.h"

namespace {

constexpr std::uint16_t kXmpTag = 700;
constexpr std::uint16_t kByteType = 1;
constexpr std::uint16_t kUndefinedType = 7;
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kInlineValueSize = 4;

struct XmpEntry {
    std::size_t entry = 0;
    std::size_t value = 0;  // where the packet's bytes are
    std::size_t count = 0;
};

// Classic TIFF with its first directory checked to lie within the file.
struct TiffLayout {
    bool bigEndian = false;
    std::size_t directory = 0;
    std::size_t entries = 0;
    std::optional<XmpEntry> xmp;
};

class TiffBytes {
public:
    TiffBytes(std::string_view bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

    std::uint32_t Read(std::size_t at, int size) const {
        Require(at, static_cast<std::size_t>(size));
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            value = value << 8 | static_cast<std::uint8_t>(bytes_[at + (bigEndian_ ? i : size - 1 - i)]);
        }
        return value;
    }

    void Require(std::size_t at, std::size_t size) const {
        if (at > bytes_.size() || size > bytes_.size() - at) throw ContainerError("TIFF structure points past its end");
    }

private:
    std::string_view bytes_;
    bool bigEndian_;
};

TiffLayout ReadLayout(std::string_view bytes) {
    TiffLayout layout;
    if (bytes.starts_with("MM")) {
        layout.bigEndian = true;
    } else if (!bytes.starts_with("II")) {
        throw ContainerError("not a TIFF file");
    }
    const TiffBytes tiff(bytes, layout.bigEndian);
    const std::uint32_t version = tiff.Read(2, 2);
    if (version == 43) throw ContainerError("BigTIFF files are not written");
    if (version != 42) throw ContainerError("not a TIFF file");
    layout.directory = tiff.Read(4, 4);
    layout.entries = tiff.Read(layout.directory, 2);
    tiff.Require(layout.directory + 2, layout.entries * kEntrySize + 4);  // with the next-directory offset
    for (std::size_t i = 0; i < layout.entries; ++i) {
        const std::size_t entry = layout.directory + 2 + i * kEntrySize;
        if (tiff.Read(entry, 2) != kXmpTag) continue;
        const std::uint32_t type = tiff.Read(entry + 2, 2);
        if (type != kByteType && type != kUndefinedType) throw ContainerError("TIFF XMP tag of an unexpected type");
        XmpEntry xmp{entry, entry + 8, tiff.Read(entry + 4, 4)};
        if (xmp.count > kInlineValueSize) xmp.value = tiff.Read(entry + 8, 4);
        tiff.Require(xmp.value, xmp.count);
        layout.xmp = xmp;
        break;
    }
    return layout;
}

void Write(std::string& out, std::size_t at, std::uint32_t value, int size, bool bigEndian) {
    for (int i = 0; i < size; ++i) {
        out[at + (bigEndian ? size - 1 - i : i)] = static_cast<char>(value >> (8 * i) & 0xFF);
    }
}

// TIFF values start on a word boundary; offsets are 32 bits wide.
std::size_t Append(std::string& out, std::string_view data) {
    if (out.size() % 2) out += '\0';
    if (data.size() > std::numeric_limits<std::uint32_t>::max() - out.size()) {
        throw ContainerError("TIFF file would outgrow 32-bit offsets");
    }
    const std::size_t at = out.size();
    out.append(data);
    return at;
}

// The packet's count and value field in the XMP entry at entry. The space
// an old out-of-line packet had is reused when the new one fits.
void StorePacket(std::string& out, bool bigEndian, std::size_t entry, std::string_view packet,
                 std::optional<XmpEntry> old) {
    if (packet.size() > std::numeric_limits<std::uint32_t>::max()) throw ContainerError("XMP packet too large");
    Write(out, entry + 4, static_cast<std::uint32_t>(packet.size()), 4, bigEndian);
    if (packet.size() <= kInlineValueSize) {
        out.replace(entry + 8, kInlineValueSize, std::string(packet).append(kInlineValueSize - packet.size(), '\0'));
        return;
    }
    if (old && old->count > kInlineValueSize && packet.size() <= old->count) {
        // The tail of a longer old packet is cleared so no stale XMP lingers.
        out.replace(old->value, old->count, std::string(packet).append(old->count - packet.size(), '\0'));
        Write(out, entry + 8, static_cast<std::uint32_t>(old->value), 4, bigEndian);
        return;
    }
    // The old packet's bytes stay behind, unreferenced: nothing else in the
    // file moves, so no other offset needs following.
    Write(out, entry + 8, static_cast<std::uint32_t>(Append(out, packet)), 4, bigEndian);
}

// A copy of the first directory with an XMP entry put in tag order, appended
// to the file and made the first directory. The original's out-of-line
// values stay where they are, shared by absolute offset.
void AppendDirectoryWithPacket(std::string& out, const TiffLayout& layout, std::string_view packet) {
    if (layout.entries == std::numeric_limits<std::uint16_t>::max()) throw ContainerError("TIFF directory is full");
    const TiffBytes tiff(out, layout.bigEndian);
    const std::size_t first = layout.directory + 2;
    std::size_t before = 0;
    while (before < layout.entries && tiff.Read(first + before * kEntrySize, 2) < kXmpTag) ++before;
    const std::size_t after = (layout.entries - before) * kEntrySize + 4;  // with the next-directory offset

    std::string directory(2 + (layout.entries + 1) * kEntrySize + 4, '\0');
    Write(directory, 0, static_cast<std::uint32_t>(layout.entries + 1), 2, layout.bigEndian);
    directory.replace(2, before * kEntrySize, out, first, before * kEntrySize);
    const std::size_t xmp = 2 + before * kEntrySize;
    Write(directory, xmp, kXmpTag, 2, layout.bigEndian);
    Write(directory, xmp + 2, kByteType, 2, layout.bigEndian);
    directory.replace(xmp + kEntrySize, after, out, first + before * kEntrySize, after);

    const std::size_t at = Append(out, directory);
    Write(out, 4, static_cast<std::uint32_t>(at), 4, layout.bigEndian);
    StorePacket(out, layout.bigEndian, at + xmp, packet, std::nullopt);
}

}  // namespace

ContainerMetadata ReadTiffContainer(std::string_view bytes) {
    const TiffLayout layout = ReadLayout(bytes);
    const auto orientation = FindTiffOrientation(bytes);
    return {.hasPacket = layout.xmp.has_value(),
            .packet = layout.xmp ? std::string(bytes.substr(layout.xmp->value, layout.xmp->count)) : std::string(),
            .exifOrientation = orientation ? orientation->value : 0};
}

std::string RewriteTiffContainer(std::string_view bytes, std::string_view packet, int orientation) {
    const TiffLayout layout = ReadLayout(bytes);
    std::string out(bytes);
    if (const auto where = FindTiffOrientation(bytes); where && orientation != 0) {
        SetTiffOrientation(out.data(), *where, orientation);
    }
    if (layout.xmp) {
        StorePacket(out, layout.bigEndian, layout.xmp->entry, packet, layout.xmp);
    } else {
        AppendDirectoryWithPacket(out, layout, packet);
    }
    return out;
}
