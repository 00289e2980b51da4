// Where a video goes inside its quadrant: enlarged by the largest whole
// factor that fits, or reduced to a whole percentage, and centred.
#pragma once

#include "platform/types.h"

constexpr int kFallbackVideoWidth = 320;
constexpr int kFallbackVideoHeight = 240;

// The area is given as top, left, bottom, right. A video size that is not
// known (0 or less in either direction) is placed as 320 × 240.
Rect PlaceVideo(int top, int left, int bottom, int right, int videoWidth, int videoHeight);
