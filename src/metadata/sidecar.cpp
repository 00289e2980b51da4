#include "metadata/sidecar.h"

#include <dirent.h>
#include <sys/stat.h>

#include <ctime>
#include <mutex>
#include <unordered_set>

namespace {

constexpr std::string_view kSidecarSuffixes[] = {".xmp", ".XMP"};

// A folder changed this recently may change again within the same tick of
// its file system's clock (two seconds on FAT), unseen by its time stamp.
constexpr std::time_t kSettleSeconds = 2;

// The sidecar names of the folder most recently asked about: the walk goes
// through a folder picture by picture, and a stat of the folder is cheaper
// than one of every name a sidecar might have.
struct FolderSidecars {
    std::string folder;
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    std::unordered_set<std::string> names;
};

std::mutex cacheGuard;
FolderSidecars cache;

bool SameState(const FolderSidecars& held, const std::string& folder, const struct stat& status) {
    return held.folder == folder && held.device == status.st_dev && held.inode == status.st_ino &&
           held.modified.tv_sec == status.st_mtim.tv_sec && held.modified.tv_nsec == status.st_mtim.tv_nsec;
}

std::unordered_set<std::string> ListSidecars(const std::string& folder) {
    std::unordered_set<std::string> names;
    if (DIR* entries = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(entries)) {
            if (IsSidecarName(entry->d_name)) names.emplace(entry->d_name);
        }
        closedir(entries);
    }
    return names;
}

}  // namespace

bool IsSidecarName(std::string_view name) {
    for (const std::string_view suffix : kSidecarSuffixes) {
        if (name.ends_with(suffix)) return true;
    }
    return false;
}

std::string FindSidecar(const std::string& picturePath) {
    const std::size_t slash = picturePath.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : slash == 0 ? "/" : picturePath.substr(0, slash);
    const std::string name = picturePath.substr(slash == std::string::npos ? 0 : slash + 1);
    struct stat status;
    if (name.empty() || stat(folder.c_str(), &status) != 0) return {};

    const std::lock_guard lock(cacheGuard);
    if (!SameState(cache, folder, status)) {
        cache = {folder, status.st_dev, status.st_ino, status.st_mtim, ListSidecars(folder)};
        // Listed, but not kept: the next call lists again.
        if (std::time(nullptr) - status.st_mtim.tv_sec < kSettleSeconds) cache.folder.clear();
    }
    if (cache.names.empty()) return {};

    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string base = picturePath.substr(0, picturePath.size() - name.size());
    for (const std::string& named : {name, stem}) {
        for (const std::string_view suffix : kSidecarSuffixes) {
            const std::string candidate = named + std::string(suffix);
            if (cache.names.contains(candidate)) return base + candidate;
        }
    }
    return {};
}
