#include "WorkerThread.h"

#include <utility>

namespace e2e {

void WorkerThread::Start() {
    std::lock_guard<std::mutex> lock(_lock);
    if (_running) {
        return;
    }
    _thread = std::thread(&WorkerThread::Run, this);
    _running = true;
}

bool WorkerThread::Post(std::function<void()> action) {
    {
        std::lock_guard<std::mutex> lock(_lock);
        if (!_running || _stopping) {
            return false;
        }
        _actions.push_back(std::move(action));
    }
    _changed.notify_one();
    return true;
}

void WorkerThread::Stop() noexcept {
    {
        std::lock_guard<std::mutex> lock(_lock);
        if (!_running) {
            return;
        }
        _stopping = true;
    }
    _changed.notify_one();
    if (_thread.joinable()) {
        _thread.join();
    }
    std::lock_guard<std::mutex> lock(_lock);
    _running = false;
}

void WorkerThread::Run() {
    std::unique_lock<std::mutex> lock(_lock);
    for (;;) {
        _changed.wait(lock, [this] { return _stopping || !_actions.empty(); });
        if (_actions.empty()) {
            return;
        }
        std::function<void()> action = std::move(_actions.front());
        _actions.pop_front();
        lock.unlock();
        action();
        lock.lock();
    }
}

} // namespace e2e
