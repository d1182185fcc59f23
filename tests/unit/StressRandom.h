// Random choices for the stress test: one generator per thread, seeded from the thread's identity, so
// threads need no lock to draw.
#pragma once

#include <functional>
#include <random>
#include <thread>

namespace profilermultiplexer::tests {

// A number from 0 to bound - 1.
inline unsigned StressRandom(unsigned bound) {
    thread_local std::minstd_rand generator(
        static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id())) | 1u);
    return std::uniform_int_distribution<unsigned>(0, bound - 1)(generator);
}

// True once in every `in` draws, on average.
inline bool StressChance(unsigned in) {
    return StressRandom(in) == 0;
}

} // namespace profilermultiplexer::tests
