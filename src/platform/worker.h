// Work that may take long (a picture's decode) runs on the worker thread
// while the GUI thread waits for it, taking posted messages and input as they
// come: a close request is seen at once and can cancel the work. Paints and
// timers stay due until the work is done, as they would had the work run on
// the GUI thread itself.
#pragma once

#include <atomic>
#include <functional>

// `cancelled` turns true when the work should stop as soon as it can.
using Work = std::function<void(const std::atomic<bool>& cancelled)>;

// Runs `work` on the worker thread and returns once it has returned. A
// WM_QUIT taken meanwhile cancels the work and is posted again afterwards.
void RunOffGuiThread(const Work& work);
// Asks every piece of work in flight to stop.
void CancelWork();
// For tests: runs on the worker right before each piece of work, with its
// flag; an empty function removes it.
void ObserveWork(Work observer);
