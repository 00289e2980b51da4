#include "metadata/container_formats.h"

ContainerMetadata ReadPngContainer(std::string_view) { throw ContainerError("not yet"); }
std::string RewritePngContainer(std::string_view, std::string_view, int) { throw ContainerError("not yet"); }
