// The saver host: run modes, the saver window and the message loop.
#pragma once

#include <string>

#include "host/close_rules.h"
#include "platform/window.h"

// Runs the mode the command line asks for and answers the exit code.
int HostMain(const std::string& commandLine);

int RunSaverWindow(HWND parent);
// The full-screen collage inside a window a screen-saver daemon made: it
// takes no input (the daemon owns mouse and keyboard and ends it with
// SIGTERM) and runs beside any other saver process.
int RunInDaemonWindow(HWND daemonWindow);
int ShowSettingsDialog(HWND owner);
void ChangeSaverPassword(HWND owner);

LRESULT HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

constexpr const char* kSaverClassName = "WindowsScreenSaverClass";
constexpr const char* kSaverTitle = "Screen Saver";
// Not the full-screen title: a second full-screen start must not take a
// daemon's saver for a running one of its own.
constexpr const char* kDaemonSaverTitle = "Screen Saver in a daemon window";
