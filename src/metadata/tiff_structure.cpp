#include "metadata/tiff_structure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "metadata/exif_orientation.h"
#include "metadata/xmp_container.h"

namespace {

constexpr std::uint16_t kMakerNoteTag = 0x927C;
constexpr std::uint16_t kExifDirectoryTag = 0x8769;
// Tags whose values are offsets of further directories.
constexpr std::array<std::uint16_t, 4> kDirectoryTags = {kExifDirectoryTag, 0x8825, 0xA005, 0x014A};
// Offset and length tags of the data directories name: strips, tiles, an
// old-style JPEG or Exif thumbnail.
constexpr std::array<std::pair<std::uint16_t, std::uint16_t>, 3> kDataTags = {
    std::pair{0x0111, 0x0117}, std::pair{0x0144, 0x0145}, std::pair{0x0201, 0x0202}};

// Bytes per value of each type TIFF defines, by type number.
std::size_t TypeSize(std::uint16_t type) {
    constexpr std::array<std::size_t, 14> sizes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizes.size() ? sizes[type] : 0;
}

using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;

// Empty when every byte of before outside the skipped ranges is in after at
// the same offset; what is after before's end is not looked at.
std::string DiffersOutside(std::string_view before, std::string_view after, Ranges skipped, const std::string& what) {
    std::sort(skipped.begin(), skipped.end());
    skipped.emplace_back(before.size(), before.size());
    std::size_t at = 0;
    for (const auto& [from, to] : skipped) {
        const std::size_t end = std::min(from, before.size());
        if (at < end) {
            if (after.size() < end) return what + " is cut short";
            const auto differ = std::mismatch(before.begin() + at, before.begin() + end, after.begin() + at);
            if (differ.first != before.begin() + end) {
                return what + " differs at byte " + std::to_string(differ.first - before.begin());
            }
        }
        at = std::max(at, to);
    }
    return {};
}

// IFD0 of after against before's: the same entries in the same order, each
// entry's twelve bytes as they were, except that Orientation may take
// another value or join and, where xmpMayChange, the XMP entry may change or
// join; the next-directory link the same.
std::string FirstDirectoryDifference(const TiffStructure& before, const TiffStructure& after, bool xmpMayChange) {
    const std::vector<TiffEntry> old = before.Entries(before.FirstDirectory());
    const std::vector<TiffEntry> now = after.Entries(after.FirstDirectory());
    std::size_t next = 0;
    for (const TiffEntry& entry : now) {
        const std::string tag = std::to_string(entry.tag);
        const bool xmp = xmpMayChange && entry.tag == kTiffXmpTag;
        if (next < old.size() && old[next].tag == entry.tag) {
            const TiffEntry& was = old[next++];
            if (xmp) continue;
            const std::string_view oldBytes = before.Bytes().substr(was.at, kTiffEntrySize);
            const std::string_view newBytes = after.Bytes().substr(entry.at, kTiffEntrySize);
            // A single SHORT's value takes the first two bytes of the field.
            const bool turnable = was.tag == kTiffOrientationTag && was.type == kTiffShortType && was.count == 1;
            if (turnable ? oldBytes.substr(0, 8) != newBytes.substr(0, 8) || oldBytes.substr(10) != newBytes.substr(10)
                         : oldBytes != newBytes) {
                return "IFD0 entry " + tag + " changed";
            }
        } else if (FindTiffEntry(old, entry.tag)) {
            return "IFD0 entry " + tag + " moved";
        } else if (xmp ? entry.type != kTiffByteType && entry.type != kTiffUndefinedType
                       : entry.tag != kTiffOrientationTag || entry.type != kTiffShortType || entry.count != 1) {
            return "IFD0 gained entry " + tag;
        }
    }
    if (next != old.size()) return "IFD0 lost entry " + std::to_string(old[next].tag);
    if (before.NextDirectory(before.FirstDirectory()) != after.NextDirectory(after.FirstDirectory())) {
        return "IFD0 links to another directory";
    }
    return {};
}

// The data the directory's offset and length tags name, compared where
// before has it; raises where before's own data cannot be read.
std::string DataDifference(const TiffStructure& before, std::string_view after, const std::vector<TiffEntry>& entries) {
    for (const auto& [offsetTag, lengthTag] : kDataTags) {
        const std::optional<TiffEntry> offsets = FindTiffEntry(entries, offsetTag);
        const std::optional<TiffEntry> lengths = FindTiffEntry(entries, lengthTag);
        if (!offsets && !lengths) continue;
        if (!offsets || !lengths) {
            throw ContainerError("TIFF data offsets without lengths, or lengths without offsets");
        }
        const std::vector<std::uint32_t> starts = before.Numbers(*offsets);
        const std::vector<std::uint32_t> sizes = before.Numbers(*lengths);
        if (starts.size() != sizes.size()) throw ContainerError("TIFF data offsets and lengths do not pair");
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::string_view file = before.Bytes();
            if (!before.Within(starts[i], sizes[i])) throw ContainerError("TIFF data lies past the file's end");
            if (after.size() < starts[i] || after.substr(starts[i], sizes[i]) != file.substr(starts[i], sizes[i])) {
                return "data of tag " + std::to_string(offsetTag) + " changed";
            }
        }
    }
    return {};
}

}  // namespace

