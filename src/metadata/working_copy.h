// A private copy of a picture file to edit in place of the picture itself.
// Each write works in a private folder of its own beside the picture
// (".kaleidra-XXXXXX", mode 0700, locked while the write runs), so that
// nothing a write or the toolkit makes is ever more visible than the picture
// or shown by the folder walk. The picture is replaced only by a complete,
// flushed copy: by one rename when that keeps everything the file carries
// (owner, group, mode, links, extended attributes), otherwise by copying the
// bytes back into the picture itself, guarded by a backup that the next
// visit to the folder restores should the copy-back have been cut short.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

class WorkingCopy {
public:
    // Copies the file into a new private folder beside it. Raises
    // std::system_error when the picture cannot be written: not a regular
    // file, cannot be opened for writing, carries no write permission at
    // all, or its folder takes no new entry.
    explicit WorkingCopy(const std::string& path);
    // Removes the private folder and everything in it, unless a copy-back
    // cut short left the picture needing its backup.
    ~WorkingCopy();
    WorkingCopy(const WorkingCopy&) = delete;
    WorkingCopy& operator=(const WorkingCopy&) = delete;

    // The copy to edit and verify; same suffix as the picture.
    const std::string& Path() const { return copyPath_; }
    // The picture, symbolic links resolved.
    const std::string& PicturePath() const { return picturePath_; }

    // Puts the copy's bytes in the picture's place. Raises std::system_error,
    // leaving the picture as it was, when that fails before it began or
    // someone else changed the picture since it was copied.
    void ReplaceOriginal();

private:
    void CopyBack(int copy);
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
};

// Whether a folder entry's name is one a write of ours leaves behind.
bool IsWriteDebris(std::string_view name);

// Finishes or undoes what a killed write left under name in folder, then
// removes it. Leaves alone what a running write still holds. Never throws.
void RemoveWriteDebris(const std::string& folder, const std::string& name);

// The same for every such entry of folder.
void RemoveFolderWriteDebris(const std::string& folder);
