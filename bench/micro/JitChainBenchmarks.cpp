// JITCompilationStarted and JITCompilationFinished of distinct methods that every target rewrites (read
// IL, allocate, set IL): two targets and one target behind the multiplexer, against the same targets
// called by the runtime directly, each rewriting with the runtime's own info object.
#include "micro/AllocationCounter.h"
#include "micro/BenchHost.h"
#include "micro/InstructionCounter.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <memory>
#include <string>

namespace pmbench {

namespace {

// Methods per thread and run: every method stays known to the multiplexer, so runs are kept bounded.
constexpr benchmark::IterationCount MethodsPerThread = 20000;

HRESULT CompileDirectly(const std::vector<ICorProfilerCallback9*>& targets, FunctionID functionId) {
    HRESULT result = S_OK;
    for (ICorProfilerCallback9* target : targets) {
        result |= target->JITCompilationStarted(functionId, TRUE);
    }
    for (ICorProfilerCallback9* target : targets) {
        result |= target->JITCompilationFinished(functionId, S_OK, TRUE);
    }
    return result;
}

HRESULT Compile(const BenchHost& host, bool multiplexed, FunctionID functionId) {
    if (!multiplexed) {
        return CompileDirectly(host.Targets(), functionId);
    }
    ICorProfilerCallback9& profiler = host.Profiler();
    const HRESULT started = profiler.JITCompilationStarted(functionId, TRUE);
    return started | profiler.JITCompilationFinished(functionId, S_OK, TRUE);
}

std::vector<DWORD> JitMasks(int targets) {
    return std::vector<DWORD>(static_cast<std::size_t>(targets), COR_PRF_MONITOR_JIT_COMPILATION);
}

// One host per run, made by the first thread before the threads start together and dropped after they
// have all finished.
void JitChain(benchmark::State& state, bool multiplexed) {
    static std::unique_ptr<BenchHost> host;
    static uint64_t allocationsBefore = 0;
    static std::size_t heapBefore = 0;
    if (state.thread_index() == 0) {
        host = std::make_unique<BenchHost>(JitMasks(static_cast<int>(state.range(0))), true, multiplexed);
        allocationsBefore = AllocationCounter::Count();
        heapBefore = mallinfo2().uordblks;
    }
    // Module per thread, token per method: every compilation is of a method not seen before.
    const auto module = static_cast<uint32_t>(state.thread_index() + 1);
    uint32_t method = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            Compile(*host, multiplexed, BenchRuntime::MethodFunctionId(module, method++)));
    }
    if (state.thread_index() == 0) {
        state.counters["allocs"] =
            benchmark::Counter(static_cast<double>(AllocationCounter::Count() - allocationsBefore),
                               benchmark::Counter::kAvgIterations);
        // Heap kept per method; mallinfo2 sees the main thread's arena only, so for one thread only.
        if (state.threads() == 1) {
            state.counters["kept_bytes"] = benchmark::Counter(
                static_cast<double>(mallinfo2().uordblks - heapBefore), benchmark::Counter::kAvgIterations);
        }
        const auto counts = host->Target(0).GetCounts();
        state.counters["failed"] = static_cast<double>(counts.failed);
        host.reset();
    }
}

void Register(const char* name, bool multiplexed) {
    benchmark::RegisterBenchmark(name, JitChain, multiplexed)
        ->ArgName("targets")
        ->Arg(1)
        ->Arg(2)
        ->Iterations(MethodsPerThread)
        ->Threads(1)
        ->Threads(8)
        ->UseRealTime();
}

void CountJitChain(const std::string& name, uint64_t iterations, int targets, bool multiplexed) {
    const BenchHost host(JitMasks(targets), true, multiplexed);
    InstructionCounter::Measure(name, iterations, [&](uint64_t i) {
        benchmark::DoNotOptimize(
            Compile(host, multiplexed, BenchRuntime::MethodFunctionId(1, static_cast<uint32_t>(i + 1))));
    });
}

const bool registered = [] {
    Register("JitChain/direct", false);
    Register("JitChain/multiplexer", true);
    for (int targets : {1, 2}) {
        const std::string suffix = "/targets:" + std::to_string(targets);
        InstructionCounter::Register(
            "JitChain/direct" + suffix,
            [targets](const std::string& name, uint64_t n) { CountJitChain(name, n, targets, false); });
        InstructionCounter::Register(
            "JitChain/multiplexer" + suffix,
            [targets](const std::string& name, uint64_t n) { CountJitChain(name, n, targets, true); });
    }
    return true;
}();

} // namespace

} // namespace pmbench
