// Where photo managers keep a picture's rating and label when they leave the
// picture itself alone: an XMP file beside it, named "NAME.EXT.xmp" or
// "NAME.xmp", the suffix in either case.
#pragma once

#include <string>
#include <string_view>

// Whether name is a sidecar's; a sidecar is never a picture of its own.
bool IsSidecarName(std::string_view name);

// The picture's sidecar, the conventions tried in the order above; empty
// when it has none. Costs a stat of each name tried.
std::string FindSidecar(const std::string& picturePath);
