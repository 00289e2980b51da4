// The menu a click opens over a quadrant: rate it, mark it private, turn it.
#pragma once

#include "display/collage.h"
#include "platform/window.h"

// Modal: returns when the user has chosen or dismissed.
void ShowQuadrantMenu(HWND hwnd, Quadrant* quadrant, int x, int y);
