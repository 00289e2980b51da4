#include "platform/resource.h"

#include <vector>

namespace {

// A function-local static, so registration from another translation unit's
// static initialiser never finds it unconstructed.
std::vector<std::span<const EmbeddedResource>>& Tables() {
    static std::vector<std::span<const EmbeddedResource>> tables;
    return tables;
}

}  // namespace

void RegisterResources(std::span<const EmbeddedResource> table) { Tables().push_back(table); }

std::span<const std::uint8_t> LoadResourceBytes(ResourceType type, int id) {
    for (const auto& table : Tables()) {
        for (const EmbeddedResource& entry : table) {
            if (entry.type == type && entry.id == id) return entry.bytes;
        }
    }
    return {};
}
