#include "video/placement.h"

#include <algorithm>

Rect PlaceVideo(int top, int left, int bottom, int right, int videoWidth, int videoHeight) {
    if (videoWidth <= 0 || videoHeight <= 0) {
        videoWidth = kFallbackVideoWidth;
        videoHeight = kFallbackVideoHeight;
    }
    long long height = bottom - top, width = right - left;
    long long k = std::min(height / videoHeight, width / videoWidth);
    long long d = 1;
    if (k == 0) {
        k = std::min(height * 100 / videoHeight, width * 100 / videoWidth);
        d = 100;
    }
    int shownWidth = static_cast<int>(k * videoWidth / d);
    int shownHeight = static_cast<int>(k * videoHeight / d);
    int x = left + static_cast<int>((width - shownWidth) / 2);
    int y = top + static_cast<int>((height - shownHeight) / 2);
    return Rect{x, y, x + shownWidth, y + shownHeight};
}
