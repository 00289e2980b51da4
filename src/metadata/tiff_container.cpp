#include "metadata/container_formats.h"

ContainerMetadata ReadTiffContainer(std::string_view) { throw ContainerError("not yet"); }
std::string RewriteTiffContainer(std::string_view, std::string_view, int) { throw ContainerError("not yet"); }
