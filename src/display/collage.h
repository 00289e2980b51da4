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
    Quadrant* rightNeighbour = nullptr;
    Quadrant* belowNeighbour = nullptr;
    bool covered = false;
    bool enlarged = false;
    std::string path;
    PictureHolder picture;
    VideoGraph video;
    bool editable = false;
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    bool menuOpen = false;
    int index = 0;
    PictureMetadata info;
};

// Every quadrant in creation order; empty until built.
extern std::vector<std::unique_ptr<Quadrant>> quadrantList;
extern std::size_t currentQuadrant;

int BuildQuadrants(HWND hwnd);
void CollageTick(HWND hwnd, bool fillingDone);
Quadrant* HitTestQuadrant(int x, int y);
int PaintCollage(HDC dc);
void PaintSplash(HDC dc, HWND hwnd);
void DestroyQuadrants();
