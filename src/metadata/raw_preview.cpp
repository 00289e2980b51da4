#include "metadata/raw_preview.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "metadata/picture_decoder.h"
#include "metadata/vips_image_ref.h"

namespace {

// Cameras write two or three SubIFDs and two or four directories in the
// chain; a file claiming thousands is no camera's, and each costs reads.
constexpr int kMaxSubIfds = 16;
constexpr int kMaxChain = 4;
constexpr int kMaxEntries = 1024;
constexpr int kMaxJpegSegments = 64;

constexpr std::uint16_t kJpegOffsetTag = 0x0201;
constexpr std::uint16_t kJpegLengthTag = 0x0202;
constexpr std::uint16_t kSubIfdsTag = 0x014A;

// The pixels of image when libvips knows its colours; 0 otherwise.
std::int64_t PicturePixels(const VipsImage* image) {
    if (image->Type == VIPS_INTERPRETATION_MULTIBAND) return 0;
    const std::int64_t pixels = static_cast<std::int64_t>(image->Xsize) * image->Ysize;
    return pixels <= kMaxPicturePixels ? pixels : 0;
}

// A TIFF structure read by position through a descriptor, hostile as any
// file the walk finds: every read is checked, every count bounded.
class TiffReader {
public:
    explicit TiffReader(int descriptor) : descriptor_(descriptor) {}

