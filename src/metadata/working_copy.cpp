#include "metadata/working_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace {

// Inside the private folder. The note names the picture a backup belongs
// to; it is complete before the backup is, so that a backup that has its
// name always says where it goes back to.
constexpr char kNoteName[] = "picture";
constexpr char kBackupName[] = "backup";
constexpr char kPartialBackupName[] = "backup.partial";
// The private folder's name, before the XXXXXX mkdtemp fills in.
constexpr char kFolderPattern[] = ".kaleidra-XXXXXX";
// Folders the toolkit might make inside the private folder are emptied to
// this depth at most.
constexpr int kMaxFolderDepth = 4;
// Tries at a fresh private folder when a visit takes each one for debris
// before it is locked.
constexpr int kFolderAttempts = 8;

[[noreturn]] void Fail(const char* what, int error = errno) {
    throw std::system_error(error, std::generic_category(), what);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

void CloseIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Reads at an offset so that whatever else holds the descriptor, and where
// it has read to, makes no difference.
ssize_t ReadAt(int fd, char* buffer, std::size_t size, off_t offset) {
    for (;;) {
        const ssize_t got = pread(fd, buffer, size, offset);
        if (got >= 0 || errno != EINTR) return got;
    }
}

void WriteAt(int fd, const char* data, std::size_t size, off_t offset) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (put < 0) {
            if (errno == EINTR) continue;
            Fail("write");
        }
        done += static_cast<std::size_t>(put);
    }
}

// Makes to's bytes those of from, in place: to keeps its inode, and with it
// its owner, group, mode, links and extended attributes.
void CopyContents(int from, int to) {
    char buffer[1 << 16];
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ReadAt(from, buffer, sizeof buffer, offset);
        if (got < 0) Fail("read");
        if (got == 0) break;
        WriteAt(to, buffer, static_cast<std::size_t>(got), offset);
        offset += got;
    }
    if (ftruncate(to, offset) != 0) Fail("ftruncate");
    if (fsync(to) != 0) Fail("fsync");
}

bool SameContents(int one, int other) {
    struct stat first;
    struct stat second;
    if (fstat(one, &first) != 0 || fstat(other, &second) != 0) Fail("fstat");
    if (first.st_size != second.st_size) return false;
    char left[1 << 16];
    char right[1 << 16];
    for (off_t offset = 0; offset < first.st_size;) {
        const ssize_t got = ReadAt(one, left, sizeof left, offset);
        if (got < 0) Fail("read");
        if (got == 0) return false;  // shrunk while read
        for (ssize_t matched = 0; matched < got;) {
            const ssize_t also = ReadAt(other, right + matched, static_cast<std::size_t>(got - matched),
                                        offset + matched);
            if (also < 0) Fail("read");
            if (also == 0) return false;
            matched += also;
        }
        if (std::memcmp(left, right, static_cast<std::size_t>(got)) != 0) return false;
        offset += got;
    }
    return true;
}

// Writes a small file whole, flushed before anything that relies on it.
void WriteNote(int folder, const char* name, const std::string& text) {
    const Descriptor file(openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.Get() < 0) Fail("open note");
    WriteAt(file.Get(), text.data(), text.size(), 0);
    if (fsync(file.Get()) != 0) Fail("fsync");
}

// Reads the note naming the picture; empty when there is none or it names
// nothing in the picture's own folder.
std::string ReadNote(int folder) {
    const Descriptor file(openat(folder, kNoteName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.Get() < 0) return {};
    char buffer[NAME_MAX + 2];
    std::string name;
    for (ssize_t got; (got = ReadAt(file.Get(), buffer, sizeof buffer, static_cast<off_t>(name.size()))) > 0;) {
        name.append(buffer, static_cast<std::size_t>(got));
        if (name.size() > NAME_MAX) return {};
    }
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || IsWriteDebris(name)) {
        return {};
    }
    return name;
}

// The copy keeps the picture's suffix, in case a handler goes by it; a
// suffix too long to be one is left off, so the copy's name always fits.
std::string Suffix(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) return {};
    return name.substr(dot);
}

std::string CopyNameFor(const std::string& pictureName) { return "copy" + Suffix(pictureName); }

bool HasExtendedAttributes(int fd) {
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0) return errno != ENOTSUP;  // unknown: keep them as if there were some
    return size > 0;
}

