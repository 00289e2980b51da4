#include "metadata/file_check.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <unordered_map>

namespace {

// Kernel file systems that present state as files.
bool IsPseudoFileSystem(long type) {
    switch (type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case BINFMTFS_MAGIC:
    case 0x62656570:  // configfs
    case 0x65735543:  // fusectl
    case 0x19800202:  // mqueue
        return true;
    default:
        return false;
    }
}

// A walk over a large tree meets a few unreadable files per folder at
// most; a bound keeps a pathological one from growing without end.
constexpr std::size_t kMostRemembered = 20000;

std::unordered_map<std::string, FileStamp>& Unreadable() {
    static std::unordered_map<std::string, FileStamp> files;
    return files;
}

}  // namespace

std::optional<FileStamp> OrdinaryFile(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) return std::nullopt;
    struct statfs system;
    if (statfs(path.c_str(), &system) != 0 || IsPseudoFileSystem(static_cast<long>(system.f_type))) {
        return std::nullopt;
    }
    return FileStamp{status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

void RememberUnreadable(const std::string& path, const FileStamp& stamp) {
    if (Unreadable().size() >= kMostRemembered) Unreadable().clear();
    Unreadable()[path] = stamp;
}

bool KnownUnreadable(const std::string& path, const FileStamp& stamp) {
    const auto known = Unreadable().find(path);
    return known != Unreadable().end() && known->second == stamp;
}
