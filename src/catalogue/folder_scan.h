// The incremental walk through the picture folder: breadth-first, one
// directory entry per pass, stopping at the first file that can be shown.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "platform/dir_search.h"
#include "platform/window.h"

struct Quadrant;

extern DirectorySearch* gFindFileHandle;  // the open search over CurrentFolder; null when none
extern long SearchPosition;               // 1-based number of the entry in the search buffer
extern std::string CurrentFolder;         // the folder being enumerated
extern std::unique_ptr<std::deque<std::string>> FolderQueue;  // folders found and not yet enumerated

// Fills the quadrant with the next showable file of the walk, or leaves it
// unchanged when this step finds nothing.
void ScreenSaverTimer(HWND hwnd, Quadrant* quadrant);
// Opens the walk at the stored resume point or at the "Path" folder.
void StartScan();
bool IsVideoName(const std::string& path);
// Starts the quadrant's file as a video in the quadrant; true when it did.
bool IsDynamicMedia(HWND hwnd, Quadrant* quadrant);
