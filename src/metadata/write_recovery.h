// Recovery of writes cut short. A write of a picture works in a private
// folder beside it (see working_copy.h), which a killed write leaves behind.
// A visit to the folder finishes or undoes what it left: a copy-back into
// the picture that was cut short is undone from its backup, into the very
// file copied back into, and only while it holds just what a cut-short
// copy-back leaves. What a visit cannot finish stays pending, and no write
// starts on a picture whose cut-short write is still pending.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whether a folder entry's name is one a write of ours leaves behind.
bool IsWriteDebris(std::string_view name);

// A killed write's private folder that a visit had to leave, or a running
// write's that is copying back into a picture.
struct PendingWrite {
    std::string debris;   // its name in the folder; empty when the folder could not be listed
    std::string picture;  // the picture's name in the folder; empty when it cannot be read
};

// Finishes or undoes what a killed write left under name in folder, then
// removes it; what it had to leave, if anything. Leaves alone what a running
// write still holds. Never throws.
std::optional<PendingWrite> RemoveWriteDebris(const std::string& folder, const std::string& name);

// The same for every such entry of folder.
std::vector<PendingWrite> RemoveFolderWriteDebris(const std::string& folder);
