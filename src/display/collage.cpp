// A first collage: one quadrant per monitor, nothing shown yet. The grids,
// the growth and the painting of pictures replace it.
#include "display/collage.h"

#include "display/saver_state.h"

std::vector<std::unique_ptr<Quadrant>> quadrantList;
std::size_t currentQuadrant = 0;

int BuildQuadrants(HWND hwnd) {
    std::vector<Rect> regions;
    Rect client;
    GetClientRect(hwnd, &client);
    if (gSmallWindow || !EnumDisplayMonitors(&regions)) regions = {client};
    for (const Rect& r : regions) {
        auto q = std::make_unique<Quadrant>();
        q->left = r.left;
        q->top = r.top;
        q->right = r.right;
        q->bottom = r.bottom;
        q->index = static_cast<int>(quadrantList.size());
        quadrantList.push_back(std::move(q));
    }
    return static_cast<int>(regions.size());
}

void CollageTick(HWND, bool) {
    if (!quadrantList.empty()) currentQuadrant = (currentQuadrant + 1) % quadrantList.size();
}

Quadrant* HitTestQuadrant(int x, int y) {
    for (auto& q : quadrantList)
        if (!q->covered && x > q->left && x < q->right && y > q->top && y < q->bottom) return q.get();
    return nullptr;
}

int PaintCollage(HDC) { return 0; }

void PaintSplash(HDC, HWND) { splashState = 2; }

void DestroyQuadrants() {
    quadrantList.clear();
    currentQuadrant = 0;
}
