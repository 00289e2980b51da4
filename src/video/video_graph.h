// The video of one quadrant: one player, rendering into a child window of the
// saver window placed over the quadrant's picture area.
#pragma once

#include <string>

#include "platform/window.h"

struct mpv_handle;

class VideoGraph {
public:
    VideoGraph() = default;
    ~VideoGraph();
    VideoGraph(const VideoGraph&) = delete;
    VideoGraph& operator=(const VideoGraph&) = delete;

    // Plays the file over the area (client coordinates of `owner`; the bottom
    // already raised by the band of file data). True once told to run.
    bool OpenAsDynamicMedia(HWND owner, const std::string& path, int top, int left, int bottom, int right, bool mute);
    bool IsMediaOpen() const { return fPlayer != nullptr; }
    // True when there is no player, when the clip has ended or when the
    // player has stopped; waits at most 30 ms for that.
    bool HasMediaEnded();
    // Stops and releases everything; nothing to do on a closed graph.
    void CloseDynamicMedia();

    // Takes the player's pending events; the video window calls it when the
    // player signals that it has some.
    void DrainEvents(double waitSeconds = 0);
    HWND VideoWindow() const { return fVideoWindow; }
    bool Muted() const;

private:
    void Place();

    mpv_handle* fPlayer = nullptr;  // non-null means open
    HWND fVideoWindow = nullptr;    // where the player draws
    int areaTop_ = 0, areaLeft_ = 0, areaBottom_ = 0, areaRight_ = 0;
    bool ended_ = false;
    bool placed_ = false;
};
