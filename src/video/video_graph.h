// The video of one quadrant.
#pragma once

#include <string>

#include "platform/window.h"

class VideoGraph {
public:
    // Plays the file in a child window of `owner` over the area; true once told to run.
    bool OpenAsDynamicMedia(HWND owner, const std::string& path, int top, int left, int bottom, int right, bool mute);
    bool IsMediaOpen() const;
    bool HasMediaEnded();
    // Stops and releases everything; nothing to do on a closed graph.
    void CloseDynamicMedia();
};
