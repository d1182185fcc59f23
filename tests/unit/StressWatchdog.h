// Fails the stress test when it stops making progress (a deadlock, or a thread stuck in a loop): once no
// thread has reported progress for the stall limit, it prints what each thread was last doing and ends
// the process with a failure, since threads that hold each other's locks can be neither joined nor
// unwound.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace profilermultiplexer::tests {

class StressWatchdog {
public:
    static constexpr std::size_t MaxThreads = 32;

    explicit StressWatchdog(std::chrono::seconds stallLimit)
        : _stallLimit(stallLimit), _thread([this] { Watch(); }) {}
    ~StressWatchdog() {
        {
            std::lock_guard<std::mutex> lock(_lock);
            _stopped = true;
        }
        _wake.notify_all();
        _thread.join();
    }
    StressWatchdog(const StressWatchdog&) = delete;
    StressWatchdog& operator=(const StressWatchdog&) = delete;

    // Thread `slot` is about to do `what` (a literal); counts as progress.
    void Doing(std::size_t slot, const char* what) {
        _doing[slot % MaxThreads].store(what);
        ++_progress;
    }

private:
    void Watch() {
        auto lastChange = std::chrono::steady_clock::now();
        unsigned long long seen = _progress.load();
        std::unique_lock<std::mutex> lock(_lock);
        while (!_wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return _stopped; })) {
            const auto now = std::chrono::steady_clock::now();
            if (_progress.load() != seen) {
                seen = _progress.load();
                lastChange = now;
            } else if (now - lastChange > _stallLimit) {
                Fire();
            }
        }
    }

    [[noreturn]] void Fire() const {
        std::fprintf(stderr, "stress watchdog: no progress for %lld s, the threads were last doing:\n",
                     static_cast<long long>(_stallLimit.count()));
        for (std::size_t slot = 0; slot < MaxThreads; ++slot) {
            if (const char* what = _doing[slot].load()) {
                std::fprintf(stderr, "  thread %zu: %s\n", slot, what);
            }
        }
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }

    const std::chrono::seconds _stallLimit;
    std::array<std::atomic<const char*>, MaxThreads> _doing{};
    std::atomic<unsigned long long> _progress{0};
    std::mutex _lock;
    std::condition_variable _wake;
    bool _stopped = false;
    std::thread _thread;
};

} // namespace profilermultiplexer::tests
