// A plain callback (ExceptionThrown) delivered by the multiplexer's fan-out, against the runtime calling
// the same targets directly in a loop.
#include "micro/AllocationCounter.h"
#include "micro/BenchHost.h"
#include "micro/InstructionCounter.h"

#include <benchmark/benchmark.h>

#include <string>

namespace pmbench {

namespace {

constexpr DWORD AsksForExceptions = COR_PRF_MONITOR_EXCEPTIONS;
constexpr DWORD AsksForJitOnly = COR_PRF_MONITOR_JIT_COMPILATION;

// targets that ask for the callback, then filteredOut targets that do not.
std::vector<DWORD> Masks(int targets, int filteredOut) {
    std::vector<DWORD> masks(static_cast<std::size_t>(targets), AsksForExceptions);
    masks.insert(masks.end(), static_cast<std::size_t>(filteredOut), AsksForJitOnly);
    return masks;
}

// The runtime's own loop over its profilers, for the direct case.
HRESULT CallDirectly(const std::vector<ICorProfilerCallback9*>& targets, ObjectID object) {
    HRESULT result = S_OK;
    for (ICorProfilerCallback9* target : targets) {
        result |= target->ExceptionThrown(object);
    }
    return result;
}

void Run(benchmark::State& state, const BenchHost& host, bool multiplexed) {
    ICorProfilerCallback9& profiler = host.Profiler();
    const auto& targets = host.Targets();
    ObjectID object = 0x1000;
    const uint64_t allocationsBefore = AllocationCounter::Count();
    for (auto _ : state) {
        const HRESULT hr = multiplexed ? profiler.ExceptionThrown(object) : CallDirectly(targets, object);
        benchmark::DoNotOptimize(hr);
        ++object;
    }
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(AllocationCounter::Count() - allocationsBefore),
                           benchmark::Counter::kAvgIterations);
}

void FanOutDirect(benchmark::State& state) {
    const BenchHost host(Masks(static_cast<int>(state.range(0)), 0), false, false);
    Run(state, host, false);
}

void FanOutMultiplexer(benchmark::State& state) {
    const BenchHost host(Masks(static_cast<int>(state.range(0)), 0), false, true);
    Run(state, host, true);
}

// One target asks for the callback, the others are filtered out.
void FanOutFiltered(benchmark::State& state) {
    const BenchHost host(Masks(1, static_cast<int>(state.range(0)) - 1), false, true);
    Run(state, host, true);
}

BENCHMARK(FanOutDirect)->Name("FanOut/direct")->ArgName("targets")->Arg(1)->Arg(2)->Arg(4)->Arg(8);
BENCHMARK(FanOutMultiplexer)->Name("FanOut/multiplexer")->ArgName("targets")->Arg(1)->Arg(2)->Arg(4)->Arg(8);
BENCHMARK(FanOutFiltered)->Name("FanOut/multiplexer_1_of")->ArgName("targets")->Arg(8);

void CountFanOut(const std::string& name, uint64_t iterations, int targets, int filteredOut,
                 bool multiplexed) {
    const BenchHost host(Masks(targets, filteredOut), false, multiplexed);
    ICorProfilerCallback9& profiler = host.Profiler();
    const auto& callbacks = host.Targets();
    InstructionCounter::Measure(name, iterations, [&](uint64_t i) {
        benchmark::DoNotOptimize(multiplexed ? profiler.ExceptionThrown(i) : CallDirectly(callbacks, i));
    });
}

const bool registered = [] {
    for (int targets : {1, 2, 4, 8}) {
        const std::string suffix = "/targets:" + std::to_string(targets);
        InstructionCounter::Register(
            "FanOut/direct" + suffix,
            [targets](const std::string& name, uint64_t n) { CountFanOut(name, n, targets, 0, false); });
        InstructionCounter::Register(
            "FanOut/multiplexer" + suffix,
            [targets](const std::string& name, uint64_t n) { CountFanOut(name, n, targets, 0, true); });
    }
    return InstructionCounter::Register(
        "FanOut/multiplexer_1_of/targets:8",
        [](const std::string& name, uint64_t n) { CountFanOut(name, n, 1, 7, true); });
}();

} // namespace

} // namespace pmbench
