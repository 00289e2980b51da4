#include "metadata/raw_preview.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "metadata/picture_decoder.h"
#include "metadata/tiff_structure.h"
#include "metadata/vips_image_ref.h"
#include "metadata/xmp_container.h"

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

struct Directory {
    std::uint32_t jpegOffset = 0;
    std::uint32_t jpegLength = 0;
    std::vector<std::uint32_t> subIfds;
    std::uint32_t next = 0;
};

// Read leniently: a directory whose entries all lie within the file counts,
// whatever its link or value offsets say; one claiming more entries than any
// camera writes does not.
std::optional<Directory> ReadDirectory(const TiffStructure& tiff, std::uint32_t at) {
    try {
        if (tiff.Number(at, 2) > kMaxEntries) return std::nullopt;
        const std::size_t size = tiff.DirectorySize(at);
        if (!tiff.Within(at, size - 4)) return std::nullopt;
        Directory directory;
        for (const TiffEntry& entry : tiff.EntriesWithin(at)) {
            const int width = entry.type == kTiffShortType ? 2 : 4;  // or LONG and IFD
            if (entry.tag == kJpegOffsetTag || entry.tag == kJpegLengthTag) {
                (entry.tag == kJpegOffsetTag ? directory.jpegOffset : directory.jpegLength) =
                    tiff.Number(entry.at + 8, width);
            } else if (entry.tag == kSubIfdsTag && width == 4) {
                const std::uint32_t n = std::min<std::uint32_t>(entry.count, kMaxSubIfds);
                const std::uint64_t values = entry.count <= 1 ? entry.at + 8 : tiff.Number(entry.at + 8, 4);
                for (std::uint32_t k = 0; k < n; ++k) {
                    if (tiff.Within(values + 4 * k, 4)) directory.subIfds.push_back(tiff.Number(values + 4 * k, 4));
                }
            }
        }
        if (tiff.Within(at + size - 4, 4)) directory.next = tiff.NextDirectory(at);
        return directory;
    } catch (const ContainerError&) {
        return std::nullopt;
    }
}

// Big-endian, as JPEG numbers are, whatever the TIFF structure's order.
std::optional<std::uint32_t> JpegNumber(const TiffStructure& tiff, std::uint64_t at) {
    if (!tiff.Within(at, 2)) return std::nullopt;
    unsigned char bytes[2];
    tiff.Read(at, sizeof bytes, bytes);
    return std::uint32_t{bytes[0]} << 8 | bytes[1];
}

// The pixels of the JPEG stream at offset, from its frame header.
std::int64_t JpegPixels(const TiffStructure& tiff, std::int64_t offset, std::int64_t length) {
    const std::int64_t end = offset + length;
    if (JpegNumber(tiff, offset) != 0xFFD8u) return 0;
    std::int64_t at = offset + 2;
    for (int segment = 0; segment < kMaxJpegSegments && at + 4 <= end; ++segment) {
        unsigned char marker[4];
        if (!tiff.Within(at, sizeof marker)) return 0;
        tiff.Read(at, sizeof marker, marker);
        if (marker[0] != 0xFF) return 0;
        const int type = marker[1];
        const bool frame = type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC;
        if (frame) {
            const auto height = JpegNumber(tiff, at + 5);
            const auto width = JpegNumber(tiff, at + 7);
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
    EmbeddedJpeg largest;
    try {
        const TiffStructure tiff = TiffStructure::OfFile(descriptor);
        std::uint32_t at = tiff.FirstDirectory();
        for (int chained = 0; at != 0 && chained < kMaxChain; ++chained) {
            const std::optional<Directory> directory = ReadDirectory(tiff, at);
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
    } catch (const ContainerError&) {
        // No classic TIFF, or a file that shrank while read: what was found
        // before stands.
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
