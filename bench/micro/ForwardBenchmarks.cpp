// An info call that the proxy forwards (GetFunctionInfo), against the same call on the runtime's object.
#include "micro/AllocationCounter.h"
#include "micro/BenchHost.h"
#include "micro/InstructionCounter.h"

#include <benchmark/benchmark.h>

#include <string>

namespace pmbench {

namespace {

// What the target calls: the proxy it was given, or the runtime's own object.
ICorProfilerInfo10* InfoObject(BenchHost& host, bool proxied) {
    ICorProfilerInfo10* info =
        proxied ? host.Target(0).Info() : static_cast<ICorProfilerInfo10*>(&host.Runtime());
    benchmark::DoNotOptimize(info); // the call stays virtual, as a target's is
    return info;
}

HRESULT CallOnce(ICorProfilerInfo10* info, FunctionID functionId) {
    ClassID classId = 0;
    ModuleID moduleId = 0;
    mdToken token = 0;
    const HRESULT hr = info->GetFunctionInfo(functionId, &classId, &moduleId, &token);
    benchmark::DoNotOptimize(moduleId);
    benchmark::DoNotOptimize(token);
    return hr;
}

void Forward(benchmark::State& state, bool proxied) {
    BenchHost host({COR_PRF_MONITOR_JIT_COMPILATION}, false, true);
    ICorProfilerInfo10* info = InfoObject(host, proxied);
    FunctionID functionId = BenchRuntime::MethodFunctionId(1, 1);
    const uint64_t allocationsBefore = AllocationCounter::Count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CallOnce(info, functionId++));
    }
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(AllocationCounter::Count() - allocationsBefore),
                           benchmark::Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(Forward, direct, false)->Name("Forward/direct");
BENCHMARK_CAPTURE(Forward, proxy, true)->Name("Forward/proxy");

void CountForward(const std::string& name, uint64_t iterations, bool proxied) {
    BenchHost host({COR_PRF_MONITOR_JIT_COMPILATION}, false, true);
    ICorProfilerInfo10* info = InfoObject(host, proxied);
    InstructionCounter::Measure(name, iterations,
                                [info](uint64_t i) { benchmark::DoNotOptimize(CallOnce(info, i)); });
}

const bool registered =
    InstructionCounter::Register("Forward/direct",
                                 [](const std::string& name, uint64_t n) { CountForward(name, n, false); }) &&
    InstructionCounter::Register("Forward/proxy",
                                 [](const std::string& name, uint64_t n) { CountForward(name, n, true); });

} // namespace

} // namespace pmbench
