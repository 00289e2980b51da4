// The collage: a grid of quadrants over each monitor, the step that changes
// one quadrant per tick, the hit test for clicks and the painting.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "imaging/picture_holder.h"
#include "metadata/picture_metadata.h"
#include "video/video_graph.h"
#include "platform/window.h"

struct Quadrant {
    Quadrant* rightNeighbour = nullptr;  // same row of the same monitor grid
    Quadrant* belowNeighbour = nullptr;  // same column of the same monitor grid
    bool covered = false;                // hidden under an enlarged neighbour
    bool enlarged = false;               // spans itself, its right, lower and lower-right neighbours
    std::string path;
    PictureHolder picture;
    VideoGraph video;
    bool editable = false;
    int left = 0, top = 0, right = 0, bottom = 0;  // client pixels; right and bottom exclusive
    bool menuOpen = false;
    int index = 0;                                 // creation number across all monitors
    PictureMetadata info;
};

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

// Empties the picture and forgets what the menu may change.
void ClearQuadrant(Quadrant* q);
// Forgets what the menu may change and closes the video; never throws.
void StopQuadrantVideo(Quadrant* q);
// Lets go of the video and the picture.
void ReleaseQuadrant(Quadrant* q);

// A rectangle of the desktop in the window's client coordinates, which
// differ when the window does not start at the desktop's origin.
Rect DesktopToClient(HWND hwnd, const Rect& desktop);
