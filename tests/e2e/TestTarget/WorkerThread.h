// A thread of the target's own that runs posted actions in order: the runtime wants ReJIT and revert
// requests made from such a thread, not from inside a callback.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace e2e {

class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() { Stop(); }

    void Start();
    // False when the thread is not running.
    bool Post(std::function<void()> action);
    // Runs what is posted, then ends the thread.
    void Stop() noexcept;

private:
    void Run();

    std::mutex _lock;
    std::condition_variable _changed;
    std::deque<std::function<void()>> _actions;
    bool _running = false;
    bool _stopping = false;
    std::thread _thread;
};

} // namespace e2e
