// A private copy of a picture file to edit in place of the picture itself.
// Each write works in a private folder of its own beside the picture
// (".kaleidra-XXXXXX", locked while the write runs). The folder lets in the
// writer and, at most, the group the picture's folder lets in, never others,
// and the files in it are no more readable than the picture, so that nothing
// a write or the toolkit makes is ever more visible than the picture or
// shown by the folder walk, while whoever else may write the picture through
// that group can finish what a write left. The picture is replaced only by
// a complete, flushed copy: by one rename when that keeps everything the
// file carries (owner, group, mode, links, extended attributes), otherwise
// by copying the bytes back into the picture itself, guarded by a backup
// that the next visit to the folder restores should the copy-back have been
// cut short: into the very file copied back into, and only while it holds
// just what a cut-short copy-back leaves. No write starts on a picture whose
// cut-short write is still pending.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "metadata/file_check.h"
#include "metadata/write_recovery.h"

class WorkingCopy {
public:
    // Copies the file into a new private folder beside it. Raises
    // std::system_error when the picture cannot be written: not a regular
    // file, cannot be opened for writing, carries no write permission at
    // all, or its folder takes no new entry; with EBUSY when an interrupted
    // write of the picture is still pending (or one in its folder cannot be
    // read, and might be); with ESTALE when shown is given and the file is
    // no longer the one it stamps.
    explicit WorkingCopy(const std::string& path, const FileStamp* shown = nullptr);
    // For a file that does not exist yet: the copy starts empty, and
    // ReplaceOriginal() puts it under path with mode, never over a file
    // that appeared there meanwhile (raising EEXIST). Raises as the
    // constructor does, and with EEXIST when path exists already.
    static WorkingCopy ForNewFile(const std::string& path, mode_t mode);
    // Removes the private folder and everything in it, unless a copy-back
    // cut short left the picture needing its backup.
    ~WorkingCopy();
    WorkingCopy(const WorkingCopy&) = delete;
    WorkingCopy& operator=(const WorkingCopy&) = delete;
    WorkingCopy(WorkingCopy&& other) noexcept;
    WorkingCopy& operator=(WorkingCopy&&) = delete;

    // The copy to edit and verify; same suffix as the picture.
    const std::string& Path() const { return copyPath_; }
    // The picture, symbolic links resolved.
    const std::string& PicturePath() const { return picturePath_; }

    // Puts the copy's bytes in the picture's place. Raises std::system_error,
    // leaving the picture as it was, when that fails before it began or
    // someone else changed the picture since it was copied.
    void ReplaceOriginal();

private:
    struct NewFile {};
    WorkingCopy(const std::string& path, mode_t mode, NewFile);

    void MakePrivateFolder(const std::string& folder);
    void CopyBack(int copy);
    void PlaceNewFile(int copy);
    void Discard() noexcept;

    std::string picturePath_;
    std::string pictureName_;
    std::string folderPath_;  // the private folder
    std::string folderName_;
    std::string copyName_;
    std::string copyPath_;
    // Held open, so that what is copied back into is the very file copied,
    // and all else is reached relative to folders that cannot be swapped.
    int picture_ = -1;
    int parent_ = -1;
    int folderLock_ = -1;     // the private folder, held open and locked
    struct stat taken_ {};    // to notice a change by someone else since the copy
    bool backupNeeded_ = false;  // a copy-back was cut short and could not be undone at once
    std::optional<mode_t> newFileMode_;  // set for a file that does not exist yet
};
