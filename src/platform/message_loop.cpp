// The message queue with Win32's order of retrieval: posted messages, then
// input, then WM_PAINT, then WM_TIMER. Paint and timer messages are generated
// when asked for, never queued. The loop blocks on GLib's main context, so a
// nested loop (a menu, a dialog) keeps every source flowing.
#include <glib-unix.h>
#include <glib.h>

#include <algorithm>
#include <csignal>
#include <deque>
#include <mutex>

#include "platform/window_internal.h"

namespace {

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT periodMs;
    std::uint64_t due;
};

struct LoopState {
    std::mutex postedLock;  // PostMessage may come from other threads
    std::deque<MSG> posted;
    bool quitPosted = false;
    int quitCode = 0;
    std::deque<MSG> input;
    std::vector<Timer> timers;
    HWND signalTarget = nullptr;
    std::vector<guint> signalSources;
};

LoopState& Loop() {
    static LoopState state;
    return state;
}

std::uint64_t Now() { return ActiveBackendImpl() ? ActiveBackendImpl()->NowMs() : 0; }

bool Matches(const MSG& m, HWND filter, UINT first, UINT last) {
    if (filter && m.hwnd != filter) return false;
    if (first == 0 && last == 0) return true;
    return m.message >= first && m.message <= last;
}

bool IsMouseMessage(UINT message) { return message >= WM_MOUSEMOVE && message <= 0x020E; }

void Stamp(MSG* m) {
    m->time = static_cast<DWORD>(Now());
    if (ActiveBackendImpl()) m->pt = ActiveBackendImpl()->CursorPos();
}

// Takes the next message by the queue rules; false when nothing is due.
// Without `generated`, only posted messages and input are taken.
bool Next(MSG* out, HWND filter, UINT first, UINT last, bool remove, bool generated = true) {
    auto& s = Loop();
    {
        std::lock_guard<std::mutex> lock(s.postedLock);
        for (auto it = s.posted.begin(); it != s.posted.end(); ++it) {
            if (!Matches(*it, filter, first, last)) continue;
            *out = *it;
            if (remove) s.posted.erase(it);
            return true;
        }
        if (s.quitPosted && Matches(MSG{nullptr, WM_QUIT}, nullptr, first, last)) {
            *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0};
            Stamp(out);
            if (remove) s.quitPosted = false;
            return true;
        }
    }
    for (auto it = s.input.begin(); it != s.input.end(); ++it) {
        if (!Matches(*it, filter, first, last)) continue;
        *out = *it;
        if (remove) {
            s.input.erase(it);
            // As Win32 does while it hands out mouse input: the window may choose the cursor first.
            if (IsMouseMessage(out->message))
                SendMessage(out->hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(out->hwnd),
                            MAKELPARAM(HTCLIENT, out->message));
        }
        return true;
    }
    if (!generated) return false;
    for (HWND w : OwnWindows()) {
        MSG paint{w, WM_PAINT};
        if (cairo_region_is_empty(w->update) || !Matches(paint, filter, first, last)) continue;
        *out = paint;
        Stamp(out);
        return true;
    }
    std::uint64_t now = Now();
    for (auto& t : s.timers) {
        MSG tick{t.hwnd, WM_TIMER, t.id, 0};
        if (t.due > now || !Matches(tick, filter, first, last)) continue;
        *out = tick;
        Stamp(out);
        if (remove) t.due = now + t.periodMs;  // missed periods are dropped
        return true;
    }
    return false;
}

// Lets the main context's sources run without blocking: X events, signals,
// wakeups from other threads.
void Pump() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

int MsUntilNextTimer(HWND filter) {
    std::uint64_t now = Now();
    std::uint64_t best = UINT64_MAX;
    for (auto& t : Loop().timers)
        if (!filter || t.hwnd == filter) best = std::min(best, t.due);
    if (best == UINT64_MAX) return -1;
    return best <= now ? 0 : static_cast<int>(std::min<std::uint64_t>(best - now, INT32_MAX));
}

gboolean OnTerminationSignal(gpointer) {
    if (HWND target = Loop().signalTarget) PostMessage(target, WM_CLOSE, 0, 0);
    return G_SOURCE_CONTINUE;
}

}  // namespace

