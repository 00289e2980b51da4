// Picture files seen as containers of one XMP packet and of native Exif data.
// exempi's file handlers rewrite what they map into XMP (Exif dates, IPTC)
// and damage some formats; these readers and writers touch nothing but the
// packet and the Exif orientation value. Files are handled whole, in memory.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

enum class ContainerFormat { Unknown, Jpeg, Png, Tiff, WebP };

// Malformed, or laid out in a way these writers do not handle (BigTIFF, a
// JPEG packet beyond one segment); the file is then left alone.
class ContainerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The rewrite would move bytes that an absolute offset may name: a JPEG
// whose length would change before data that maker notes (whose offsets are
// not all known) or an MPF index point at. The file is then left alone and
// the choice goes elsewhere (a sidecar).
class ContainerMoveError : public ContainerError {
public:
    using ContainerError::ContainerError;
};

// By content, never by name: phones and messengers mislabel files.
ContainerFormat SniffContainer(std::string_view bytes);

struct ContainerMetadata {
    bool hasPacket = false;
    std::string packet;       // the XMP packet as stored, its xpacket wrapper included when it has one
    int exifOrientation = 0;  // the native Exif (TIFF) Orientation; 0 when the file has none
};

// Raises ContainerError. format is what SniffContainer answered (not Unknown).
ContainerMetadata ReadContainer(ContainerFormat format, std::string_view bytes);

// The file with its XMP packet replaced by packet, or added where it has
// none (an empty packet adds nothing), and, when orientation is not 0, its native Exif orientation value
// set to orientation; JPEG and TIFF gain the tag where they lack it
// (a JPEG without Exif a block of its own, its resolution the JFIF density),
// PNG and WebP only have it patched where present. Every other byte of
// pixels and metadata stays as it was; only the container's own bookkeeping
// (lengths, checksums, the WebP extended header, a directory copied to hold
// a new entry) follows. Raises ContainerError, also where the Orientation
// tag is there but not as the one SHORT viewers read, and ContainerMoveError
// where the rewrite would move what an absolute offset may name.
std::string RewriteContainer(ContainerFormat format, std::string_view bytes, std::string_view packet, int orientation);
