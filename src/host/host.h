// The saver host: run modes, the saver window, the message loop and the rules
// by which input ends the saver.
#pragma once

#include <functional>
#include <string>

#include "platform/window.h"

using VerifyPasswordFn = std::function<int(HWND)>;

// Process-wide host state; touched on the GUI thread only.
struct HostState {
    bool win9xPlatform = false;  // no such platform family here; tests set it to cover the password rules
    HWND saverWindow = nullptr;
    bool previewMode = false;
    bool closing = false;
    bool checkingPassword = false;
    DWORD lastPasswordCheckTick = 0xFFFFFFFF;
    Point hostCursorAnchor;
    DWORD mouseMoveThreshold = 4;
    std::uint8_t acLineStatus = 255;
    UINT autoPlayMessage = 0;
    bool passwordLibrary = false;  // the hook is loaded
    VerifyPasswordFn verifyPassword;
    bool saverRunningFlag = false;  // the system's "screen saver running" flag, as last set
};

HostState& Host();

// Where the password hook comes from: answers the verify function, or an
// empty one when the provider has none. The system has no such provider;
// tests install one.
void SetPasswordProvider(std::function<VerifyPasswordFn()> provider);

// Runs the mode the command line asks for and answers the exit code.
int HostMain(const std::string& commandLine);

int RunSaverWindow(HWND parent);
int ShowSettingsDialog(HWND owner);
void ChangeSaverPassword(HWND owner);
void LoadPasswordHook();
void UnloadPasswordHook();

LRESULT HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefaultSaverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
int VerifyPasswordOnClose(HWND hwnd);

constexpr const char* kSaverClassName = "WindowsScreenSaverClass";
constexpr const char* kSaverTitle = "Screen Saver";
