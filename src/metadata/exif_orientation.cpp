#include "metadata/exif_orientation.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "metadata/xmp_container.h"

std::optional<TiffOrientation> FindTiffOrientation(std::string_view tiff) {
    try {
        const TiffStructure reader(tiff);
        // A directory over the header would be patched into the header
        // itself; EntriesWithin refuses one. A directory cut short may still
        // hold the tag in the entries before the cut.
        const auto entry = FindTiffEntry(reader.EntriesWithin(reader.FirstDirectory()), kTiffOrientationTag);
        // Another type or count is a writer's mistake; a value we could not
        // set in place is better left as it is.
        if (!entry || entry->type != kTiffShortType || entry->count != 1) return std::nullopt;
        // A single SHORT sits in the first two bytes of the value field in
        // either byte order.
        return TiffOrientation{entry->at + 8, reader.BigEndian(), static_cast<int>(reader.Number(entry->at + 8, 2))};
    } catch (const ContainerError&) {
        return std::nullopt;
    }
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
    // Anything a reader could not follow is refused rather than copied.
    const TiffStructure reader(tiff);
    const std::size_t directory = reader.FirstDirectory();
    const std::vector<TiffEntry> entries = reader.Entries(directory);
    // The reader looks at tiff's bytes, which change below.
    const bool bigEndian = reader.BigEndian();
    const std::size_t count = entries.size();
    if (count == std::numeric_limits<std::uint16_t>::max()) throw ContainerError("TIFF directory is full");
    const std::size_t first = directory + 2;
    std::size_t before = 0;
    while (before < count && entries[before].tag < tag) ++before;
    // Readers take one of two entries for a tag and ignore the other; which
    // one is theirs to choose, so none is added.
    if (FindTiffEntry(entries, tag)) throw ContainerError("TIFF directory already holds the tag");
    const std::size_t after = (count - before) * kTiffEntrySize + 4;  // with the next-directory offset

    std::string copy(2 + (count + 1) * kTiffEntrySize + 4, '\0');
    PutTiffNumber(copy, 0, static_cast<std::uint32_t>(count + 1), 2, bigEndian);
    copy.replace(2, before * kTiffEntrySize, tiff, first, before * kTiffEntrySize);
    const std::size_t entry = 2 + before * kTiffEntrySize;
    PutTiffNumber(copy, entry, tag, 2, bigEndian);
    PutTiffNumber(copy, entry + 2, type, 2, bigEndian);
    copy.replace(entry + kTiffEntrySize, after, tiff, first + before * kTiffEntrySize, after);

    // A directory that ends the structure has nothing after it to keep in
    // place and is overwritten: a second entry added in the same write then
    // leaves no dead copy behind.
    if (first + count * kTiffEntrySize + 4 == tiff.size()) tiff.resize(directory);
    const std::size_t at = AppendTiffData(tiff, copy);
    PutTiffNumber(tiff, 4, static_cast<std::uint32_t>(at), 4, bigEndian);
    return at + entry;
}

void AddTiffOrientation(std::string& tiff, int value) {
    const std::size_t entry = AddFirstDirectoryEntry(tiff, kTiffOrientationTag, kTiffShortType);
    const bool bigEndian = tiff.starts_with("MM");
    PutTiffNumber(tiff, entry + 4, 1, 4, bigEndian);
    PutTiffNumber(tiff, entry + 8, static_cast<std::uint32_t>(value), 2, bigEndian);
}
