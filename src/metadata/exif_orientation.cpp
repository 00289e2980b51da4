#include "metadata/exif_orientation.h"

std::optional<TiffOrientation> FindTiffOrientation(std::string_view) { return std::nullopt; }

void SetTiffOrientation(char*, const TiffOrientation&, int) {}
