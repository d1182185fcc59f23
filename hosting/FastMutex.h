// A mutex of one word for the locks taken several times for every method the runtime compiles: an
// uncontended lock and unlock are one atomic operation each, without a call into the C library; a
// contended lock sleeps on a futex until the holder lets go.
#pragma once

#include "hosting/TsanMutex.h"

#include <atomic>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace profilermultiplexer {

class FastMutex {
public:
    FastMutex() = default;
    FastMutex(const FastMutex&) = delete;
    FastMutex& operator=(const FastMutex&) = delete;

    void lock() noexcept {
        tsanmutex::PreLock(this, 0);
        Acquire();
        tsanmutex::PostLock(this, 0);
    }

    void unlock() noexcept {
        tsanmutex::PreUnlock(this);
        Release();
        tsanmutex::PostUnlock(this);
    }

    // lock and unlock without a word to ThreadSanitizer: for a lock built on this one that tells it
    // itself (at the same address).
    void Acquire() noexcept {
        int state = Unlocked;
        if (!_state.compare_exchange_strong(state, Locked, std::memory_order_acquire,
                                            std::memory_order_relaxed)) {
            LockContended(state);
        }
    }

    void Release() noexcept {
        if (_state.exchange(Unlocked, std::memory_order_release) == Contended) {
            Futex(FUTEX_WAKE_PRIVATE, 1);
        }
    }

private:
    static constexpr int Unlocked = 0;
    static constexpr int Locked = 1;
    // Locked, and a thread may sleep on it: the unlock wakes one.
    static constexpr int Contended = 2;

    void LockContended(int state) noexcept {
        if (state != Contended) {
            state = _state.exchange(Contended, std::memory_order_acquire);
        }
        while (state != Unlocked) {
            Futex(FUTEX_WAIT_PRIVATE, Contended);
            state = _state.exchange(Contended, std::memory_order_acquire);
        }
    }

    void Futex(int operation, int value) noexcept {
        syscall(SYS_futex, reinterpret_cast<int*>(&_state), operation, value, nullptr, nullptr, 0);
    }

    static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);
    std::atomic<int> _state{Unlocked};
};

} // namespace profilermultiplexer
