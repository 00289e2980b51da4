#include "metadata/xmp_container.h"

#include "metadata/container_formats.h"

ContainerFormat SniffContainer(std::string_view) { return ContainerFormat::Unknown; }

ContainerMetadata ReadContainer(ContainerFormat, std::string_view) { throw ContainerError("not yet"); }

std::string RewriteContainer(ContainerFormat, std::string_view, std::string_view, int) {
    throw ContainerError("not yet");
}