TiffStructure::TiffStructure(std::string_view bytes) : TiffStructure(bytes, -1, bytes.size()) {}

TiffStructure TiffStructure::OfFile(int descriptor) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || status.st_size < 0) throw ContainerError("TIFF file cannot be measured");
    return TiffStructure({}, descriptor, static_cast<std::uint64_t>(status.st_size));
}

TiffStructure::TiffStructure(std::string_view bytes, int descriptor, std::uint64_t size)
    : bytes_(bytes), descriptor_(descriptor), size_(size) {
    char order[2];
    if (!Within(0, sizeof order)) throw ContainerError("no TIFF header");
    Read(0, sizeof order, order);
    if (order[0] != order[1] || (order[0] != 'M' && order[0] != 'I')) throw ContainerError("no TIFF header");
    bigEndian_ = order[0] == 'M';
    const std::uint32_t version = Number(2, 2);
    if (version == 43) throw ContainerError("BigTIFF structures are not read");
    if (version != 42) throw ContainerError("no classic TIFF header");
}

void TiffStructure::Require(std::uint64_t at, std::uint64_t size) const {
    if (!Within(at, size)) throw ContainerError("TIFF structure points past its end");
}

void TiffStructure::Read(std::uint64_t at, std::size_t size, void* into) const {
    Require(at, size);
    if (descriptor_ < 0) {
        std::memcpy(into, bytes_.data() + at, size);
    } else if (at > std::numeric_limits<off_t>::max() ||
               pread(descriptor_, into, size, static_cast<off_t>(at)) != static_cast<ssize_t>(size)) {
        // The file shrank since it was measured.
        throw ContainerError("TIFF file cut short while read");
    }
}

std::uint32_t TiffStructure::Number(std::uint64_t at, int size) const {
    if (size < 1 || size > 4) throw ContainerError("TIFF number of an unexpected width");
    unsigned char bytes[4];
    Read(at, static_cast<std::size_t>(size), bytes);
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i) value = value << 8 | bytes[bigEndian_ ? i : size - 1 - i];
    return value;
}

std::vector<TiffEntry> TiffStructure::EntriesWithin(std::size_t directory) const {
    if (directory < kTiffHeaderSize) throw ContainerError("TIFF directory overlaps its header");
    const std::size_t count = Number(directory, 2);
    std::vector<TiffEntry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = directory + 2 + i * kTiffEntrySize;
        if (!Within(at, kTiffEntrySize)) break;
        entries.push_back({at, static_cast<std::uint16_t>(Number(at, 2)), static_cast<std::uint16_t>(Number(at + 2, 2)),
                           Number(at + 4, 4)});
    }
    return entries;
}

std::vector<TiffEntry> TiffStructure::Entries(std::size_t directory) const {
    Require(directory, DirectorySize(directory));
    return EntriesWithin(directory);
}

std::size_t TiffStructure::DirectorySize(std::size_t directory) const {
    return 2 + Number(directory, 2) * kTiffEntrySize + 4;  // with the next-directory offset
}

std::uint32_t TiffStructure::NextDirectory(std::size_t directory) const {
    return Number(directory + DirectorySize(directory) - 4, 4);
}

std::size_t TiffStructure::ValueSize(const TiffEntry& entry) const {
    const std::size_t size = TypeSize(entry.type);
    if (size == 0) throw ContainerError("TIFF entry of an unknown type");
    return size * entry.count;
}

std::size_t TiffStructure::ValueAt(const TiffEntry& entry) const {
    const std::size_t size = ValueSize(entry);
    const std::size_t at = size <= 4 ? entry.at + 8 : Number(entry.at + 8, 4);
    Require(at, size);
    return at;
}

std::vector<std::uint32_t> TiffStructure::Numbers(const TiffEntry& entry) const {
    const int width = entry.type == kTiffShortType ? 2 : 4;
    if (entry.type != kTiffShortType && entry.type != kTiffLongType && entry.type != kTiffIfdType) {
        throw ContainerError("TIFF offset or length of an unexpected type");
    }
    const std::size_t at = ValueAt(entry);
    std::vector<std::uint32_t> numbers;
    for (std::size_t i = 0; i < entry.count; ++i) {
        numbers.push_back(Number(at + i * static_cast<std::size_t>(width), width));
    }
    return numbers;
}

