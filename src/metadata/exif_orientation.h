// The Orientation tag (0x0112) of a TIFF structure's first directory: a TIFF
// file, or the Exif block of a JPEG, PNG (eXIf) or WebP (EXIF) file. Also
// how an entry joins that directory without moving anything already there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "metadata/tiff_structure.h"

struct TiffOrientation {
    std::size_t offset = 0;  // of the 16-bit value, from the start of the TIFF structure
    bool bigEndian = false;
    int value = 0;
};

// The tag when IFD0 holds it as one SHORT; nullopt when absent or when the
// structure is not a TIFF header (a leading "Exif\0\0" is not skipped here).
std::optional<TiffOrientation> FindTiffOrientation(std::string_view tiff);

// Writes value over the tag found by FindTiffOrientation in tiff's bytes.
void SetTiffOrientation(char* tiff, const TiffOrientation& where, int value);

// value, size bytes wide, written at tiff[at] in the structure's byte order.
void PutTiffNumber(std::string& tiff, std::size_t at, std::uint32_t value, int size, bool bigEndian);

// data appended on the word boundary TIFF values start on; where it went.
// Raises ContainerError when the structure would outgrow 32-bit offsets.
std::size_t AppendTiffData(std::string& tiff, std::string_view data);

// Makes IFD0 a copy of itself with an entry for tag put in tag order, its
// count and value field zero for the caller to fill; answers the entry's
// offset. The copy is appended (over the old directory where that ends
// tiff) and the header pointed at it, so the old directory's out-of-line
// values and next-directory link are shared by absolute offset and nothing
// else moves. Raises ContainerError when IFD0
// already holds tag (in whatever form), is full, or is not within tiff.
std::size_t AddFirstDirectoryEntry(std::string& tiff, std::uint16_t tag, std::uint16_t type);

// The Orientation tag added as one SHORT to an IFD0 that FindTiffOrientation
// found without it; raises ContainerError as AddFirstDirectoryEntry does.
void AddTiffOrientation(std::string& tiff, int value);
