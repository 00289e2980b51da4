#include <cstdint>
#include <limits>
#include <optional>

#include "metadata/container_formats.h"
#include "metadata/exif_orientation.h"

namespace {

constexpr std::size_t kInlineValueSize = 4;

struct XmpEntry {
    std::size_t entry = 0;
    std::size_t value = 0;  // where the packet's bytes are
    std::size_t count = 0;
};

// Classic TIFF with its first directory checked to lie within the file.
struct TiffLayout {
    bool bigEndian = false;
    std::optional<XmpEntry> xmp;
};

TiffLayout ReadLayout(std::string_view bytes) {
    const TiffStructure tiff(bytes);
    TiffLayout layout{tiff.BigEndian(), std::nullopt};
    const std::size_t directory = tiff.FirstDirectory();
    const auto entry = FindTiffEntry(tiff.Entries(directory), kTiffXmpTag);
    if (!entry) return layout;
    if (entry->type != kTiffByteType && entry->type != kTiffUndefinedType) {
        throw ContainerError("TIFF XMP tag of an unexpected type");
    }
    const XmpEntry xmp{entry->at, tiff.ValueAt(*entry), entry->count};
    // A packet laid over the header or the directory would be overwritten by
    // the very entries that point at it.
    const std::size_t directoryEnd = directory + tiff.DirectorySize(directory);
    if (xmp.count > kInlineValueSize &&
        (xmp.value < kTiffHeaderSize || (xmp.value < directoryEnd && directory < xmp.value + xmp.count))) {
        throw ContainerError("TIFF XMP packet overlaps the header or its directory");
    }
    layout.xmp = xmp;
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
        const std::size_t entry = AddFirstDirectoryEntry(out, kTiffXmpTag, kTiffByteType);
        StorePacket(out, layout.bigEndian, entry, packet, std::nullopt);
    }
    return out;
}
