#include "platform/dir_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

struct DirectorySearch {
    DIR* dir = nullptr;
    std::string folder;
    std::string realFolder;  // resolved once, for the loop check of links
};

namespace {

bool IsAncestorOrSelf(std::string_view ancestor, std::string_view path) {
    if (ancestor == "/") return true;
    return path.substr(0, ancestor.size()) == ancestor && (path.size() == ancestor.size() || path[ancestor.size()] == '/');
}

void Describe(DirectorySearch* s, const dirent* entry, WIN32_FIND_DATA* data) {
    data->cFileName = entry->d_name;
    data->directory = false;
    data->hidden = entry->d_name[0] == '.';
    unsigned char type = entry->d_type;
    if (type == DT_DIR) {
        data->directory = true;
        return;
    }
    if (type == DT_REG) return;
    struct stat info;
    bool link = type == DT_LNK;
    if (type == DT_UNKNOWN) {
        if (fstatat(dirfd(s->dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            data->hidden = true;
            return;
        }
        link = S_ISLNK(info.st_mode);
    }
    if (fstatat(dirfd(s->dir), entry->d_name, &info, 0) != 0) {
        data->hidden = true;  // a dangling link
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        data->directory = true;
        if (link) {
            char resolved[PATH_MAX];
            std::string target = s->folder + "/" + entry->d_name;
            if (s->realFolder.empty() || !realpath(target.c_str(), resolved) ||
                IsAncestorOrSelf(resolved, s->realFolder))
                data->hidden = true;
        }
    } else if (!S_ISREG(info.st_mode)) {
        data->hidden = true;
    }
}

bool Advance(DirectorySearch* s, WIN32_FIND_DATA* data) {
    if (!s || !s->dir) return false;
    const dirent* entry = readdir(s->dir);
    if (!entry) return false;
    Describe(s, entry, data);
    return true;
}

}  // namespace

DirectorySearch* FindFirstFile(const std::string& pattern, WIN32_FIND_DATA* data) {
    if (pattern.size() < 2 || pattern.compare(pattern.size() - 2, 2, "/*") != 0) return nullptr;
    auto* s = new DirectorySearch;
    s->folder = pattern.substr(0, pattern.size() - 2);
    // An empty folder name opens nothing rather than the root of the file system.
    // Non-blocking, and only a folder: opening it must never wait.
    int fd = s->folder.empty() ? -1 : ::open(s->folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        s->dir = fdopendir(fd);
        if (!s->dir) close(fd);
    }
    char resolved[PATH_MAX];
    if (s->dir && realpath(s->folder.c_str(), resolved)) s->realFolder = resolved;
    if (!Advance(s, data)) *data = WIN32_FIND_DATA{};
    return s;
}

bool FindNextFile(DirectorySearch* search, WIN32_FIND_DATA* data) { return Advance(search, data); }

bool FindClose(DirectorySearch* search) {
    if (!search) return false;
    if (search->dir) closedir(search->dir);
    delete search;
    return true;
}
