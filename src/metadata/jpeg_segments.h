// The metadata segments of a JPEG file, shared by its writer and by the
// check of what the writer made, and what in them names data by its
// position in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::uint8_t kJpegApp0 = 0xE0;
constexpr std::uint8_t kJpegApp1 = 0xE1;
constexpr std::uint8_t kJpegApp2 = 0xE2;
constexpr std::string_view kJpegXmpHeader{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kJpegExifHeader{"Exif\0\0", 6};
constexpr std::string_view kJpegMpfHeader{"MPF\0", 4};

struct JpegSegment {
    std::size_t start = 0;    // of the marker's 0xFF
    std::size_t payload = 0;  // after the length field
    std::size_t end = 0;
    std::uint8_t marker = 0;

    std::string_view Payload(std::string_view bytes) const { return bytes.substr(payload, end - payload); }
    bool Is(std::string_view bytes, std::uint8_t type, std::string_view header) const {
        return marker == type && Payload(bytes).starts_with(header);
    }
};

// The segments from SOI to the first SOS. What follows SOS is entropy-coded
// data with markers of its own and is never looked into. Raises
// ContainerError.
std::vector<JpegSegment> JpegMetadataSegments(std::string_view bytes);

// The first segment of that type whose payload starts with header; nullptr
// when there is none.
const JpegSegment* FirstJpegSegment(const std::vector<JpegSegment>& segments, std::string_view bytes,
                                    std::uint8_t type, std::string_view header);

// Why the bytes from at onwards must stay where they are: an absolute file
// offset may name them. Empty when nothing known could. A maker note counts
// wherever it is, since vendors' offsets are not all known; an MPF index only
// when it lies before at, since its offsets count from its own header and
// move with it.
std::string JpegMoveHazard(std::string_view bytes, const std::vector<JpegSegment>& segments, std::size_t at);

struct EmbeddedImage {
    std::size_t start = 0;  // in the file
    std::size_t size = 0;
};

// The images an MPF index names besides the main one, each checked to lie in
// the file and to start as a JPEG does. Raises ContainerError.
std::vector<EmbeddedImage> JpegMpfImages(std::string_view bytes, const std::vector<JpegSegment>& segments);