void QueueInput(const MSG& msg) {
    MSG m = msg;
    Stamp(&m);
    Loop().input.push_back(m);
}

void ForgetWindowMessages(HWND hwnd) {
    auto& s = Loop();
    {
        std::lock_guard<std::mutex> lock(s.postedLock);
        s.posted.erase(std::remove_if(s.posted.begin(), s.posted.end(), [hwnd](auto& m) { return m.hwnd == hwnd; }),
                       s.posted.end());
    }
    s.input.erase(std::remove_if(s.input.begin(), s.input.end(), [hwnd](auto& m) { return m.hwnd == hwnd; }),
                  s.input.end());
    s.timers.erase(std::remove_if(s.timers.begin(), s.timers.end(), [hwnd](auto& t) { return t.hwnd == hwnd; }),
                   s.timers.end());
    if (s.signalTarget == hwnd) s.signalTarget = nullptr;
}

void ResetMessageLoop() {
    auto& s = Loop();
    {
        std::lock_guard<std::mutex> lock(s.postedLock);
        s.posted.clear();
        s.quitPosted = false;
    }
    s.input.clear();
    s.timers.clear();
    PostCloseOnTerminationSignals(nullptr);
}

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& s = Loop();
    {
        std::lock_guard<std::mutex> lock(s.postedLock);
        MSG m{hwnd, msg, wParam, lParam};
        m.time = static_cast<DWORD>(Now());
        s.posted.push_back(m);
    }
    g_main_context_wakeup(nullptr);
    return true;
}

void PostQuitMessage(int exitCode) {
    auto& s = Loop();
    {
        std::lock_guard<std::mutex> lock(s.postedLock);
        s.quitPosted = true;
        s.quitCode = exitCode;
    }
    g_main_context_wakeup(nullptr);
}

bool PeekMessage(MSG* msg, HWND filter, UINT first, UINT last, UINT remove) {
    Pump();
    return Next(msg, filter, first, last, (remove & PM_REMOVE) != 0);
}

bool GetMessage(MSG* msg, HWND filter, UINT first, UINT last) {
    for (;;) {
        Pump();
        if (Next(msg, filter, first, last, true)) return msg->message != WM_QUIT;
        ActiveBackendImpl()->Wait(MsUntilNextTimer(filter));
    }
}

bool GetQueuedMessage(MSG* msg) {
    for (;;) {
        Pump();
        if (Next(msg, nullptr, 0, 0, true, false)) return msg->message != WM_QUIT;
        // Whatever brings a message wakes the context: the display, a signal,
        // a post from another thread.
        g_main_context_iteration(nullptr, TRUE);
    }
}

bool TranslateMessage(const MSG*) { return false; }

std::function<void(const MSG&)> gDispatchObserver;

LRESULT DispatchMessage(const MSG* msg) {
    if (gDispatchObserver) gDispatchObserver(*msg);
    return msg->hwnd ? SendMessage(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) {
    if (!IsWindow(hwnd) || id == 0) return 0;
    auto& timers = Loop().timers;
    // Win32 raises periods below its minimum; 0 would never let the queue rest.
    UINT period = std::max<UINT>(elapseMs, 1);
    std::uint64_t due = Now() + period;
    for (auto& t : timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t.periodMs = period;
            t.due = due;
            return id;
        }
    }
    timers.push_back(Timer{hwnd, id, period, due});
    return id;
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
    auto& timers = Loop().timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](auto& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) return false;
    timers.erase(it);
    return true;
}

DWORD GetTickCount() { return static_cast<DWORD>(Now()); }

void Sleep(DWORD ms) {
    if (ActiveBackendImpl()) ActiveBackendImpl()->SleepMs(ms);
}

void PostCloseOnTerminationSignals(HWND hwnd) {
    auto& s = Loop();
    s.signalTarget = hwnd;
    if (hwnd && s.signalSources.empty()) {
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) s.signalSources.push_back(g_unix_signal_add(sig, OnTerminationSignal, nullptr));
    } else if (!hwnd) {
        for (guint id : s.signalSources) g_source_remove(id);
        s.signalSources.clear();
    }
}
