// The settings dialog: every preference in one window. It shows the stored
// preferences, OK stores them all, and a folder picked with Browse... also
// becomes "Path" and discards the stored walk, so the next run starts at the
// top of the new folder. Cancel stores nothing.
#pragma once

#include "platform/dialog.h"

// Set by a completed folder choice and never cleared: a process shows the
// dialog once. Tests reset it between dialogs.
extern bool folderChanged;

// The procedure for dialog template kSettingsDialogId.
INT_PTR SettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
