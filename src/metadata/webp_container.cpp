#include "metadata/container_formats.h"

ContainerMetadata ReadWebPContainer(std::string_view) { throw ContainerError("not yet"); }
std::string RewriteWebPContainer(std::string_view, std::string_view, int) { throw ContainerError("not yet"); }