std::optional<TiffEntry> FindTiffEntry(const std::vector<TiffEntry>& entries, std::uint16_t tag) {
    const auto found =
        std::find_if(entries.begin(), entries.end(), [tag](const TiffEntry& entry) { return entry.tag == tag; });
    return found == entries.end() ? std::nullopt : std::optional(*found);
}

bool ExifHasMakerNote(std::string_view tiff) {
    // Read as leniently as any reader would: a maker note missed here could
    // be moved from under offsets that name it.
    try {
        const TiffStructure exif(tiff);
        for (const TiffEntry& entry : exif.EntriesWithin(exif.FirstDirectory())) {
            if (entry.tag == kMakerNoteTag) return true;
            if (entry.tag != kExifDirectoryTag) continue;
            try {
                const int width = entry.type == kTiffShortType ? 2 : 4;
                for (const TiffEntry& inner : exif.EntriesWithin(exif.Number(entry.at + 8, width))) {
                    if (inner.tag == kMakerNoteTag) return true;
                }
            } catch (const ContainerError&) {
            }
        }
    } catch (const ContainerError&) {
    }
    return false;
}

std::string_view ExifThumbnail(std::string_view tiff) {
    const TiffStructure exif(tiff);
    const std::size_t second = exif.NextDirectory(exif.FirstDirectory());
    if (second == 0) return {};
    const std::vector<TiffEntry> entries = exif.Entries(second);
    const auto [offsetTag, lengthTag] = kDataTags[2];
    std::vector<std::uint32_t> offset;
    std::vector<std::uint32_t> length;
    for (const TiffEntry& entry : entries) {
        if (entry.tag == offsetTag) offset = exif.Numbers(entry);
        if (entry.tag == lengthTag) length = exif.Numbers(entry);
    }
    if (offset.empty() && length.empty()) return {};
    if (offset.size() != 1 || length.size() != 1) throw ContainerError("Exif thumbnail tags malformed");
    if (!exif.Within(offset[0], length[0])) throw ContainerError("Exif thumbnail lies past its block");
    return tiff.substr(offset[0], length[0]);
}

std::string ExifBlockDifference(std::string_view before, std::string_view after, bool mayCopyFirstDirectory) {
    if (before == after) return {};
    if (const auto where = FindTiffOrientation(before)) {
        if (after.size() != before.size()) return "Exif block changed its length";
        return DiffersOutside(before, after, {{where->offset, where->offset + 2}}, "Exif block");
    }
    if (!mayCopyFirstDirectory) return "Exif block changed";
    const TiffStructure old(before);
    const TiffStructure now(after);
    if (std::string why = FirstDirectoryDifference(old, now, false); !why.empty()) return "Exif block's " + why;
    const std::size_t directory = old.FirstDirectory();
    return DiffersOutside(before, after, {{4, 8}, {directory, directory + old.DirectorySize(directory)}},
                          "Exif block");
}

std::string TiffFileDifference(std::string_view original, std::string_view copy) {
    const TiffStructure old(original);
    const TiffStructure now(copy);
    if (original.substr(0, 4) != copy.substr(0, 4)) return "the copy's TIFF header differs";
    if (std::string why = FirstDirectoryDifference(old, now, true); !why.empty()) return "the copy's " + why;
    const std::size_t first = old.FirstDirectory();
    Ranges skipped = {{4, 8}, {first, first + old.DirectorySize(first)}};
    std::vector<std::size_t> pending = {first};
    std::set<std::size_t> named = {first};
    const auto name = [&pending, &named](std::size_t directory) {
        // A directory named twice is compared once; a loop ends here too,
        // and one array of offsets named by many directories is queued once.
        if (directory == 0 || !named.insert(directory).second) return;
        if (named.size() > kTiffMostDirectories) throw ContainerError("TIFF file names too many directories");
        pending.push_back(directory);
    };
    while (!pending.empty()) {
        const std::size_t directory = pending.back();
        pending.pop_back();
        const std::vector<TiffEntry> entries = old.Entries(directory);
        if (directory != first) {
            const std::size_t size = old.DirectorySize(directory);
            if (copy.substr(std::min(directory, copy.size()), size) != original.substr(directory, size)) {
                return "the copy's directory at byte " + std::to_string(directory) + " changed";
            }
        }
        for (const TiffEntry& entry : entries) {
            if (std::find(kDirectoryTags.begin(), kDirectoryTags.end(), entry.tag) != kDirectoryTags.end()) {
                for (const std::uint32_t inner : old.Numbers(entry)) name(inner);
            }
            if (directory == first && entry.tag == kTiffXmpTag) {
                const std::size_t at = old.ValueAt(entry);
                skipped.emplace_back(at, at + old.ValueSize(entry));
            }
        }
        if (std::string why = DataDifference(old, copy, entries); !why.empty()) return "the copy's " + why;
        name(old.NextDirectory(directory));
    }
    return DiffersOutside(original, copy, skipped, "the copy");
}
