// The menu a click opens over a quadrant: rate it, mark it private, turn it.
#pragma once

#include <cstdint>

#include "display/quadrant.h"
#include "platform/window.h"

enum QuadrantCommand : UINT {
    kNoRanking = 1001,  // 1002 to 1006: one to five stars
    kPrivate = 1007,
    kRotate90 = 1008,
    kRotateMinus90 = 1009,
};

// The orientation code after a quarter turn clockwise (90) or counter-clockwise
// (270); a mirrored code loses its mirror.
std::int32_t TurnedOrientation(std::int32_t orientation, std::int32_t degrees);

// Modal: returns when the user has chosen or dismissed. A chosen command
// changes the quadrant, is written into the file and repaints the quadrant;
// one the file does not take leaves the quadrant as it was and shows a
// notice on it for a few seconds.
void ShowQuadrantMenu(HWND hwnd, Quadrant* quadrant, int x, int y);
