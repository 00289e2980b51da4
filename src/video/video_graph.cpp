#include "video/video_graph.h"

#include <glib.h>
#include <malloc.h>

#include <map>

#include "diag/debug_log.h"
#include "diag/library_messages.h"
#include "video/mpv_library.h"
#include "video/placement.h"

namespace {

// Posted by the player's threads; the video window drains the player on the GUI thread.
constexpr UINT kPlayerWakeup = WM_USER + 0x31;
constexpr char kVideoClass[] = "KaleidraVideo";

std::map<HWND, VideoGraph*>& Graphs() {
    static std::map<HWND, VideoGraph*> graphs;
    return graphs;
}

LRESULT VideoWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kPlayerWakeup) {
        auto it = Graphs().find(hwnd);
        if (it != Graphs().end()) it->second->DrainEvents();
        return 0;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

// Never calls into the player: it may run on any of the player's threads.
void OnPlayerWakeup(void* window) { PostMessage(static_cast<HWND>(window), kPlayerWakeup, 0, 0); }

void SetOption(mpv_handle* player, const char* name, const char* value) {
    Mpv().set_option_string(player, name, value);
}

// The GPU output where the machine has a render device. Without one, the GL
// loader's device probe closes a descriptor it does not own (seen as fd 0 on
// servers without DRM), which breaks whatever connection reuses the number;
// plain X11 output never probes.
const char* VideoOutput() { return g_file_test("/dev/dri", G_FILE_TEST_IS_DIR) ? "gpu,x11" : "x11"; }

HWND CreateVideoWindow(HWND owner, int top, int left, int bottom, int right) {
    WNDCLASS wc;
    wc.lpfnWndProc = VideoWindowProc;
    wc.lpszClassName = kVideoClass;
    wc.background = RGB(0, 0, 0);
    RegisterClass(wc);  // once per display; later calls find it registered
    // Hidden until the video's size is known and the window can be placed.
    return CreateWindowEx(0, kVideoClass, "", WS_CHILD | WS_DISABLED | WS_CLIPSIBLINGS, left, top, right - left,
                          bottom - top, owner, nullptr);
}

}  // namespace

VideoGraph::~VideoGraph() { CloseDynamicMedia(); }

bool VideoGraph::OpenAsDynamicMedia(HWND owner, const std::string& path, int top, int left, int bottom, int right,
                                    bool mute) {
    LogNumber(top);
    LogNumber(left);
    LogNumber(bottom);
    LogNumber(right);
    LogText("OpenAsDynamicMedia\n");
    areaTop_ = top;
    areaLeft_ = left;
    areaBottom_ = bottom;
    areaRight_ = right;
    ended_ = placed_ = false;

    mpv_handle* player = Mpv().create();
    fVideoWindow = player ? CreateVideoWindow(owner, top, left, bottom, right) : nullptr;
    int status = player && fVideoWindow ? 0 : MPV_ERROR_NOMEM;
    if (status == 0) {
        bool display = ActiveBackend() == BackendKind::X11;
        SetOption(player, "vo", display ? VideoOutput() : "null");
        if (mute) {
            // No audio track and no output: a muted clip neither decodes its sound
            // nor probes the sound servers and cards.
            SetOption(player, "aid", "no");
            SetOption(player, "ao", "null");
        } else {
            // The sound servers and ALSA, else silence. Other outputs are left out:
            // SDL's audio start-up is not safe with several players starting at once.
            SetOption(player, "ao", display ? "pipewire,pulse,alsa,null" : "null");
        }
        if (display) SetOption(player, "wid", std::to_string(NativeWindowId(fVideoWindow)).c_str());
        SetOption(player, "hwdec", "auto-safe");
        // The saver owns every key and click; the player shows nothing of its own.
        SetOption(player, "input-default-bindings", "no");
        SetOption(player, "input-vo-keyboard", "no");
        SetOption(player, "input-cursor", "no");
        SetOption(player, "osc", "no");
        SetOption(player, "osd-level", "0");
        // Nothing on stderr: what the player has to say goes to the debug log.
        SetOption(player, "terminal", "no");
        Mpv().request_log_messages(player, "warn");
        SetOption(player, "idle", "yes");
        // An ended clip stays on its last frame until the tick that notices the
        // end replaces it. A player that lets go of the file reports no video
        // size, and the window refitted to the fallback size stays black.
        SetOption(player, "keep-open", "yes");
        SetOption(player, "pause", "yes");  // runs when told to
        status = Mpv().initialize(player);
    }
    LogEntry(status, "CoCreateInstance");
    if (status < 0) {
        if (player) Mpv().terminate_destroy(player);
        if (fVideoWindow) DestroyWindow(fVideoWindow);
        fVideoWindow = nullptr;
        LogEntry(0, "OpenAsDynamicMedia catch ... reached");
        return false;
    }
    fPlayer = player;
    Graphs()[fVideoWindow] = this;
    // Kept open, a clip that reaches its end reports no end of file, only this.
    Mpv().observe_property(fPlayer, 0, "eof-reached", MPV_FORMAT_FLAG);
    Mpv().set_wakeup_callback(fPlayer, OnPlayerWakeup, fVideoWindow);

    const char* load[] = {"loadfile", path.c_str(), nullptr};
    Mpv().command(fPlayer, load);  // a file it cannot play ends on its own, like any other
    if (mute) {
        int muted = Mpv().set_property_string(fPlayer, "mute", "yes");
        LogEntry(muted, "fIBasicAudio->put_Volume");
        LogEntry(Muted() ? 1 : 0, "mute");
    }
    LogEntry(Mpv().set_property_string(fPlayer, "pause", "no"), "pMediaControl->Run");
    return true;
}

