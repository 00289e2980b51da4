// The program's own resources (pictures, icon), found by type and numeric id
// as a module's resources are. The platform knows no program artwork: the
// program registers its table of embedded bytes, and lookups search it.
#pragma once

#include <cstdint>
#include <span>

enum class ResourceType { Png, Icon };

struct EmbeddedResource {
    ResourceType type;
    int id;
    std::span<const std::uint8_t> bytes;
};

// Adds a table to the ones searched. The table and its bytes must live as
// long as the process; registering happens during static initialisation.
void RegisterResources(std::span<const EmbeddedResource> table);

// The bytes of a resource, or an empty span when there is no such resource.
std::span<const std::uint8_t> LoadResourceBytes(ResourceType type, int id);
