// The walk's resume state in the store (the value "QIndex" and the subkey
// "Queue" under the settings key), and the teardown that follows its saving.
#pragma once

#include <string>

#include "platform/window.h"

// Reads the stored walk, once: on success the folder to resume, the position
// in it and the queued folders (appended to FolderQueue). The stored state is
// deleted whether or not it could be used.
bool ReadScanResumeState(std::string* folder, long* position);

// Forgets the stored walk: the subkey "Queue" with all its values, then "QIndex".
void DeleteScanState();

// Stores the walk, then brings the saver's machinery down in its fixed order.
void SaveScanState(HWND hwnd);