bool VideoGraph::Muted() const {
    int flag = 0;
    return fPlayer && Mpv().get_property(fPlayer, "mute", MPV_FORMAT_FLAG, &flag) >= 0 && flag;
}

void VideoGraph::Place() {
    std::int64_t width = 0, height = 0;
    Mpv().get_property(fPlayer, "dwidth", MPV_FORMAT_INT64, &width);
    Mpv().get_property(fPlayer, "dheight", MPV_FORMAT_INT64, &height);
    Rect r = PlaceVideo(areaTop_, areaLeft_, areaBottom_, areaRight_, static_cast<int>(width),
                        static_cast<int>(height));
    MoveWindow(fVideoWindow, r.left, r.top, r.Width(), r.Height());
    if (!placed_) ShowWindow(fVideoWindow, true);
    placed_ = true;
}

void VideoGraph::DrainEvents(double waitSeconds) {
    std::int64_t deadline = g_get_monotonic_time() + static_cast<std::int64_t>(waitSeconds * 1e6);
    while (fPlayer) {
        double left = static_cast<double>(deadline - g_get_monotonic_time()) / 1e6;
        mpv_event* event = Mpv().wait_event(fPlayer, left > 0 ? left : 0);
        switch (event->event_id) {
        case MPV_EVENT_NONE:
            return;
        case MPV_EVENT_LOG_MESSAGE: {
            const auto* message = static_cast<const mpv_event_log_message*>(event->data);
            LogLibraryMessage("mpv", std::string(message->prefix) + ": " + message->text);
            break;
        }
        case MPV_EVENT_VIDEO_RECONFIG:
            Place();
            break;
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* property = static_cast<const mpv_event_property*>(event->data);
            if (property->format == MPV_FORMAT_FLAG && *static_cast<const int*>(property->data)) ended_ = true;
            break;
        }
        case MPV_EVENT_END_FILE:
        case MPV_EVENT_SHUTDOWN:
            ended_ = true;
            break;
        default:
            break;
        }
        if (ended_) waitSeconds = 0, deadline = 0;
    }
}

bool VideoGraph::HasMediaEnded() {
    if (!fPlayer) return true;
    DrainEvents();
    if (!ended_) DrainEvents(0.030);
    return ended_;
}

void VideoGraph::CloseDynamicMedia() {
    if (!fPlayer && !fVideoWindow) return;
    if (fPlayer) {
        const char* stop[] = {"stop", nullptr};
        LogEntry(Mpv().command(fPlayer, stop), "fIGraphBuilder->Abort");
        LogEntry(Mpv().set_property_string(fPlayer, "pause", "yes"), "fIMediaControl->Stop()");
        DrainEvents();
        LogEntry(0, "fIMediaEvent->WaitForCompletion");
    }
    if (fVideoWindow) {
        ShowWindow(fVideoWindow, false);
        LogEntry(0, "fIVideoWindow->put_Owner NULL");
    }
    // The player goes before its window: it must never draw into a window that is gone.
    if (fPlayer) {
        Mpv().terminate_destroy(fPlayer);
        fPlayer = nullptr;
        // A player's threads leave their decode buffers in per-thread heaps;
        // hand the free pages back so that a night of clips does not grow.
        malloc_trim(0);
    }
    if (fVideoWindow) {
        Graphs().erase(fVideoWindow);
        DestroyWindow(fVideoWindow);
        fVideoWindow = nullptr;
    }
}
