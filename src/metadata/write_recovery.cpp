#include "metadata/write_recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "metadata/working_copy_internal.h"

using namespace working_copy_internal;

namespace {

// Folders the toolkit might make inside the private folder are emptied to
// this depth at most.
constexpr int kMaxFolderDepth = 4;

// The copy keeps the picture's suffix, in case a handler goes by it; a
// suffix too long to be one is left off, so the copy's name always fits.
std::string Suffix(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) return {};
    return name.substr(dot);
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

}  // namespace

namespace working_copy_internal {

std::size_t ReadAt(int fd, char* buffer, std::size_t size, off_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail("read");
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
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

void CopyContents(int from, int to) {
    char buffer[1 << 16];
    off_t offset = 0;
    for (std::size_t got; (got = ReadAt(from, buffer, sizeof buffer, offset)) > 0;) {
        WriteAt(to, buffer, got, offset);
        offset += static_cast<off_t>(got);
    }
    if (ftruncate(to, offset) != 0) Fail("ftruncate");
    if (fsync(to) != 0) Fail("fsync");
}

bool IsEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && !IsWriteDebris(name);
}

std::string CopyNameFor(const std::string& pictureName) { return "copy" + Suffix(pictureName); }

std::string NoteText(const FileStamp& stamp, const std::string& name) {
    return std::to_string(stamp.device) + " " + std::to_string(stamp.inode) + " " + std::to_string(stamp.size) + " " +
           std::to_string(stamp.modifiedSeconds) + " " + std::to_string(stamp.modifiedNanoseconds) + "/" + name;
}

bool StillNamed(int parent, const char* name, int folder) {
    struct stat named;
    struct stat held;
    return fstatat(parent, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(folder, &held) == 0 &&
           held.st_nlink > 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

void RemoveFolder(int parent, const char* name, int folder) {
    EmptyFolder(folder, kMaxFolderDepth);
    if (StillNamed(parent, name, folder)) unlinkat(parent, name, AT_REMOVEDIR);
}

}  // namespace working_copy_internal

namespace {

// A stamp and a name; anything longer is not a note of ours.
constexpr std::size_t kNoteMax = NAME_MAX + 128;

off_t SizeOf(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0) Fail("fstat");
    return status.st_size;
}

// How many bytes from offset from on the two files hold alike, up to the
// first that differs or the end of either.
off_t Agreeing(int one, int other, off_t from) {
    char left[1 << 16];
    char right[1 << 16];
    for (off_t offset = from;;) {
        const std::size_t got = ReadAt(one, left, sizeof left, offset);
        const std::size_t also = ReadAt(other, right, sizeof right, offset);
        const std::size_t both = std::min(got, also);
        const auto alike = static_cast<std::size_t>(std::mismatch(left, left + both, right).first - left);
        offset += static_cast<off_t>(alike);
        if (alike < both || got < sizeof left || also < sizeof right) return offset - from;
    }
}

// Whether the two files are of a size and alike from offset from to the end.
bool SameFrom(int one, int other, off_t from) {
    const off_t size = SizeOf(one);
    return size == SizeOf(other) && from + Agreeing(one, other, from) == size;
}

// Whether picture holds what copying copy over backup leaves when cut
// short: the copy's first bytes, then the backup's beyond them, or the copy
// cut off where it runs past the backup's end.
bool CutShortCopyBack(int picture, int copy, int backup) {
    const off_t common = Agreeing(picture, copy, 0);
    if (common >= SizeOf(backup)) return common == SizeOf(picture);
    return SameFrom(picture, backup, common);
}

struct Note {
    std::string name;                // empty when there is no note
    std::optional<FileStamp> stamp;  // not in an earlier build's note, which held the name alone
};

// The note; nullopt when there is one that cannot be read, or says
// something other than a note of ours would.
std::optional<Note> ReadNote(int folder) {
    const Descriptor file(openat(folder, kNoteName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.Get() < 0) return errno == ENOENT ? std::optional<Note>(Note{}) : std::nullopt;
    char buffer[kNoteMax + 1];
    const std::string text(buffer, ReadAt(file.Get(), buffer, sizeof buffer, 0));
    if (text.size() > kNoteMax) return std::nullopt;
    const auto slash = text.find('/');
    Note note{slash == std::string::npos ? text : text.substr(slash + 1), std::nullopt};
    if (!IsEntryName(note.name)) return std::nullopt;
    if (slash != std::string::npos) {
        unsigned long long device = 0;
        unsigned long long inode = 0;
        long long size = 0;
        long long seconds = 0;
        long nanoseconds = 0;
        if (std::sscanf(text.c_str(), "%llu %llu %lld %lld %ld", &device, &inode, &size, &seconds, &nanoseconds) != 5) {
            return std::nullopt;
        }
        note.stamp = FileStamp{static_cast<dev_t>(device), static_cast<ino_t>(inode), static_cast<off_t>(size),
                               static_cast<std::time_t>(seconds), nanoseconds};
        // Only the very text a note of ours would be.
        if (NoteText(*note.stamp, note.name) != text) return std::nullopt;
    }
    return note;
}

// Undoes a copy-back into the picture that was cut short. Whether the
// private folder may go: not while it holds the only way back.
bool UndoCutShortCopyBack(int parent, int folder, const std::optional<Note>& note) {
    const Descriptor backup(openat(folder, kBackupName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    // Without a complete backup the picture was never touched.
    if (backup.Get() < 0) return errno == ENOENT;
    if (!note || note->name.empty()) return false;
    const Descriptor copy(
        openat(folder, CopyNameFor(note->name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (copy.Get() < 0) return false;
    // Whatever holds the name now that is no regular file is not the picture.
    struct stat named;
    if (fstatat(parent, note->name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISREG(named.st_mode)) return true;
    const Descriptor picture(
        openat(parent, note->name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
    if (picture.Get() < 0) return errno == ENOENT;  // gone since: nothing to put back
    struct stat status;
    if (fstat(picture.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    // Another file under the name, or the name and the picture reused by
    // someone who wrote it meanwhile: theirs to keep. File systems reuse
    // inodes, so only the bytes prove the file still ours.
    if (note->stamp && (status.st_dev != note->stamp->device || status.st_ino != note->stamp->inode)) return true;
    if (SameFrom(picture.Get(), backup.Get(), 0) || SameFrom(picture.Get(), copy.Get(), 0)) return true;
    if (!CutShortCopyBack(picture.Get(), copy.Get(), backup.Get())) return true;
    CopyContents(backup.Get(), picture.Get());
    return true;
}

}  // namespace

bool IsWriteDebris(std::string_view name) { return name.starts_with(".kaleidra-"); }

std::optional<PendingWrite> RemoveWriteDebris(const std::string& folder, const std::string& name) {
    if (!IsWriteDebris(name) || name.find('/') != std::string::npos) return std::nullopt;
    // What cannot be read might be anyone's.
    const PendingWrite unknown{name, {}};
    try {
        const Descriptor parent(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.Get() < 0) return unknown;
        struct stat status;
        if (fstatat(parent.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT ? std::nullopt : std::optional(unknown);
        }
        // Older builds left plain copies (and the toolkit's temporaries beside
        // them); a link of that name goes without being followed.
        if (!S_ISDIR(status.st_mode)) {
            unlinkat(parent.Get(), name.c_str(), 0);
            return std::nullopt;
        }
        const Descriptor own(openat(parent.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (own.Get() < 0) return errno == ENOENT ? std::nullopt : std::optional(unknown);
        if (flock(own.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) return unknown;
            // Locked by a write still running, here or in another process: in
            // the way of a write of the picture it is copying back into.
            const std::optional<Note> note = ReadNote(own.Get());
            if (!note) return unknown;
            if (note->name.empty()) return std::nullopt;
            return PendingWrite{name, note->name};
        }
        if (!StillNamed(parent.Get(), name.c_str(), own.Get())) return std::nullopt;
        const std::optional<Note> note = ReadNote(own.Get());
        if (!UndoCutShortCopyBack(parent.Get(), own.Get(), note)) return PendingWrite{name, note ? note->name : ""};
        RemoveFolder(parent.Get(), name.c_str(), own.Get());
        return std::nullopt;
    } catch (...) {
        return unknown;  // left for the next visit
    }
}

std::vector<PendingWrite> RemoveFolderWriteDebris(const std::string& folder) {
    std::vector<std::string> debris;
    DIR* entries = opendir(folder.c_str());
    // A folder that cannot be listed may hold anything.
    if (!entries) return {PendingWrite{}};
    while (const dirent* entry = readdir(entries)) {
        if (IsWriteDebris(entry->d_name)) debris.emplace_back(entry->d_name);
    }
    closedir(entries);
    std::vector<PendingWrite> pending;
    for (const std::string& name : debris) {
        if (std::optional<PendingWrite> left = RemoveWriteDebris(folder, name)) pending.push_back(std::move(*left));
    }
    return pending;
}
