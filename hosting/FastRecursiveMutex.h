// FastMutex that its holder may lock again: the holding thread counts its locks, others wait.
#pragma once

#include "hosting/FastMutex.h"

#include <atomic>

#include <pthread.h>

namespace profilermultiplexer {

class FastRecursiveMutex {
public:
    FastRecursiveMutex() = default;
    FastRecursiveMutex(const FastRecursiveMutex&) = delete;
    FastRecursiveMutex& operator=(const FastRecursiveMutex&) = delete;

    void lock() noexcept {
        tsanmutex::PreLock(this, tsanmutex::Reentrant);
        LockOnce();
        tsanmutex::PostLock(this, tsanmutex::Reentrant);
    }

    void unlock() noexcept {
        tsanmutex::PreUnlock(this);
        if (--_count == 0) {
            _owner.store(pthread_t{}, std::memory_order_relaxed);
            _mutex.Release();
        }
        tsanmutex::PostUnlock(this);
    }

private:
    void LockOnce() noexcept {
        const pthread_t self = pthread_self();
        // Only the holder can find itself here: every thread clears it before it lets go.
        if (_owner.load(std::memory_order_relaxed) == self) {
            ++_count;
            return;
        }
        _mutex.Acquire();
        _owner.store(self, std::memory_order_relaxed);
        _count = 1;
    }

    FastMutex _mutex;
    std::atomic<pthread_t> _owner{};
    // Written by the holder only.
    unsigned _count = 0;
};

} // namespace profilermultiplexer
