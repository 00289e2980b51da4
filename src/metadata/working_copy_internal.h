// What a write through a working copy and the recovery of one cut short
// share: the private folder's layout, the note in it, and the file handling
// both do. Defined in write_recovery.cpp, which working_copy.cpp builds on.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <system_error>

#include "metadata/file_check.h"

namespace working_copy_internal {

// Inside the private folder. The note names the picture a backup belongs
// to and stamps the file it was taken from; it is complete before the
// backup is, so that a backup that has its name always says where it goes
// back to.
inline constexpr char kNoteName[] = "picture";
inline constexpr char kBackupName[] = "backup";

[[noreturn]] inline void Fail(const char* what, int error = errno) {
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

// Reads at an offset so that whatever else holds the descriptor, and where
// it has read to, makes no difference. Short only at the end of the file.
std::size_t ReadAt(int fd, char* buffer, std::size_t size, off_t offset);
void WriteAt(int fd, const char* data, std::size_t size, off_t offset);

// Makes to's bytes those of from, in place: to keeps its inode, and with it
// its owner, group, mode, links and extended attributes.
void CopyContents(int from, int to);

// A name a picture can have in its own folder.
bool IsEntryName(const std::string& name);

// The copy's name in the private folder, for a picture of that name.
std::string CopyNameFor(const std::string& pictureName);

// The note's text: "device inode size seconds nanoseconds/name"; a name has
// no slash.
std::string NoteText(const FileStamp& stamp, const std::string& name);

// Whether name in parent is still the folder held open as folder: a visit
// may have removed it, and another made a new one of the same name.
bool StillNamed(int parent, const char* name, int folder);

// Empties the private folder held open as folder, never following a
// symbolic link out of it, and removes it from parent while it still has
// the name.
void RemoveFolder(int parent, const char* name, int folder);

}  // namespace working_copy_internal
