// The quadrant grids: building them over the monitors, the hit test, the
// operations on one quadrant and the teardown.
#include "display/collage.h"

#include <algorithm>
#include <deque>

#include "display/saver_state.h"

std::vector<std::unique_ptr<Quadrant>> quadrantList;
std::size_t currentQuadrant = 0;

namespace {

struct GridShape {
    int columns, rows;
};

GridShape GridFor(int images) {
    switch (images) {
    case 2: return {2, 1};
    case 4: return {2, 2};
    case 6: return {3, 2};
    case 9: return {3, 3};
    case 12: return {4, 3};
    case 16: return {4, 4};
    case 24: return {6, 4};
    case 30: return {6, 5};
    case 36: return {6, 6};
    case 42: return {7, 6};
    default: return {1, 1};
    }
}

// The part of each monitor that the window shows, in client coordinates. A
// full-screen window shows every monitor whole; a preview window shows only
// the parts of the monitors it lies on.
std::deque<Rect> MonitorRegions(HWND hwnd, const Rect& client) {
    std::deque<Rect> regions;
    std::vector<Rect> monitors;
    if (!gSmallWindow && EnumDisplayMonitors(&monitors)) {
        for (const Rect& monitor : monitors) {
            Rect r = DesktopToClient(hwnd, monitor);
            r = Rect{std::max(r.left, client.left), std::max(r.top, client.top), std::min(r.right, client.right),
                     std::min(r.bottom, client.bottom)};
            if (!r.Empty()) regions.push_back(r);
        }
    }
    if (regions.empty()) regions.push_back(client);
    return regions;
}

void AddGrid(const Rect& region) {
    const GridShape grid = GridFor(imagesPerScreen);
    // Whole pixels only: what is left over at the right and bottom belongs to no quadrant.
    const int cellWidth = region.Width() / grid.columns;
    const int cellHeight = region.Height() / grid.rows;
    for (int row = 0; row < grid.rows; ++row) {
        for (int column = 0; column < grid.columns; ++column) {
            auto q = std::make_unique<Quadrant>();
            q->left = region.left + column * cellWidth;
            q->top = region.top + row * cellHeight;
            q->right = q->left + cellWidth;
            q->bottom = q->top + cellHeight;
            q->index = static_cast<int>(quadrantList.size());
            if (row > 0) quadrantList[quadrantList.size() - grid.columns]->belowNeighbour = q.get();
            if (column > 0) quadrantList.back()->rightNeighbour = q.get();
            quadrantList.push_back(std::move(q));
        }
    }
}

}  // namespace

Rect DesktopToClient(HWND hwnd, const Rect& desktop) {
    Point origin;
    ClientToScreen(hwnd, &origin);
    return Rect{desktop.left - origin.x, desktop.top - origin.y, desktop.right - origin.x, desktop.bottom - origin.y};
}

int BuildQuadrants(HWND hwnd) {
    DestroyQuadrants();
    Rect client;
    GetClientRect(hwnd, &client);
    std::deque<Rect> monitorRegions = MonitorRegions(hwnd, client);
    const int regions = static_cast<int>(monitorRegions.size());
    while (!monitorRegions.empty()) {
        AddGrid(monitorRegions.front());
        monitorRegions.pop_front();
    }
    return regions;
}

Quadrant* HitTestQuadrant(int x, int y) {
    for (auto& q : quadrantList)
        if (!q->covered && q->left < x && x < q->right && q->top < y && y < q->bottom) return q.get();
    return nullptr;
}

void DestroyQuadrants() {
    while (!quadrantList.empty()) {
        std::unique_ptr<Quadrant> q = std::move(quadrantList.front());
        ClearQuadrant(q.get());
        StopQuadrantVideo(q.get());
        quadrantList.erase(quadrantList.begin());
        ReleaseQuadrant(q.get());
    }
    currentQuadrant = 0;
}
