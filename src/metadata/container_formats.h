// One reader and one writer per container format, behind xmp_container.h.
#pragma once

#include "metadata/xmp_container.h"

ContainerMetadata ReadJpegContainer(std::string_view bytes);
std::string RewriteJpegContainer(std::string_view bytes, std::string_view packet, int orientation);
ContainerMetadata ReadTiffContainer(std::string_view bytes);
std::string RewriteTiffContainer(std::string_view bytes, std::string_view packet, int orientation);
ContainerMetadata ReadPngContainer(std::string_view bytes);
std::string RewritePngContainer(std::string_view bytes, std::string_view packet, int orientation);
ContainerMetadata ReadWebPContainer(std::string_view bytes);
std::string RewriteWebPContainer(std::string_view bytes, std::string_view packet, int orientation);
