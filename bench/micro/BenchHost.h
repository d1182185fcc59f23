// What the runtime sees in a benchmark: the fake runtime, rewriting targets made for it, and either a
// multiplexer over the targets (held the way the runtime holds its profiler) or the targets alone, each
// initialised with the runtime directly.
#pragma once

#include "common/RewritingTarget.h"
#include "micro/BenchRuntime.h"

#include <vector>

namespace profilermultiplexer {
class ProfilerMultiplexer;
}

namespace pmbench {

class BenchHost {
public:
    // One target per mask (the low word it sets at Initialize), in list order.
    BenchHost(const std::vector<DWORD>& targetMasks, bool rewrite, bool multiplexed);
    ~BenchHost();
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    // The profiler the runtime calls: the multiplexer, or the first target when there is none.
    ICorProfilerCallback9& Profiler() const { return *_profiler; }
    // The targets as the runtime would call them directly.
    const std::vector<ICorProfilerCallback9*>& Targets() const { return _callbacks; }
    RewritingTarget& Target(std::size_t index) const { return *_targets.at(index); }
    BenchRuntime& Runtime() { return _runtime; }

private:
    BenchRuntime _runtime;
    std::vector<RewritingTarget*> _targets;
    std::vector<ICorProfilerCallback9*> _callbacks;
    profilermultiplexer::ProfilerMultiplexer* _multiplexer = nullptr;
    ICorProfilerCallback9* _profiler = nullptr;
};

} // namespace pmbench
