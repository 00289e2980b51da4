#include "display/quadrant.h"

void ClearQuadrant(Quadrant* q) {
    q->picture.ReleasePicture();
    q->menuOpen = false;
    q->info.rating = 0;
    q->info.isPrivate = false;
    q->editable = false;
    q->refusedNoticeUntil = 0;
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

void ShowWriteRefused(HWND hwnd, Quadrant* q) {
    // 0 means no notice, so a deadline that wraps to it is moved on by one.
    q->refusedNoticeUntil = GetTickCount() + kRefusedNoticeMs;
    if (q->refusedNoticeUntil == 0) q->refusedNoticeUntil = 1;
    SetTimer(hwnd, kNoticeTimerIdentifier, kRefusedNoticeMs);
    Rect rect{q->left, q->top, q->right, q->bottom};
    InvalidateRect(hwnd, &rect, false);
}

void ReleaseQuadrant(Quadrant* q) {
    q->video.CloseDynamicMedia();
    q->picture.ReleasePicture();
}
