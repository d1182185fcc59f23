// Instruction counts of the benchmark loops under callgrind, where wall time is too noisy to compare:
//     valgrind --tool=callgrind --collect-atstart=no pm_bench --instructions
// Each measured loop is collected alone and dumped under its name; the report divides by the count.
#pragma once

#include <valgrind/callgrind.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace pmbench {

class InstructionCounter {
public:
    // Sets up, then calls Measure with the name it is given.
    using Scenario = std::function<void(const std::string& name, uint64_t iterations)>;

    // Adds a scenario to those that --instructions runs; returns true so that a static can hold it.
    static bool Register(std::string name, Scenario scenario);
    // Runs every registered scenario whose name contains filter, with the number of iterations.
    static void RunAll(uint64_t iterations, const std::string& filter);

    // Runs step(i) for i < iterations, collected and dumped as "name iterations=N".
    template <class Step> static void Measure(const std::string& name, uint64_t iterations, Step&& step) {
        for (uint64_t i = 0; i < WarmUp; ++i) {
            step(i);
        }
        CALLGRIND_ZERO_STATS;
        CALLGRIND_TOGGLE_COLLECT;
        for (uint64_t i = WarmUp; i < WarmUp + iterations; ++i) {
            step(i);
        }
        CALLGRIND_TOGGLE_COLLECT;
        const std::string dump = name + " iterations=" + std::to_string(iterations);
        CALLGRIND_DUMP_STATS_AT(dump.c_str());
    }

private:
    static constexpr uint64_t WarmUp = 100;
    static std::vector<std::pair<std::string, Scenario>>& Scenarios();
};

} // namespace pmbench
