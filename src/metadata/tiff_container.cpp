#include <cstdint>
#include <limits>
#include <optional>

#include "metadata/container_formats.h"
#include "metadata/exif_orientation.h"

namespace {

constexpr std::uint16_t kXmpTag = 700;
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
    if (layout.directory < 8) throw ContainerError("TIFF directory overlaps its header");
    layout.entries = tiff.Read(layout.directory, 2);
    tiff.Require(layout.directory + 2, layout.entries * kEntrySize + 4);  // with the next-directory offset
    for (std::size_t i = 0; i < layout.entries; ++i) {
        const std::size_t entry = layout.directory + 2 + i * kEntrySize;
        if (tiff.Read(entry, 2) != kXmpTag) continue;
        const std::uint32_t type = tiff.Read(entry + 2, 2);
        if (type != kTiffByteType && type != kTiffUndefinedType) throw ContainerError("TIFF XMP tag of an unexpected type");
        XmpEntry xmp{entry, entry + 8, tiff.Read(entry + 4, 4)};
        if (xmp.count > kInlineValueSize) {
            xmp.value = tiff.Read(entry + 8, 4);
            // A packet laid over the header or the directory would be
            // overwritten by the very entries that point at it.
            const std::size_t directoryEnd = layout.directory + 2 + layout.entries * kEntrySize + 4;
            if (xmp.value < 8 || (xmp.value < directoryEnd && layout.directory < xmp.value + xmp.count)) {
                throw ContainerError("TIFF XMP packet overlaps the header or its directory");
            }
        }
        tiff.Require(xmp.value, xmp.count);
        layout.xmp = xmp;
        break;
    }
    return layout;
}

// The packet's count and value field in the XMP entry at entry. The space
// an old out-of-line packet had is reused when the new one fits.
void StorePacket(std::string& out, bool bigEndian, std::size_t entry, std::string_view packet,
                 std::optional<XmpEntry> old) {
    if (packet.size() > std::numeric_limits<std::uint32_t>::max()) throw ContainerError("XMP packet too large");
    PutTiffNumber(out, entry + 4, static_cast<std::uint32_t>(packet.size()), 4, bigEndian);
    if (packet.size() <= kInlineValueSize) {
        out.replace(entry + 8, kInlineValueSize, std::string(packet).append(kInlineValueSize - packet.size(), '\0'));
        return;
    }
    if (old && old->count > kInlineValueSize && packet.size() <= old->count) {
        // The tail of a longer old packet is cleared so no stale XMP lingers.
        out.replace(old->value, old->count, std::string(packet).append(old->count - packet.size(), '\0'));
        PutTiffNumber(out, entry + 8, static_cast<std::uint32_t>(old->value), 4, bigEndian);
        return;
    }
    // The old packet's bytes stay behind, unreferenced: nothing else in the
    // file moves, so no other offset needs following.
    PutTiffNumber(out, entry + 8, static_cast<std::uint32_t>(AppendTiffData(out, packet)), 4, bigEndian);
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
    TiffLayout layout = ReadLayout(bytes);
    std::string out(bytes);
    if (orientation != 0) {
        if (const auto where = FindTiffOrientation(bytes)) {
            SetTiffOrientation(out.data(), *where, orientation);
        } else {
            AddTiffOrientation(out, orientation);
            // IFD0, and any XMP entry in it, now lies in the appended copy.
            layout = ReadLayout(out);
        }
    }
    if (layout.xmp) {
        StorePacket(out, layout.bigEndian, layout.xmp->entry, packet, layout.xmp);
    } else if (!packet.empty()) {
        StorePacket(out, layout.bigEndian, AddFirstDirectoryEntry(out, kXmpTag, kTiffByteType), packet, std::nullopt);
    }
    return out;
}
