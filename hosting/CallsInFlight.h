// Counts the runtime's calls that are running inside an object, so that its shutdown can wait for them
// before it releases what they use. Sequentially consistent: a call counts itself before it reads what
// shutdown clears, and shutdown clears it before it reads the count.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace profilermultiplexer {

class CallsInFlight {
public:
    // Counts one call for its lifetime.
    class Scope {
    public:
        explicit Scope(CallsInFlight& calls) noexcept : _calls(calls) { _calls._count.fetch_add(1); }
        ~Scope() { _calls._count.fetch_sub(1); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        CallsInFlight& _calls;
    };

    // Waits, at most for limit, until no more than `own` calls run (the waiting call's own scopes).
    // False when the limit ran out first.
    bool WaitUntilIdle(std::chrono::milliseconds limit, int own = 0) const noexcept {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (_count.load() > own) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    int Count() const noexcept { return _count.load(); }

private:
    std::atomic<int> _count{0};
};

} // namespace profilermultiplexer
