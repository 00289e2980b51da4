// The saver procedure: start-up, the one saver timer and its cadence, keys,
// mouse, clicks, painting and the orderly shutdown of the collage.
#pragma once

#include "platform/window.h"

LRESULT ScreenSaverProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT InitSaverState(HWND hwnd);
void RestartSaverTimer(HWND hwnd, UINT milliseconds);
// Back to the state of a process that has not created its window yet.
void ResetSaverState();
