// One thread that runs the jobs given to it, one after another, for as long
// as it exists: work handed over many times a second pays no thread start.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class JobThread {
public:
    JobThread() = default;
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;
    // Runs the jobs still waiting, then ends the thread.
    ~JobThread();

    // Queues `job`; the thread starts with the first one.
    void Post(std::function<void()> job);

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::atomic<bool> posted_{false};  // since the queue last ran empty
    std::thread thread_;
};
