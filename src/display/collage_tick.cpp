// One step of the collage: the current quadrant shrinks back or grows over
// its neighbours, takes the next file, finished videos and freed neighbours
// are refilled, and the turn passes to the next visible quadrant.
#include <deque>

#include "catalogue/folder_scan.h"
#include "display/collage.h"
#include "display/saver_state.h"
#include "platform/crt_random.h"

namespace {

// Quadrants to fill again before the tick ends, first in first out. Held by
// the tick alone, so nothing of an interrupted tick outlives it.
using RefillQueue = std::deque<Quadrant*>;

void Uncover(Quadrant* q, RefillQueue& refillQueue) {
    q->covered = false;
    refillQueue.push_back(q);
}

void ShrinkBack(Quadrant* q, RefillQueue& refillQueue) {
    if (Quadrant* right = q->rightNeighbour) {
        Uncover(right, refillQueue);
        q->right = right->left;
    }
    if (Quadrant* below = q->belowNeighbour) {
        Uncover(below, refillQueue);
        q->bottom = below->top;
        if (below->rightNeighbour) Uncover(below->rightNeighbour, refillQueue);
    }
    q->enlarged = false;
}

// Drawn on every working step, whatever the neighbours allow, so that the
// shared random sequence advances the same way.
bool WantsToGrow(const Quadrant* q) {
    int r = CrtRand() % 6;
    // Ranked: 5 stars grow one time in two, 4 one in three, 3 one in six,
    // less never. Wide arithmetic: a rating read from a file can be anything.
    if (UseRankingForDisplay()) r = static_cast<long long>(r) + q->info.rating > 7 ? 1 : 0;
    return r != 0;
}

bool FreeToCover(const Quadrant* n) { return n && !n->covered && !n->enlarged && !n->video.IsMediaOpen(); }

void Grow(Quadrant* q) {
    Quadrant* right = q->rightNeighbour;
    Quadrant* below = q->belowNeighbour;
    if (!right || !below) return;
    Quadrant* diagonal = right->belowNeighbour;
    if (!FreeToCover(right) || !FreeToCover(below) || !FreeToCover(diagonal)) return;
    right->covered = below->covered = diagonal->covered = true;
    q->right = right->right;
    q->bottom = below->bottom;
    q->enlarged = true;
}

}  // namespace

void CollageTick(HWND hwnd, bool fillingDone) {
    if (quadrantList.empty()) return;
    if (currentQuadrant >= quadrantList.size()) currentQuadrant = 0;
    Quadrant* q = quadrantList[currentQuadrant].get();
    RefillQueue refillQueue;

    if (!q->video.IsMediaOpen() && fillingDone) {
        if (q->enlarged) ShrinkBack(q, refillQueue);
        // The rating is that of the file leaving the quadrant; its successor comes next.
        if (WantsToGrow(q)) Grow(q);
    }

    ScreenSaverTimer(hwnd, q);
    // A close decided meanwhile ends the tick: nothing more is loaded for a closing saver.
    if (closePending) return;

    // A video started in this very tick has not had the chance to play yet.
    if (!videoStartedThisTick) {
        for (auto& each : quadrantList) {
            if (each->video.IsMediaOpen() && each->video.HasMediaEnded()) {
                StopQuadrantVideo(each.get());
                refillQueue.push_back(each.get());
            }
        }
    }
    videoStartedThisTick = false;

    while (!refillQueue.empty() && !closePending) {
        Quadrant* next = refillQueue.front();
        refillQueue.pop_front();
        if (!next->covered) ScreenSaverTimer(hwnd, next);
    }

    for (std::size_t step = 1; step <= quadrantList.size(); ++step) {
        std::size_t candidate = (currentQuadrant + step) % quadrantList.size();
        if (!quadrantList[candidate]->covered) {
            currentQuadrant = candidate;
            break;
        }
    }
}
