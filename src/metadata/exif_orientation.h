// The Orientation tag (0x0112) of a TIFF structure's first directory: a TIFF
// file, or the Exif block of a JPEG, PNG (eXIf) or WebP (EXIF) file.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

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