// Whether name in parent is still the folder held open as folder: a visit
// may have removed it, and another made a new one of the same name.
bool StillNamed(int parent, const char* name, int folder) {
    struct stat named;
    struct stat held;
    return fstatat(parent, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(folder, &held) == 0 &&
           held.st_nlink > 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// Empties a folder held open, never following a symbolic link out of it.
void EmptyFolder(int folder, int depth) {
    const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return;
    DIR* dir = fdopendir(listing);
    if (!dir) {
        close(listing);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    for (const std::string& name : names) {
        if (unlinkat(folder, name.c_str(), 0) == 0 || (errno != EISDIR && errno != EPERM) || depth == 0) continue;
        const Descriptor inner(openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (inner.Get() < 0) continue;
        EmptyFolder(inner.Get(), depth - 1);
        unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    }
}

void RemoveFolder(int parent, const char* name, int folder) {
    EmptyFolder(folder, kMaxFolderDepth);
    if (StillNamed(parent, name, folder)) unlinkat(parent, name, AT_REMOVEDIR);
}

// Undoes a copy-back into the picture that was cut short. Whether the
// private folder may go: not while it holds the only way back.
bool UndoCutShortCopyBack(int parent, int folder) {
    const Descriptor backup(openat(folder, kBackupName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    // Without a complete backup the picture was never touched.
    if (backup.Get() < 0) return errno == ENOENT;
    const std::string name = ReadNote(folder);
    if (name.empty()) return false;
    const Descriptor picture(
        openat(parent, name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
    if (picture.Get() < 0) return errno == ENOENT;  // gone since: nothing to put back
    struct stat status;
    if (fstat(picture.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    if (SameContents(picture.Get(), backup.Get())) return true;
    // Cut short only after the copy-back finished.
    const Descriptor copy(openat(folder, CopyNameFor(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (copy.Get() >= 0 && SameContents(picture.Get(), copy.Get())) return true;
    CopyContents(backup.Get(), picture.Get());
    return true;
}

}  // namespace

WorkingCopy::WorkingCopy(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) Fail("realpath");
    picturePath_ = resolved;
    std::free(resolved);
    const auto slash = picturePath_.rfind('/');
    pictureName_ = picturePath_.substr(slash + 1);
    const std::string folder = slash == 0 ? "/" : picturePath_.substr(0, slash);

    // A write finishes what earlier writes in its folder left undone.
    RemoveFolderWriteDebris(folder);

    picture_ = open(picturePath_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (picture_ < 0) Fail("open");
    try {
        if (fstat(picture_, &taken_) != 0) Fail("fstat");
        if (!S_ISREG(taken_.st_mode)) Fail("not a regular file", EINVAL);
        // Whoever took every write permission away meant the picture to stay
        // as it is, even for a saver that runs with the power to override that.
        if ((taken_.st_mode & 0222) == 0) Fail("read-only picture", EACCES);
        parent_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parent_ < 0) Fail("open folder");

        // A visit may take the new folder for a dead write's in the moment
        // before it is locked; the link count tells, once the lock is held.
        for (int attempt = 0; folderLock_ < 0; ++attempt) {
            if (attempt == kFolderAttempts) Fail("private folder", EAGAIN);
            std::string name = (slash == 0 ? std::string() : folder) + "/" + kFolderPattern;
            if (!mkdtemp(name.data())) Fail("mkdtemp");
            folderPath_ = name;
            folderName_ = name.substr(name.rfind('/') + 1);
            Descriptor candidate(
                openat(parent_, folderName_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (candidate.Get() < 0) {
                if (errno == ENOENT) continue;
                const int error = errno;
                unlinkat(parent_, folderName_.c_str(), AT_REMOVEDIR);
                Fail("open private folder", error);
            }
            while (flock(candidate.Get(), LOCK_EX) != 0) {
                if (errno != EINTR) Fail("flock");
            }
            if (StillNamed(parent_, folderName_.c_str(), candidate.Get())) folderLock_ = candidate.Release();
        }

        copyName_ = CopyNameFor(pictureName_);
        copyPath_ = folderPath_ + "/" + copyName_;
        const Descriptor copy(
            openat(folderLock_, copyName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (copy.Get() < 0) Fail("open copy");
        CopyContents(picture_, copy.Get());
    } catch (...) {
        Discard();
        throw;
    }
}

WorkingCopy::~WorkingCopy() { Discard(); }

void WorkingCopy::Discard() noexcept {
    if (folderLock_ >= 0 && !backupNeeded_) RemoveFolder(parent_, folderName_.c_str(), folderLock_);
    CloseIfOpen(folderLock_);
    CloseIfOpen(parent_);
    CloseIfOpen(picture_);
}

void WorkingCopy::ReplaceOriginal() {
    // The editor may have replaced the copy by a new file of its own making.
    const Descriptor copy(openat(folderLock_, copyName_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (copy.Get() < 0) Fail("open copy");
    struct stat copied;
    if (fstat(copy.Get(), &copied) != 0) Fail("fstat");
    if (!S_ISREG(copied.st_mode)) Fail("copy not a regular file", EINVAL);
    if (fsync(copy.Get()) != 0) Fail("fsync");

    // The copy holds the picture as it was when copied; a change made since
    // by someone else would be lost.
    struct stat now;
    struct stat named;
    if (fstat(picture_, &now) != 0) Fail("fstat");
    if (fstatat(parent_, pictureName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) Fail("stat");
    if (named.st_dev != now.st_dev || named.st_ino != now.st_ino || now.st_size != taken_.st_size ||
        now.st_mtim.tv_sec != taken_.st_mtim.tv_sec || now.st_mtim.tv_nsec != taken_.st_mtim.tv_nsec) {
        Fail("picture changed meanwhile", EAGAIN);
    }

    // A rename is atomic, but makes a new file: it keeps only what the copy
    // can be given, and only the owner can give it everything.
    bool renameKeepsAll = now.st_uid == geteuid() && now.st_nlink == 1 && !HasExtendedAttributes(picture_);
    if (renameKeepsAll && copied.st_gid != now.st_gid) {
        renameKeepsAll = fchown(copy.Get(), static_cast<uid_t>(-1), now.st_gid) == 0;
    }
    if (!renameKeepsAll) {
        CopyBack(copy.Get());
        return;
    }
    if (fchmod(copy.Get(), now.st_mode & 07777) != 0) Fail("fchmod");
    if (renameat(folderLock_, copyName_.c_str(), parent_, pictureName_.c_str()) != 0) Fail("rename");
    // The rename itself reaches the disk with the folder.
    fsync(parent_);
}

void WorkingCopy::CopyBack(int copy) {
    // From an earlier try that failed before the copy-back began.
    unlinkat(folderLock_, kNoteName, 0);
    unlinkat(folderLock_, kPartialBackupName, 0);
    WriteNote(folderLock_, kNoteName, pictureName_);
    {
        const Descriptor partial(openat(folderLock_, kPartialBackupName,
                                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (partial.Get() < 0) Fail("open backup");
        CopyContents(picture_, partial.Get());
    }
    if (renameat(folderLock_, kPartialBackupName, folderLock_, kBackupName) != 0) Fail("rename backup");
    if (fsync(folderLock_) != 0) Fail("fsync");

    backupNeeded_ = true;
    try {
        CopyContents(copy, picture_);
    } catch (...) {
        // Put back now what the next visit would otherwise have to.
        try {
            const Descriptor backup(openat(folderLock_, kBackupName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
            if (backup.Get() >= 0) {
                CopyContents(backup.Get(), picture_);
                backupNeeded_ = false;
            }
        } catch (...) {
        }
        throw;
    }
    backupNeeded_ = false;
    unlinkat(folderLock_, kBackupName, 0);
}

bool IsWriteDebris(std::string_view name) { return name.starts_with(".kaleidra-"); }

void RemoveWriteDebris(const std::string& folder, const std::string& name) {
    try {
        if (!IsWriteDebris(name) || name.find('/') != std::string::npos) return;
        const Descriptor parent(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.Get() < 0) return;
        struct stat status;
        if (fstatat(parent.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return;
        // Older builds left plain copies (and the toolkit's temporaries beside
        // them); a link of that name goes without being followed.
        if (!S_ISDIR(status.st_mode)) {
            unlinkat(parent.Get(), name.c_str(), 0);
            return;
        }
        const Descriptor own(openat(parent.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (own.Get() < 0) return;
        // Locked by a write still running, here or in another process.
        if (flock(own.Get(), LOCK_EX | LOCK_NB) != 0) return;
        if (!StillNamed(parent.Get(), name.c_str(), own.Get())) return;
        if (!UndoCutShortCopyBack(parent.Get(), own.Get())) return;
        RemoveFolder(parent.Get(), name.c_str(), own.Get());
    } catch (...) {
        // Left for the next visit.
    }
}

void RemoveFolderWriteDebris(const std::string& folder) {
    std::vector<std::string> debris;
    if (DIR* entries = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(entries)) {
            if (IsWriteDebris(entry->d_name)) debris.emplace_back(entry->d_name);
        }
        closedir(entries);
    }
    for (const std::string& name : debris) RemoveWriteDebris(folder, name);
}
