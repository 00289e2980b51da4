// Special folders and path pieces.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A path buffer holds 260 UTF-16 units with its terminator: paths are at
// most 259 units, and a reader's buffer is 520 bytes.
constexpr std::size_t kPathChars = 260;
constexpr std::size_t kMaxPathUnits = kPathChars - 1;
constexpr std::size_t kPathBufferBytes = kPathChars * 2;

// The path as a 260-unit buffer holds it: cut at a code-point boundary.
std::string BoundedPath(std::string_view path);

constexpr int CSIDL_PERSONAL = 5;     // the documents folder
constexpr int CSIDL_MYPICTURES = 39;  // the pictures folder

// The user's folder (the XDG user directory, or its usual place in the home
// folder when none is configured), created when missing and `create` is set.
// False when there is no such folder.
bool SHGetSpecialFolderPath(int csidl, std::string* path, bool create);

// The last component of a path ("/a/b/" gives "b/", as the shell's routine keeps a trailing separator).
std::string PathStripPath(std::string_view path);
