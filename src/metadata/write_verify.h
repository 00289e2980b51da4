// The guard between a rewritten working copy and the picture it would
// replace: a metadata write must never change what the picture shows, nor
// anything else it holds but what the write chose.
#pragma once

#include <string>
#include <string_view>

#include "metadata/xmp_container.h"

// Empty when both files decode, every page of them, to the same pixels and
// the copy decodes without a complaint (a warning, a truncation) that the
// picture does not have; otherwise why not, for the log. A picture that
// already draws the complaint may still be replaced by a copy drawing the
// same one: the structure check is what shows its data untouched.
std::string PixelDifference(const std::string& original, const std::string& copy);

// Empty when copy holds everything original holds outside the XMP packet
// and the native Exif orientation value, each byte of it where readers and
// the file's own offsets expect it; otherwise why not, for the log. Beyond
// those two the copy may differ only in the container's bookkeeping that a
// rewrite changes: segment, chunk and RIFF lengths, checksums of the chunks
// rewritten, the WebP extended header's XMP flag (or that header added to a
// simple file), a JPEG's added Exif block, an IFD0 copied to hold a new
// entry. Embedded images (the Exif thumbnail, MPF images, TIFF strips and
// tiles) must extract, through the copy's own offsets, to the original's
// bytes. A JPEG whose length changed where absolute offsets may name what
// follows is refused as its writer refuses it. Both files are untrusted:
// anything that cannot be read is a reason, never a pass; so is the format
// Unknown, which has no reader.
std::string StructureDifference(ContainerFormat format, std::string_view original, std::string_view copy);
