#include "display/quadrant.h"

void ClearQuadrant(Quadrant* q) {
    q->picture.ReleasePicture();
    q->menuOpen = false;
    q->info.rating = 0;
    q->info.isPrivate = false;
    q->editable = false;
}

void StopQuadrantVideo(Quadrant* q) {
    q->info.rating = 0;
    q->info.isPrivate = false;
    q->editable = false;
    q->menuOpen = false;
    try {
        q->video.CloseDynamicMedia();
    } catch (...) {
        // A player that fails while stopping is gone all the same; the quadrant is refilled.
    }
}

void ReleaseQuadrant(Quadrant* q) {
    q->video.CloseDynamicMedia();
    q->picture.ReleasePicture();
}
