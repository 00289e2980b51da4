// exempi's PNG handler writes a packet that has become shorter over the old
// one in place and leaves the old packet's tail behind it in the chunk. No
// XMP parser reads such a packet again: the picture's metadata would be lost
// to the saver for good, and the picture with it. Moving the packet's trailer
// to the end of the chunk turns the tail into padding, which the XMP standard
// places just before the trailer.
#pragma once

#include <string>

// Repairs the XMP chunk of the PNG at path, if it needs it, in place.
// Raises std::system_error when the file cannot be read or written.
void RepairPngXmpPadding(const std::string& path);
