#include "platform/worker.h"

#include <vector>

#include "platform/job_thread.h"
#include "platform/window_internal.h"

namespace {

struct Job {
    const Work& work;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false};
};

// One thread for the process's lifetime, idle between jobs.
JobThread& TheWorker() {
    static JobThread worker;
    return worker;
}

Work observer;  // set on the GUI thread between jobs; posting a job publishes it

std::vector<Job*> inFlight;  // GUI thread only

}  // namespace

void RunOffGuiThread(const Work& work) {
    Job job{work};
    inFlight.push_back(&job);
    TheWorker().Post([&job] {
        if (observer) observer(job.cancelled);
        job.work(job.cancelled);
        // The job belongs to the waiting thread, which may leave as soon as it sees this.
        job.done.store(true);
        // Wakes the waiting loop; taken later by another loop, it does nothing.
        PostMessage(nullptr, WM_NULL, 0, 0);
    });
    bool quit = false;
    int quitCode = 0;
    MSG msg;
    while (!job.done.load()) {
        if (GetQueuedMessage(&msg)) {
            DispatchMessage(&msg);
        } else {
            quit = true;
            quitCode = static_cast<int>(msg.wParam);
            job.cancelled.store(true);
        }
    }
    std::erase(inFlight, &job);
    if (quit) PostQuitMessage(quitCode);
}

void CancelWork() {
    for (Job* job : inFlight) job->cancelled.store(true);
}

void ObserveWork(Work each) { observer = std::move(each); }