    bool Bytes(std::int64_t at, void* into, std::size_t size) const {
        return at >= 0 && pread(descriptor_, into, size, at) == static_cast<ssize_t>(size);
    }
    // An unsigned number of size bytes; bigEndian overrides the file's order.
    std::optional<std::uint32_t> Number(std::int64_t at, int size, std::optional<bool> bigEndian = {}) const {
        unsigned char bytes[4];
        if (!Bytes(at, bytes, static_cast<std::size_t>(size))) return std::nullopt;
        std::uint32_t value = 0;
        const bool big = bigEndian.value_or(bigEndian_);
        for (int i = 0; i < size; ++i) value = value << 8 | bytes[big ? i : size - 1 - i];
        return value;
    }
    // The first directory's offset; nullopt when this is no classic TIFF.
    std::optional<std::uint32_t> Start() {
        char order[2];
        if (!Bytes(0, order, 2) || order[0] != order[1] || (order[0] != 'I' && order[0] != 'M')) return std::nullopt;
        bigEndian_ = order[0] == 'M';
        if (Number(2, 2) != 42u) return std::nullopt;
        return Number(4, 4);
    }

private:
    int descriptor_;
    bool bigEndian_ = false;
};

struct Directory {
    std::uint32_t jpegOffset = 0;
    std::uint32_t jpegLength = 0;
    std::vector<std::uint32_t> subIfds;
    std::uint32_t next = 0;
};

std::optional<Directory> ReadDirectory(const TiffReader& tiff, std::uint32_t at) {
    const std::optional<std::uint32_t> entries = tiff.Number(at, 2);
    if (!entries || *entries > kMaxEntries) return std::nullopt;
    Directory directory;
    for (std::uint32_t i = 0; i < *entries; ++i) {
        const std::int64_t entry = at + 2 + std::int64_t{12} * i;
        const auto tag = tiff.Number(entry, 2);
        const auto type = tiff.Number(entry + 2, 2);
        const auto count = tiff.Number(entry + 4, 4);
        if (!tag || !type || !count) return std::nullopt;
        const int size = *type == 3 ? 2 : 4;  // SHORT, or LONG and IFD
        if (*tag == kJpegOffsetTag || *tag == kJpegLengthTag) {
            const std::uint32_t value = tiff.Number(entry + 8, size).value_or(0);
            (*tag == kJpegOffsetTag ? directory.jpegOffset : directory.jpegLength) = value;
        } else if (*tag == kSubIfdsTag && size == 4) {
            const std::uint32_t n = std::min<std::uint32_t>(*count, kMaxSubIfds);
            const std::int64_t values = *count <= 1 ? entry + 8 : tiff.Number(entry + 8, 4).value_or(0);
            for (std::uint32_t k = 0; k < n; ++k)
                if (const auto offset = tiff.Number(values + 4 * k, 4)) directory.subIfds.push_back(*offset);
        }
    }
    directory.next = tiff.Number(at + 2 + std::int64_t{12} * *entries, 4).value_or(0);
    return directory;
}

// The pixels of the JPEG stream at offset, from its frame header.
std::int64_t JpegPixels(const TiffReader& tiff, std::int64_t offset, std::int64_t length) {
    const std::int64_t end = offset + length;
    if (tiff.Number(offset, 2, true) != 0xFFD8u) return 0;
    std::int64_t at = offset + 2;
    for (int segment = 0; segment < kMaxJpegSegments && at + 4 <= end; ++segment) {
        unsigned char marker[4];
        if (!tiff.Bytes(at, marker, sizeof marker) || marker[0] != 0xFF) return 0;
        const int type = marker[1];
        const bool frame = type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC;
        if (frame) {
            const auto height = tiff.Number(at + 5, 2, true);
            const auto width = tiff.Number(at + 7, 2, true);
            return height && width ? std::int64_t{*width} * *height : 0;
        }
        if (type == 0xDA || type == 0xD9) return 0;  // image data before any frame header
        at += 2 + (marker[2] << 8 | marker[3]);
    }
    return 0;
}

struct EmbeddedJpeg {
    std::int64_t offset = -1;
    std::int64_t pixels = 0;
};

// The largest JPEG stream that the first directories, or their SubIFDs,
// point at.
EmbeddedJpeg LargestEmbeddedJpeg(int descriptor) {
    TiffReader tiff(descriptor);
    EmbeddedJpeg largest;
    std::optional<std::uint32_t> at = tiff.Start();
    for (int chained = 0; at && *at != 0 && chained < kMaxChain; ++chained) {
        const std::optional<Directory> directory = ReadDirectory(tiff, *at);
        if (!directory) break;
        std::vector<Directory> found{*directory};
        for (const std::uint32_t sub : directory->subIfds)
            if (const auto child = ReadDirectory(tiff, sub)) found.push_back(*child);
        for (const Directory& d : found) {
            if (d.jpegOffset == 0 || d.jpegLength == 0) continue;
            const std::int64_t pixels = JpegPixels(tiff, d.jpegOffset, d.jpegLength);
            if (pixels > largest.pixels && pixels <= kMaxPicturePixels) largest = {d.jpegOffset, pixels};
        }
        at = directory->next;
    }
    return largest;
}

}  // namespace

TiffPicture LargestTiffPicture(VipsSource* source, VipsImage* first, int descriptor) {
    const char* loader = nullptr;
    if (vips_image_get_string(first, "vips-loader", &loader) != 0 || std::strcmp(loader, "tiffload_source") != 0) {
        vips_error_clear();
        return {};
    }
    TiffPicture picture;
    std::int64_t largest = PicturePixels(first);
    const int count =
        vips_image_get_typeof(first, VIPS_META_N_SUBIFDS) ? std::min(vips_image_get_n_subifds(first), kMaxSubIfds) : 0;
    for (int i = 0; i < count; ++i) {
        // Only the header: the pixels wait until the choice is made.
        const ImageRef image(
            vips_image_new_from_source(source, "", "subifd", i, "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
        if (!image.Get()) {
            vips_error_clear();
            continue;
        }
        if (const std::int64_t pixels = PicturePixels(image.Get()); pixels > largest) {
            largest = pixels;
            picture.loadOptions = "subifd=" + std::to_string(i);
        }
    }
    if (const EmbeddedJpeg jpeg = LargestEmbeddedJpeg(descriptor); jpeg.pixels > largest) {
        picture.jpegOffset = jpeg.offset;
    }
    return picture;
}
