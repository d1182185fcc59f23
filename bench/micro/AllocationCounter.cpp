#include "micro/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace pmbench {

namespace {
std::atomic<uint64_t> s_allocations{0};
} // namespace

uint64_t AllocationCounter::Count() noexcept {
    return s_allocations.load(std::memory_order_relaxed);
}

void AllocationCounter::Add() noexcept {
    s_allocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace pmbench

// The replaced allocation functions. The array and nothrow forms of the library call these.
void* operator new(std::size_t size) {
    pmbench::AllocationCounter::Add();
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t alignment) {
    pmbench::AllocationCounter::Add();
    const auto align = static_cast<std::size_t>(alignment);
    if (void* memory = std::aligned_alloc(align, (size + align - 1) / align * align)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t /*size*/) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::align_val_t /*alignment*/) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
    std::free(memory);
}
