// What ThreadSanitizer is told of the hand-made mutexes, so that it checks their lock order as it does for
// the ones it intercepts; nothing in other builds.
#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace profilermultiplexer::tsanmutex {

#if defined(__SANITIZE_THREAD__)
constexpr unsigned Reentrant = __tsan_mutex_write_reentrant;

// A mutex without a constructor call gives its kind with each lock.
inline void PreLock(void* mutex, unsigned kind) noexcept {
    __tsan_mutex_pre_lock(mutex, kind);
}
inline void PostLock(void* mutex, unsigned kind) noexcept {
    __tsan_mutex_post_lock(mutex, kind, 0);
}
inline void PreUnlock(void* mutex) noexcept {
    __tsan_mutex_pre_unlock(mutex, 0);
}
inline void PostUnlock(void* mutex) noexcept {
    __tsan_mutex_post_unlock(mutex, 0);
}
#else
constexpr unsigned Reentrant = 0;

inline void PreLock(void*, unsigned) noexcept {}
inline void PostLock(void*, unsigned) noexcept {}
inline void PreUnlock(void*) noexcept {}
inline void PostUnlock(void*) noexcept {}
#endif

} // namespace profilermultiplexer::tsanmutex
