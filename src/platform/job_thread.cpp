#include "platform/job_thread.h"

#include <chrono>

namespace {

// Jobs come in runs: a grid filling takes one picture after another, each
// posted a fraction of a millisecond after the last. Staying awake that long
// spares the thread being woken, which costs more than the wait, most of all
// on a virtual machine, where a sleeping processor is handed back to the host.
constexpr auto kAwakeAfterJob = std::chrono::microseconds(500);

}  // namespace

JobThread::~JobThread() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        posted_.store(true);
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void JobThread::Post(std::function<void()> job) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        posted_.store(true);
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
}

void JobThread::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (jobs_.empty() && !stopping_) {
            posted_.store(false);
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + kAwakeAfterJob;
            while (!posted_.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
            lock.lock();
        }
        wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
        if (jobs_.empty()) return;
        const std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}
