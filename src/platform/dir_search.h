// Directory search, one entry per advance, as the walk through the picture
// folder needs it: the entry's name and whether it is a folder or hidden.
#pragma once

#include <string>

struct WIN32_FIND_DATA {
    std::string cFileName;
    bool directory = false;
    // Hidden: the name begins with '.'. Entries that are neither regular
    // files nor folders (pipes, sockets, devices, dangling links) and links
    // that lead back into their own folder's ancestry are reported hidden as
    // well, so that no walk blocks on them or circles forever.
    bool hidden = false;
};

struct DirectorySearch;

// Opens a search on "folder/*" and delivers the first entry. A folder that
// cannot be opened still gives a search, one without entries (the data's
// name is left empty), so callers treat both alike. Null only for a pattern
// that does not end in "/*".
DirectorySearch* FindFirstFile(const std::string& pattern, WIN32_FIND_DATA* data);
// Delivers the next entry; false at the end of the folder.
bool FindNextFile(DirectorySearch* search, WIN32_FIND_DATA* data);
bool FindClose(DirectorySearch* search);
