// The collage: a grid of quadrants over each monitor, the step that changes
// one quadrant per tick, the hit test for clicks and the painting.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "display/quadrant.h"
#include "platform/window.h"

// Every quadrant in creation order (monitor by monitor, row by row, left to
// right); empty until built.
extern std::vector<std::unique_ptr<Quadrant>> quadrantList;
// The position in quadrantList of the quadrant the next tick changes; never a covered one.
extern std::size_t currentQuadrant;

// Lays one grid over each monitor (one region only for a small window or
// when the monitors cannot be listed); answers the number of regions.
int BuildQuadrants(HWND hwnd);
// One step of the collage for the current quadrant; growth only once the
// initial fill is done.
void CollageTick(HWND hwnd, bool fillingDone);
// The uncovered quadrant strictly containing the client point; null on a border or outside.
Quadrant* HitTestQuadrant(int x, int y);
// Paints the uncovered quadrants that meet the context's clip; answers how many.
int PaintCollage(HDC dc);
// The start screen shown until the first tick.
void PaintSplash(HDC dc, HWND hwnd);
void DestroyQuadrants();

// A rectangle of the desktop in the window's client coordinates, which
// differ when the window does not start at the desktop's origin.
Rect DesktopToClient(HWND hwnd, const Rect& desktop);
