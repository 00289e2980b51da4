// The saver host: run modes, the saver window and the message loop.
#pragma once

#include <string>

#include "host/close_rules.h"
#include "platform/window.h"

// Runs the mode the command line asks for and answers the exit code.
int HostMain(const std::string& commandLine);

int RunSaverWindow(HWND parent);
int ShowSettingsDialog(HWND owner);
void ChangeSaverPassword(HWND owner);

LRESULT HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

constexpr const char* kSaverClassName = "WindowsScreenSaverClass";
constexpr const char* kSaverTitle = "Screen Saver";
