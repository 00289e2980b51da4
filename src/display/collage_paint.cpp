// Painting the quadrants: the picture fitted and centred on black, the band
// of file data under it, and the frame of the quadrant whose menu is open.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "display/collage.h"
#include "display/saver_state.h"
#include "imaging/drawing.h"
#include "platform/gdi.h"

namespace {

constexpr int kBandTextPoints = 8;
constexpr COLORREF kMenuFrameColour = 0x00FFFF;  // yellow
constexpr int kStarWidth = 11;
constexpr int kStarHeight = 10;
constexpr int kNoticeScale = 3;
constexpr int kStarPitch = 20;

// Ratings a file can hold are 0 to 5; anything else shows no stars at all.
int StarCount(std::int32_t rating) { return rating >= 1 && rating <= 5 ? rating : 0; }

std::string_view StarText(int stars) {
    static constexpr std::string_view texts[] = {"", "*", "* *", "* * *", "* * * *", "* * * * *"};
    return texts[stars];
}

// The path with the pictures or documents folder replaced by its last name.
std::string DisplayPath(const std::string& path) {
    for (auto [folder, name] : {std::pair{&myPicturesPath, &myPicturesName}, {&myDocumentsPath, &myDocumentsName}})
        if (path.compare(0, folder->size(), *folder) == 0) return *name + path.substr(folder->size());
    return path;
}

void PaintPicture(HDC dc, const Quadrant& q, int width, int height) {
    const auto w = static_cast<int>(q.picture.GetWidth());
    const auto h = static_cast<int>(q.picture.GetHeight());
    if (w <= 0 || h <= 0) return;
    // Single precision and truncation settle the last pixel of the fit.
    // Never enlarged; nothing at all when the band leaves no room.
    const float scale = std::clamp(std::min(static_cast<float>(height) / static_cast<float>(h),
                                            static_cast<float>(width) / static_cast<float>(w)),
                                   0.0f, 1.0f);
    const int dw = static_cast<int>(static_cast<float>(w) * scale);
    const int dh = static_cast<int>(static_cast<float>(h) * scale);
    const int ox = (width - dw) / 2;
    const int oy = (height - dh) / 2;
    q.picture.DrawInto(dc, q.left + ox, q.top + oy, q.left + ox + dw, q.top + oy + dh);
}

void PaintBand(HDC dc, const Quadrant& q, int width, int height) {
    FillBlack(dc, Rect{q.left, q.top + height, q.right, q.bottom});
    const int x = q.left + 2;
    int y = q.top + height;
    if (const int stars = StarCount(q.info.rating); stars > 0) {
        if (starImage && starImage->HasPicture()) {
            // A centred row just above the band, over the bottom of the picture.
            int sx = q.left + (width >> 1) - ((stars * kStarPitch - 10) >> 1);
            for (int i = 0; i < stars; ++i, sx += kStarPitch) starImage->DrawInto(dc, sx, y - 12, sx + kStarWidth, y - 2);
        } else {
            DrawTextLine(dc, StarText(stars), x, y, kBandTextPoints);
            y += lineHeight;
        }
    }
    if (linesOfMetadata >= 2 && !q.path.empty()) DrawTextLine(dc, DisplayPath(q.path), x, y - 1, kBandTextPoints);
}

// A star struck through, larger than the rating's, just above them:
// the choice just made in the menu was not saved.
void PaintRefusedNotice(HDC dc, const Quadrant& q, int width, int height) {
    const int cx = q.left + width / 2;
    const int bottom = q.top + height - 14;  // above the row of the rating's stars
    const Rect star{cx - kNoticeScale * kStarWidth / 2, bottom - kNoticeScale * kStarHeight,
                    cx + kNoticeScale * kStarWidth / 2, bottom};
    if (starImage && starImage->HasPicture()) {
        starImage->DrawInto(dc, star.left, star.top, star.right, star.bottom);
    } else {
        DrawTextLine(dc, "*", star.left + kStarWidth, star.top, kBandTextPoints * kNoticeScale / 2);
    }
    cairo_t* cr = DcCairo(dc);
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0.9, 0.1, 0.1);
    cairo_set_line_width(cr, 3.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, star.left - 3, star.bottom + 2);
    cairo_line_to(cr, star.right + 3, star.top - 2);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void PaintQuadrant(HDC dc, const Quadrant& q) {
    const int width = q.right - q.left;
    const int height = q.bottom - q.top - metadataBandHeight;
    if (q.video.IsMediaOpen() || q.picture.HasPicture()) {
        // Black under the video's own window, and under a picture: one with
        // transparent parts shows black through them, never the quadrant's
        // old contents, and no seam of those survives a rounding of the stretch.
        FillBlack(dc, Rect{q.left, q.top, q.right, q.bottom});
        if (!q.video.IsMediaOpen()) PaintPicture(dc, q, width, height);
    }
    if (linesOfMetadata >= 1) PaintBand(dc, q, width, height);
    if (q.refusedNoticeUntil != 0) PaintRefusedNotice(dc, q, width, height);
    if (q.menuOpen) FrameRect(dc, Rect{q.left, q.top, q.right, q.bottom}, kMenuFrameColour);
}

}  // namespace

int PaintCollage(HDC dc) {
    int painted = 0;
    for (const auto& q : quadrantList) {
        if (q->covered || !RectVisible(dc, Rect{q->left, q->top, q->right, q->bottom})) continue;
        PaintQuadrant(dc, *q);
        ++painted;
    }
    return painted;
}
