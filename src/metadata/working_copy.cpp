#include "metadata/working_copy.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "metadata/working_copy_internal.h"

using namespace working_copy_internal;

namespace {

// Inside the private folder, the backup while it is taken: only a complete
// one has the backup's name.
constexpr char kPartialBackupName[] = "backup.partial";
// The private folder's name, before the XXXXXX mkdtemp fills in.
constexpr char kFolderPattern[] = ".kaleidra-XXXXXX";
// Tries at a fresh private folder when a visit takes each one for debris
// before it is locked.
constexpr int kFolderAttempts = 8;

void CloseIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

FileStamp StampOf(const struct stat& status) {
    return {status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

constexpr gid_t kOwnGroup = static_cast<gid_t>(-1);

// Gives what a write makes mode's group access only in group (or in the
// group it was made with), and others none.
void LimitAccess(int fd, mode_t mode, gid_t group) {
    struct stat own;
    if (fstat(fd, &own) != 0) Fail("fstat");
    if (group != kOwnGroup && own.st_gid != group && fchown(fd, static_cast<uid_t>(-1), group) != 0) {
        mode &= ~(S_ISGID | S_IRWXG);
    }
    if (fchmod(fd, mode & ~S_IRWXO) != 0) Fail("fchmod");
}

// A new file in the private folder, no more readable than the picture
// whose mode and group are given.
int CreateInside(int folder, const char* name, mode_t mode, gid_t group) {
    Descriptor file(openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.Get() < 0) Fail("open");
    LimitAccess(file.Get(), (mode & 0660) | 0600, group);
    return file.Release();
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool HasExtendedAttributes(int fd) {
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0) return errno != ENOTSUP;  // unknown: keep them as if there were some
    return size > 0;
}

// A write finishes what earlier writes in its folder left undone, and does
// not start on a picture whose earlier write it could not finish.
void RefusePending(const std::string& folder, const std::string& name) {
    for (const PendingWrite& pending : RemoveFolderWriteDebris(folder)) {
        if (pending.picture == name) Fail("an interrupted write of this picture is still pending", EBUSY);
        if (pending.picture.empty()) Fail("an interrupted write in the picture's folder cannot be read", EBUSY);
    }
}

}  // namespace

WorkingCopy::WorkingCopy(const std::string& path, const FileStamp* shown) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) Fail("realpath");
    picturePath_ = resolved;
    std::free(resolved);
    pictureName_ = picturePath_.substr(picturePath_.rfind('/') + 1);
    const std::string folder = FolderOf(picturePath_);
    RefusePending(folder, pictureName_);

    picture_ = open(picturePath_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (picture_ < 0) Fail("open");
    try {
        if (fstat(picture_, &taken_) != 0) Fail("fstat");
        if (!S_ISREG(taken_.st_mode)) Fail("not a regular file", EINVAL);
        // Whoever took every write permission away meant the picture to stay
        // as it is, even for a saver that runs with the power to override that.
        if ((taken_.st_mode & 0222) == 0) Fail("read-only picture", EACCES);
        // Another program may have moved another file over the name.
        if (shown && StampOf(taken_) != *shown) Fail("the picture changed since it was shown", ESTALE);
        MakePrivateFolder(folder);
        const Descriptor copy(CreateInside(folderLock_, copyName_.c_str(), taken_.st_mode, taken_.st_gid));
        CopyContents(picture_, copy.Get());
    } catch (...) {
        Discard();
        throw;
    }
}

WorkingCopy WorkingCopy::ForNewFile(const std::string& path, mode_t mode) { return WorkingCopy(path, mode, NewFile{}); }

WorkingCopy::WorkingCopy(const std::string& path, mode_t mode, NewFile) : newFileMode_(mode & 07777) {
    const auto slash = path.rfind('/');
    pictureName_ = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!IsEntryName(pictureName_)) Fail("not a file name", EINVAL);
    const std::string given = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char* resolved = realpath(given.c_str(), nullptr);
    if (!resolved) Fail("realpath");
    const std::string folder = resolved;
    std::free(resolved);
    picturePath_ = (folder == "/" ? "" : folder) + "/" + pictureName_;
    RefusePending(folder, pictureName_);
    try {
        MakePrivateFolder(folder);
        struct stat existing;
        if (fstatat(parent_, pictureName_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) Fail("file exists", EEXIST);
        if (errno != ENOENT) Fail("stat");
        // In the group a file made in the folder gets.
        const Descriptor copy(CreateInside(folderLock_, copyName_.c_str(), *newFileMode_, kOwnGroup));
    } catch (...) {
        Discard();
        throw;
    }
}

WorkingCopy::WorkingCopy(WorkingCopy&& other) noexcept
    : picturePath_(std::move(other.picturePath_)),
      pictureName_(std::move(other.pictureName_)),
      folderPath_(std::move(other.folderPath_)),
      folderName_(std::move(other.folderName_)),
      copyName_(std::move(other.copyName_)),
      copyPath_(std::move(other.copyPath_)),
      picture_(std::exchange(other.picture_, -1)),
      parent_(std::exchange(other.parent_, -1)),
      folderLock_(std::exchange(other.folderLock_, -1)),
      taken_(other.taken_),
      backupNeeded_(std::exchange(other.backupNeeded_, false)),
      newFileMode_(other.newFileMode_) {}

WorkingCopy::~WorkingCopy() { Discard(); }

void WorkingCopy::MakePrivateFolder(const std::string& folder) {
    parent_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent_ < 0) Fail("open folder");
    struct stat parent;
    if (fstat(parent_, &parent) != 0) Fail("fstat");

