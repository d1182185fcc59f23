// A target profiler as the benchmarks need it: asks for the events it is given, rewrites the IL of every
// method at JITCompilationStarted through the info object it received (read IL, allocate, set IL), and
// counts what it did.
#pragma once

#include "CorProfilerInfo.h"
#include "NullProfilerCallback.h"

#include <atomic>
#include <cstdint>

namespace pmbench {

class RewritingTarget : public NullProfilerCallback {
public:
    struct Counts {
        uint64_t rewritten;  // given IL with the nop
        uint64_t copied;     // given its IL unchanged
        uint64_t failed;     // the info object refused a step
        uint64_t exceptions; // ExceptionThrown calls received
    };

    struct Options {
        DWORD eventMask = COR_PRF_MONITOR_JIT_COMPILATION; // low mask word set at Initialize
        bool rewrite = true;                               // JITCompilationStarted rewrites the method
        int number = 0;                                    // not 0: Shutdown reports the counts on stderr
        int timedInfoCalls = 0;                            // extra GetFunctionInfo calls timed per method
    };

    explicit RewritingTarget(const Options& options);
    ~RewritingTarget() override;

    HRESULT Initialize(IUnknown* pICorProfilerInfoUnk) override;
    HRESULT Shutdown() override;
    HRESULT JITCompilationStarted(FunctionID functionId, BOOL fIsSafeToBlock) override;
    HRESULT ExceptionThrown(ObjectID thrownObjectId) override;

    // The info object received at Initialize.
    ICorProfilerInfo10* Info() const { return _info; }
    Counts GetCounts() const;

private:
    HRESULT RewriteMethod(FunctionID functionId);
    void TimeInfoCalls(FunctionID functionId);

    const Options _options;
    ICorProfilerInfo10* _info = nullptr;
    std::atomic<uint64_t> _rewritten{0};
    std::atomic<uint64_t> _copied{0};
    std::atomic<uint64_t> _failed{0};
    // Counted without a locked instruction, so that the count costs what a plain callback costs.
    std::atomic<uint64_t> _exceptions{0};
    std::atomic<uint64_t> _timedCalls{0};
    std::atomic<uint64_t> _timedNanoseconds{0};
};

} // namespace pmbench
