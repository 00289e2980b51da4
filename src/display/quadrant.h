// One cell of the collage and the operations that the collage, the folder
// walk and the menu share on it. Below all three, so that each can use it.
#pragma once

#include <memory>
#include <string>

#include "imaging/picture_holder.h"
#include "metadata/file_check.h"
#include "metadata/picture_metadata.h"
#include "platform/window.h"
#include "video/video_graph.h"

// The timer that takes a refused-write notice away again; the saver's own
// timer is 1.
constexpr UINT_PTR kNoticeTimerIdentifier = 2;
// How long a quadrant shows that a menu choice was not saved.
constexpr UINT kRefusedNoticeMs = 4000;

struct Quadrant {
    Quadrant() = default;
    ~Quadrant() { *alive = false; }
    Quadrant(const Quadrant&) = delete;
    Quadrant& operator=(const Quadrant&) = delete;

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
    // The file as it was when its picture was read: a write goes only into
    // that file, never into another that took its name since.
    FileStamp shown;
    // GetTickCount() at which the notice of a refused write goes; 0: none.
    DWORD refusedNoticeUntil = 0;
    // False once the quadrant is gone. A nested message loop (the menu's)
    // can outlive it: a close request destroys every quadrant inside it.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

// Empties the picture and forgets what the menu may change.
void ClearQuadrant(Quadrant* q);
// Forgets what the menu may change and closes the video; never throws.
void StopQuadrantVideo(Quadrant* q);
// Shows on the quadrant, for a few seconds, that a menu choice was not saved.
void ShowWriteRefused(HWND hwnd, Quadrant* q);
// Lets go of the video and the picture.
void ReleaseQuadrant(Quadrant* q);
