#include "video/video_graph.h"

// No player exists yet: a video never opens, so it is always over.
bool VideoGraph::OpenAsDynamicMedia(HWND, const std::string&, int, int, int, int, bool) { return false; }
bool VideoGraph::IsMediaOpen() const { return false; }
bool VideoGraph::HasMediaEnded() { return true; }
void VideoGraph::CloseDynamicMedia() {}
