#include "metadata/exif_orientation.h"

#include <cstdint>

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;
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
    if (!reader.Has(directory, 2)) return std::nullopt;
    const std::size_t count = reader.Read(directory, 2);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = directory + 2 + i * kEntrySize;
        if (!reader.Has(entry, kEntrySize)) return std::nullopt;
        if (reader.Read(entry, 2) != kOrientationTag) continue;
        // Another type or count is a writer's mistake; a value we could not
        // set in place is better left as it is.
        if (reader.Read(entry + 2, 2) != kShortType || reader.Read(entry + 4, 4) != 1) return std::nullopt;
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
