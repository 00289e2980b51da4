// What the loader asks of a file before any library sees it. The toolkit
// leaks a descriptor on files it cannot seek (proc), and memory on some
// corrupt files it fails to read; the walk would feed it the same file on
// every pass through the folder.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>

// Identifies one state of a file: another file under the name, or the same
// file changed, gives another stamp.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::time_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

// The file's stamp when it reads as an ordinary file: a regular file once
// links are resolved, not empty, not on a pseudo file system (proc, sysfs
// and their kind, whose files claim sizes they do not have and cannot be
// seeked). nullopt otherwise.
std::optional<FileStamp> OrdinaryFile(const std::string& path);

// Files whose metadata read failed, kept until they change.
void RememberUnreadable(const std::string& path, const FileStamp& stamp);
bool KnownUnreadable(const std::string& path, const FileStamp& stamp);
