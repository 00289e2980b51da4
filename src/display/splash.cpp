// The start screen shown until the first tick: the banner over the primary
// screen, framed, with the version, the folder shown and the keys.
#include <string>

#include "display/collage.h"
#include "display/saver_state.h"
#include "imaging/drawing.h"
#include "imaging/picture_holder.h"
#include "platform/gdi.h"
#include "platform/text.h"
#include "resources/resource_ids.h"
#include "settings/preferences.h"

namespace {

constexpr int kSplashTextPoints = 10;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr int kFrameGap = 10;
// "Path" is read the way it always was, into 256 bytes: 127 characters and
// the terminator. A longer folder fails the read and is not named.
constexpr std::size_t kPathBufferBytes = 256;
constexpr std::size_t kLineUnits = 255;

std::string FolderLine() {
    std::string folder;
    ReadStringFromPreferences(PreferenceId::Path, &folder, kPathBufferBytes);
    return CutToUtf16Units("Displaying files from " + folder, kLineUnits);
}

}  // namespace

void PaintSplash(HDC dc, HWND hwnd) {
    if (splashState == 1) {
        Rect client;
        GetClientRect(hwnd, &client);
        FillBlack(dc, client);
        splashState = 2;
    }

    PictureHolder banner;
    banner.LoadFromResource(kBannerPngId, ResourceType::Png);
    const auto w = static_cast<int>(banner.GetWidth());
    const auto h = static_cast<int>(banner.GetHeight());
    // Centred on the primary monitor, wherever the desktop puts it.
    const Rect screen = DesktopToClient(hwnd, GetPrimaryMonitorRect());
    const int left = screen.left + (screen.Width() - w) / 2;
    const int top = screen.top + (screen.Height() - h) / 2;
    banner.DrawInto(dc, left, top, left + w, top + h);
    FrameRect(dc, Rect{left - kFrameGap, top - kFrameGap, left + w + kFrameGap, top + h + kFrameGap}, kWhite);

    DrawTextLine(dc, " 1.4beta2", left + 594, top + 96, kSplashTextPoints);
    DrawTextLine(dc, FolderLine(), left + 284, top + 136, kSplashTextPoints);
    DrawTextLine(dc, "Hit ESC to exit.   Space to pause.  T to show/hide file data.", left + 284, top + 176,
                 kSplashTextPoints);
    DrawTextLine(dc, "Move mouse and click on image to rank an image, or mark private.", left + 284, top + 196,
                 kSplashTextPoints);
}
