// The configurable test target profiler. It sets the event mask its configuration names, records the
// callbacks it receives, and calls back into its info object as real profilers do: method, module and
// assembly names through the info and metadata interfaces. At Shutdown it writes a summary and, when its
// own checks all held, the pass phrase.
#pragma once

#include "ComPtr.h"
#include "CorProfilerInfo.h"
#include "RecordingCallback.h"
#include "TargetConfig.h"

#include <atomic>
#include <string>

namespace e2e {

class TestTarget : public RecordingCallback {
public:
    explicit TestTarget(TargetConfig config);

    HRESULT Initialize(IUnknown* pICorProfilerInfoUnk) override;
    HRESULT Shutdown() override;
    HRESULT AssemblyLoadFinished(AssemblyID assemblyId, HRESULT hrStatus) override;
    HRESULT ModuleLoadFinished(ModuleID moduleId, HRESULT hrStatus) override;
    HRESULT JITCompilationStarted(FunctionID functionId, BOOL fIsSafeToBlock) override;
    HRESULT JITCompilationFinished(FunctionID functionId, HRESULT hrStatus, BOOL fIsSafeToBlock) override;

private:
    void ProbeInfoVersion(IUnknown* info);
    void SetMask(DWORD low, DWORD high);
    std::string MethodName(FunctionID functionId);
    std::string ModuleName(ModuleID moduleId);
    std::string AssemblyName(AssemblyID assemblyId);
    // Counts a broken expectation and records why.
    void Fail(const std::string& reason) noexcept;

    const TargetConfig _config;
    ComPtr<ICorProfilerInfo5> _info; // set in Initialize, before any other callback
    std::atomic<int> _initializeCount{0};
    std::atomic<int> _shutdownCount{0};
    std::atomic<int> _failures{0};
    std::atomic<bool> _maskChanged{false};
};

} // namespace e2e
