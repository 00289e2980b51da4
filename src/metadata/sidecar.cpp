#include "metadata/sidecar.h"

#include <sys/stat.h>

namespace {

constexpr std::string_view kSidecarSuffixes[] = {".xmp", ".XMP"};

}  // namespace

bool IsSidecarName(std::string_view name) {
    for (const std::string_view suffix : kSidecarSuffixes) {
        if (name.ends_with(suffix)) return true;
    }
    return false;
}

std::string FindSidecar(const std::string& picturePath) {
    const std::size_t slash = picturePath.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (nameStart >= picturePath.size()) return {};
    // A leading dot belongs to a hidden name, not to an extension.
    const std::size_t dot = picturePath.rfind('.');
    const std::string stem =
        dot == std::string::npos || dot <= nameStart ? picturePath : picturePath.substr(0, dot);
    // A stat of a name that is not there costs less than listing the folder,
    // and sees a sidecar the moment it appears.
    for (const std::string& named : {picturePath, stem}) {
        for (const std::string_view suffix : kSidecarSuffixes) {
            const std::string candidate = named + std::string(suffix);
            struct stat status;
            if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode)) return candidate;
        }
    }
    return {};
}
