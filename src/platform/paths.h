// Special folders and path pieces.
#pragma once

#include <string>
#include <string_view>

constexpr int CSIDL_PERSONAL = 5;     // the documents folder
constexpr int CSIDL_MYPICTURES = 39;  // the pictures folder

// The user's folder (the XDG user directory, or its usual place in the home
// folder when none is configured), created when missing and `create` is set.
// False when there is no such folder.
bool SHGetSpecialFolderPath(int csidl, std::string* path, bool create);

// The last component of a path ("/a/b/" gives "b/", as the shell's routine keeps a trailing separator).
std::string PathStripPath(std::string_view path);
