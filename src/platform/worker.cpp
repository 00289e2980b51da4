#include "platform/worker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/window_internal.h"

namespace {

struct Job {
    const Work& work;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false};
};

// One thread for the process's lifetime, idle between jobs: it costs no
// thread start per picture and keeps one allocator arena.
class Worker {
public:
    ~Worker() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

    void Start(Job* job) {
        {
            const std::lock_guard lock(mutex_);
            jobs_.push_back(job);
            if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        }
        wake_.notify_one();
    }

    Work observer;  // set on the GUI thread between jobs; Start's lock publishes it

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
            if (jobs_.empty()) return;
            Job* job = jobs_.front();
            jobs_.pop_front();
            lock.unlock();
            if (observer) observer(job->cancelled);
            job->work(job->cancelled);
            // The job belongs to the waiting thread, which may leave as soon as it sees this.
            job->done.store(true);
            // Wakes the waiting loop; taken later by another loop, it does nothing.
            PostMessage(nullptr, WM_NULL, 0, 0);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job*> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

Worker& TheWorker() {
    static Worker worker;
    return worker;
}

std::vector<Job*> inFlight;  // GUI thread only

}  // namespace

void RunOffGuiThread(const Work& work) {
    Job job{work};
    inFlight.push_back(&job);
    TheWorker().Start(&job);
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

void ObserveWork(Work observer) { TheWorker().observer = std::move(observer); }
