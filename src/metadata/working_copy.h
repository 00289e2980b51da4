// A private copy of a picture file to edit in place of the picture itself.
// exempi rewrites a file by renaming it away and a new one into its place,
// with a moment in between where the picture's name holds nothing, and the
// new file takes default permissions. Edited through a copy instead, the
// picture is only ever replaced whole, by one rename, once the copy is
// complete, on disk, and carries the picture's permissions and owner: a
// process killed at any moment leaves either the old or the new picture.
#pragma once

#include <sys/types.h>

#include <string>

class WorkingCopy {
public:
    // Copies the file beside it under a hidden name. Raises std::system_error
    // when the file cannot be written in place of the copy: it is not a
    // regular file, cannot be opened for writing, carries no write permission
    // at all, or its folder takes no new file.
    explicit WorkingCopy(const std::string& path);
    // Removes the copy unless it has replaced the picture.
    ~WorkingCopy();
    WorkingCopy(const WorkingCopy&) = delete;
    WorkingCopy& operator=(const WorkingCopy&) = delete;

    const std::string& Path() const { return copyPath_; }

    // Gives the copy the picture's permissions and owner, flushes it and
    // renames it over the picture. Raises std::system_error, leaving the
    // picture as it was, when any of that fails.
    void ReplaceOriginal();

private:
    std::string picturePath_;  // symbolic links resolved: the link keeps pointing at the picture
    std::string copyPath_;
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    bool replaced_ = false;
};
