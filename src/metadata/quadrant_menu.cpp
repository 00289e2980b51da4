#include "metadata/quadrant_menu.h"

#include "metadata/xmp_metadata.h"
#include "platform/menu.h"

namespace {

constexpr UINT kCommandDisabled = MF_GRAYED | MF_DISABLED;
constexpr const char* kRatingTexts[] = {" No Ranking", " *", " **", " ***", " ****", " *****"};

void BuildMenu(HMENU menu, const Quadrant& q) {
    UINT state = q.editable && !q.video.IsMediaOpen() ? MF_STRING : kCommandDisabled;
    AppendMenu(menu, kCommandDisabled, 0, "Press ESC to exit");
    AppendMenu(menu, kCommandDisabled, 0, q.path);
    AppendMenu(menu, kCommandDisabled, 0, "Ranking");
    for (int stars = 0; stars <= 5; ++stars)
        AppendMenu(menu, state | (q.info.rating == stars ? MF_CHECKED : 0), kNoRanking + stars, kRatingTexts[stars]);
    AppendMenu(menu, MF_SEPARATOR, 0, "");
    AppendMenu(menu, kCommandDisabled, 0, "Label");
    AppendMenu(menu, state | (q.info.isPrivate ? MF_CHECKED : 0), kPrivate, " Private");
    AppendMenu(menu, MF_SEPARATOR, 0, "");
    AppendMenu(menu, state, kRotate90, "Rotate 90");
    AppendMenu(menu, state, kRotateMinus90, "Rotate -90");
}

}  // namespace

std::int32_t TurnedOrientation(std::int32_t orientation, std::int32_t degrees) {
    switch ((OrientationToDegrees(orientation) + degrees) % 360) {
    case 90: return 6;
    case 180: return 3;
    case 270: return 8;
    default: return 1;
    }
}

void ShowQuadrantMenu(HWND hwnd, Quadrant* q, int x, int y) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    BuildMenu(menu, *q);
    Point at{x, y};
    ClientToScreen(hwnd, &at);
    const std::shared_ptr<const bool> alive = q->alive;
    UINT command = TrackPopupMenu(menu, TPM_RETURNCMD, at.x, at.y, hwnd);
    DestroyMenu(menu);
    if (!*alive) return;  // the saver closed while the menu was up

    const PictureMetadata before = q->info;
    std::int32_t turnedBy = 0;
    unsigned field = 0;
    if (command >= kNoRanking && command <= kNoRanking + 5) {
        q->info.rating = static_cast<std::int32_t>(command - kNoRanking);
        field = kRatingField;
    } else if (command == kPrivate) {
        q->info.isPrivate = !q->info.isPrivate;
        field = kLabelField;
    } else if (command == kRotate90 || command == kRotateMinus90) {
        turnedBy = command == kRotate90 ? 90 : 270;
        q->picture.RotateBy(turnedBy);
        q->info.orientation = TurnedOrientation(q->info.orientation, turnedBy);
        field = kOrientationField;
    } else {
        return;  // dismissed: nothing written, nothing repainted
    }
    if (!WriteMetadataToFile(q->path, q->info, field, &q->shown)) {
        // The quadrant shows what the file holds, not a choice it did not take.
        q->info = before;
        if (turnedBy != 0) q->picture.RotateBy(360 - turnedBy);
        ShowWriteRefused(hwnd, q);
        return;
    }
    Rect r{q->left, q->top, q->right, q->bottom};
    InvalidateRect(hwnd, &r, false);
}