    // A visit may take the new folder for a dead write's in the moment
    // before it is locked; the link count tells, once the lock is held.
    for (int attempt = 0; folderLock_ < 0; ++attempt) {
        if (attempt == kFolderAttempts) Fail("private folder", EAGAIN);
        std::string name = (folder == "/" ? std::string() : folder) + "/" + kFolderPattern;
        if (!mkdtemp(name.data())) Fail("mkdtemp");
        folderPath_ = name;
        folderName_ = name.substr(name.rfind('/') + 1);
        Descriptor candidate(openat(parent_, folderName_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
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
    // Open to whom the picture's folder lets in, so that whoever else may
    // write the picture can finish or undo what this write leaves.
    LimitAccess(folderLock_, (parent.st_mode & (S_ISGID | S_IRWXG)) | S_IRWXU, parent.st_gid);

    copyName_ = CopyNameFor(pictureName_);
    copyPath_ = folderPath_ + "/" + copyName_;
}

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
    if (newFileMode_) {
        PlaceNewFile(copy.Get());
        return;
    }

    // The copy holds the picture as it was when copied; a change made since
    // by someone else would be lost.
    struct stat now;
    struct stat named;
    if (fstat(picture_, &now) != 0) Fail("fstat");
    if (fstatat(parent_, pictureName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) Fail("stat");
    if (named.st_dev != now.st_dev || named.st_ino != now.st_ino || StampOf(now) != StampOf(taken_)) {
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

void WorkingCopy::PlaceNewFile(int copy) {
    if (fchmod(copy, *newFileMode_) != 0) Fail("fchmod");
    // Never over a file that appeared under the name meanwhile.
    if (renameat2(folderLock_, copyName_.c_str(), parent_, pictureName_.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) Fail("rename");
        // A file system that knows no such rename refuses a link the same way.
        if (linkat(folderLock_, copyName_.c_str(), parent_, pictureName_.c_str(), 0) != 0) Fail("link");
    }
    fsync(parent_);
}

void WorkingCopy::CopyBack(int copy) {
    // From an earlier try that failed before the copy-back began.
    unlinkat(folderLock_, kNoteName, 0);
    unlinkat(folderLock_, kPartialBackupName, 0);
    {
        const Descriptor note(CreateInside(folderLock_, kNoteName, taken_.st_mode, taken_.st_gid));
        const std::string text = NoteText(StampOf(taken_), pictureName_);
        WriteAt(note.Get(), text.data(), text.size(), 0);
        if (fsync(note.Get()) != 0) Fail("fsync");
    }
    {
        const Descriptor partial(CreateInside(folderLock_, kPartialBackupName, taken_.st_mode, taken_.st_gid));
        CopyContents(picture_, partial.Get());
    }
    // The backup must be the picture the note stamps.
    struct stat now;
    if (fstat(picture_, &now) != 0) Fail("fstat");
    if (StampOf(now) != StampOf(taken_)) Fail("picture changed meanwhile", EAGAIN);
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
