// The incremental walk through the picture folder.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "platform/window.h"

struct Quadrant;
struct DirectorySearch;
extern DirectorySearch* gFindFileHandle;  // the open search of the current folder; null when none
extern long SearchPosition;               // entries taken from it so far
extern std::unique_ptr<std::deque<std::string>> FolderQueue;  // folders still to visit

// Fills the quadrant with the next showable file of the walk, or leaves it
// unchanged when this step finds nothing.
void ScreenSaverTimer(HWND hwnd, Quadrant* quadrant);
