#include "metadata/exif_orientation.h"

#include <cstdint>
#include <limits>

#include "metadata/xmp_container.h"

namespace {

constexpr std::size_t kHeaderSize = 8;  // byte order, version, first directory

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::size_t kEntrySize = 12;

// Exif blocks come from any camera or phone and from files crafted to crash
// readers: every read is checked against the block's end.
struct TiffReader {
    std::string_view bytes;
    bool bigEndian = false;

    bool Has(std::size_t at, std::size_t size) const { return at <= bytes.size() && size <= bytes.size() - at; }

    std::uint32_t Read(std::size_t at, int size) const {
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            const auto byte = static_cast<std::uint8_t>(bytes[at + (bigEndian ? i : size - 1 - i)]);
            value = value << 8 | byte;
        }
        return value;
    }
};

// Byte order and IFD0 of a structure about to gain an entry; anything a
// reader could not follow is refused rather than copied.
TiffReader FirstDirectory(std::string_view tiff, std::size_t& directory, std::size_t& count) {
    TiffReader reader{tiff};
    if (tiff.starts_with("MM")) {
        reader.bigEndian = true;
    } else if (!tiff.starts_with("II")) {
        throw ContainerError("Exif block without a TIFF header");
    }
    if (!reader.Has(0, 8) || reader.Read(2, 2) != 42) throw ContainerError("Exif block without a TIFF header");
    directory = reader.Read(4, 4);
    if (directory < kHeaderSize) throw ContainerError("TIFF directory overlaps its header");
    if (!reader.Has(directory, 2)) throw ContainerError("TIFF directory lies past its structure's end");
    count = reader.Read(directory, 2);
    // with the next-directory offset
    if (!reader.Has(directory + 2, count * kEntrySize + 4)) {
        throw ContainerError("TIFF directory runs past its structure's end");
    }
    return reader;
}

}  // namespace

std::optional<TiffOrientation> FindTiffOrientation(std::string_view tiff) {
    if (tiff.size() < 8) return std::nullopt;
    TiffReader reader{tiff};
    if (tiff.substr(0, 2) == "MM") {
        reader.bigEndian = true;
    } else if (tiff.substr(0, 2) != "II") {
        return std::nullopt;
    }
    if (reader.Read(2, 2) != 42) return std::nullopt;
    const std::size_t directory = reader.Read(4, 4);
    // A directory over the header would be patched into the header itself.
    if (directory < kHeaderSize || !reader.Has(directory, 2)) return std::nullopt;
    const std::size_t count = reader.Read(directory, 2);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = directory + 2 + i * kEntrySize;
        if (!reader.Has(entry, kEntrySize)) return std::nullopt;
        if (reader.Read(entry, 2) != kOrientationTag) continue;
        // Another type or count is a writer's mistake; a value we could not
        // set in place is better left as it is.
        if (reader.Read(entry + 2, 2) != kTiffShortType || reader.Read(entry + 4, 4) != 1) return std::nullopt;
        // A single SHORT sits in the first two bytes of the value field in
        // either byte order.
        return TiffOrientation{entry + 8, reader.bigEndian, static_cast<int>(reader.Read(entry + 8, 2))};
    }
    return std::nullopt;
}

void SetTiffOrientation(char* tiff, const TiffOrientation& where, int value) {
    const auto high = static_cast<char>((value >> 8) & 0xFF);
    const auto low = static_cast<char>(value & 0xFF);
    tiff[where.offset] = where.bigEndian ? high : low;
    tiff[where.offset + 1] = where.bigEndian ? low : high;
}

void PutTiffNumber(std::string& tiff, std::size_t at, std::uint32_t value, int size, bool bigEndian) {
    for (int i = 0; i < size; ++i) {
        tiff[at + (bigEndian ? size - 1 - i : i)] = static_cast<char>(value >> (8 * i) & 0xFF);
    }
}

std::size_t AppendTiffData(std::string& tiff, std::string_view data) {
    if (tiff.size() % 2) tiff += '\0';
    if (data.size() > std::numeric_limits<std::uint32_t>::max() - tiff.size()) {
        throw ContainerError("TIFF structure would outgrow 32-bit offsets");
    }
    const std::size_t at = tiff.size();
    tiff.append(data);
    return at;
}

std::size_t AddFirstDirectoryEntry(std::string& tiff, std::uint16_t tag, std::uint16_t type) {
    std::size_t directory = 0;
    std::size_t count = 0;
    const TiffReader reader = FirstDirectory(tiff, directory, count);
    if (count == std::numeric_limits<std::uint16_t>::max()) throw ContainerError("TIFF directory is full");
    const std::size_t first = directory + 2;
    std::size_t before = 0;
    while (before < count && reader.Read(first + before * kEntrySize, 2) < tag) ++before;
    for (std::size_t i = before; i < count; ++i) {
        // Readers take one of two entries for a tag and ignore the other;
        // which one is theirs to choose, so none is added.
        if (reader.Read(first + i * kEntrySize, 2) == tag) throw ContainerError("TIFF directory already holds the tag");
    }
    const std::size_t after = (count - before) * kEntrySize + 4;  // with the next-directory offset

    std::string copy(2 + (count + 1) * kEntrySize + 4, '\0');
    PutTiffNumber(copy, 0, static_cast<std::uint32_t>(count + 1), 2, reader.bigEndian);
    copy.replace(2, before * kEntrySize, tiff, first, before * kEntrySize);
    const std::size_t entry = 2 + before * kEntrySize;
    PutTiffNumber(copy, entry, tag, 2, reader.bigEndian);
    PutTiffNumber(copy, entry + 2, type, 2, reader.bigEndian);
    copy.replace(entry + kEntrySize, after, tiff, first + before * kEntrySize, after);

    // A directory that ends the structure has nothing after it to keep in
    // place and is overwritten: a second entry added in the same write then
    // leaves no dead copy behind.
    if (first + count * kEntrySize + 4 == tiff.size()) tiff.resize(directory);
    const std::size_t at = AppendTiffData(tiff, copy);
    PutTiffNumber(tiff, 4, static_cast<std::uint32_t>(at), 4, reader.bigEndian);
    return at + entry;
}

void AddTiffOrientation(std::string& tiff, int value) {
    const std::size_t entry = AddFirstDirectoryEntry(tiff, kOrientationTag, kTiffShortType);
    const bool bigEndian = tiff.starts_with("MM");
    PutTiffNumber(tiff, entry + 4, 1, 4, bigEndian);
    PutTiffNumber(tiff, entry + 8, static_cast<std::uint32_t>(value), 2, bigEndian);
}
