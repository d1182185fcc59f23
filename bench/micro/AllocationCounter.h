// Counts every heap allocation of the process: the benchmark binary replaces the global operator new.
#pragma once

#include <cstdint>

namespace pmbench {

class AllocationCounter {
public:
    // Allocations so far, on every thread.
    static uint64_t Count() noexcept;
    static void Add() noexcept;
};

} // namespace pmbench
