// The host's rules by which input ends the saver, the password hook and
// the default handling that the saver procedure passes messages on to. Below
// the collage, which calls them; the run modes above it live in host.h.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/window.h"

using VerifyPasswordFn = std::function<int(HWND)>;

// Process-wide host state; touched on the GUI thread only.
struct HostState {
    bool win9xPlatform = false;  // no such platform family here; tests set it to cover the password rules
    HWND saverWindow = nullptr;
    bool previewMode = false;
    HWND frameParent = nullptr;  // the window the saver window fills; null when it fills the screen
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

void LoadPasswordHook();
void UnloadPasswordHook();
LRESULT DefaultSaverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
int VerifyPasswordOnClose(HWND hwnd);
// The power line status as the system reports it; 255 when unknown.
std::uint8_t ReadAcLineStatus();
