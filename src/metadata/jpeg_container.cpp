#include "metadata/container_formats.h"

ContainerMetadata ReadJpegContainer(std::string_view) { throw ContainerError("not yet"); }
std::string RewriteJpegContainer(std::string_view, std::string_view, int) { throw ContainerError("not yet"); }
