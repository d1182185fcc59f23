// The configurable test target profiler. It sets the event mask its configuration names, records the
// callbacks it receives, and calls back into its info object as real profilers do: method, module and
// assembly names through the info and metadata interfaces. It rewrites the IL of the methods it is given
// at their first JIT compilation, and ReJITs or reverts one method when the program calls marker methods,
// rewriting it again in GetReJITParameters; it may ask to be detached after some JIT compilations. As real
// profilers do, it keeps its info object until its own last Release, also when it declines in Initialize,
// and may start a thread in Initialize that reads IL through the info object while the runtime goes on. At
// Shutdown it writes a summary and, when its own checks all held, the pass phrase.
#pragma once

#include "ComPtr.h"
#include "CorProfilerInfo.h"
#include "IlRewrite.h"
#include "RecordingCallback.h"
#include "TargetConfig.h"
#include "WorkerThread.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

class TestTarget : public RecordingCallback {
public:
    explicit TestTarget(TargetConfig config);
    ~TestTarget() override;

    HRESULT Initialize(IUnknown* pICorProfilerInfoUnk) override;
    HRESULT Shutdown() override;
    HRESULT AssemblyLoadFinished(AssemblyID assemblyId, HRESULT hrStatus) override;
    HRESULT ModuleLoadStarted(ModuleID moduleId) override;
    HRESULT ModuleLoadFinished(ModuleID moduleId, HRESULT hrStatus) override;
    HRESULT ModuleUnloadStarted(ModuleID moduleId) override;
    HRESULT JITCompilationStarted(FunctionID functionId, BOOL fIsSafeToBlock) override;
    HRESULT JITCompilationFinished(FunctionID functionId, HRESULT hrStatus, BOOL fIsSafeToBlock) override;
    HRESULT GetReJITParameters(ModuleID moduleId, mdMethodDef methodId,
                               ICorProfilerFunctionControl* pFunctionControl) override;
    HRESULT ReJITCompilationStarted(FunctionID functionId, ReJITID rejitId, BOOL fIsSafeToBlock) override;
    HRESULT ReJITCompilationFinished(FunctionID functionId, ReJITID rejitId, HRESULT hrStatus,
                                     BOOL fIsSafeToBlock) override;
    HRESULT ReJITError(ModuleID moduleId, mdMethodDef methodId, FunctionID functionId,
                       HRESULT hrStatus) override;
    HRESULT ObjectAllocated(ObjectID objectId, ClassID classId) override;

private:
    // A method as the metadata names it: "Type::Method".
    struct Method {
        ModuleID module = 0;
        mdMethodDef token = 0;
        mdTypeDef type = 0;
        std::string name = "?";
    };

    void ProbeInfoVersion(IUnknown* info);
    // Sets the mask and checks the answer: the expected result, and the mask it leaves.
    void SetMask(DWORD low, DWORD high, HRESULT expected = S_OK);
    HRESULT SetEnterLeaveHooks();
    void RecordHookCalls();
    Method Describe(FunctionID functionId);
    Method Describe(ModuleID moduleId, mdMethodDef token);
    bool IsRewritten(const std::string& name) const;
    void RewriteAtJit(FunctionID functionId, const Method& method);
    // Rewrites the named methods that the module defines, before any of them compiles.
    void RewriteAtLoad(ModuleID moduleId);
    // Calls each with every named method ("Type::Method") that the module defines.
    void ForEachNamedMethod(ModuleID moduleId, const std::vector<std::string>& names,
                            const std::function<void(const std::string&, mdMethodDef)>& each);
    // Sets the method's current IL, rewritten, through the info object's allocator.
    void Rewrite(const Method& method, FunctionID functionId);
    // The method's current IL read through the info object, rewritten; empty when only read or failed.
    // map receives the rewrite's IL map, if it has one.
    std::vector<BYTE> RewriteCurrentIL(const Method& method, std::string& read, std::vector<COR_IL_MAP>& map);
    // Records the result of setting an IL map; a failure counts.
    void CheckMapSet(const std::string& method, const std::vector<COR_IL_MAP>& map, HRESULT hr);
    void ReadILFromThread();
    // Reads the IL of the configured methods that the unloading module defines; each read is recorded.
    void ReadILAtUnload(ModuleID moduleId);
    // The configured request of the waiting method, from the target's thread, waited for in callback.
    void WaitForOwnThread(const char* callback, const std::string& method);
    void StartStep(const std::string& action);
    void Request(const std::string& action);
    void RequestWithInliners(Method method);
    void RequestDetach();
    std::string ModuleName(ModuleID moduleId);
    std::string AssemblyName(AssemblyID assemblyId);
    // Counts a broken expectation and records why.
    void Fail(const std::string& reason) noexcept;

    const TargetConfig _config;
    ComPtr<ICorProfilerInfo5> _info; // set in Initialize, before any other callback; released last
    std::atomic<int> _initializeCount{0};
    std::atomic<int> _shutdownCount{0};
    std::atomic<int> _failures{0};
    std::atomic<bool> _maskChanged{false};

    const IlRewrite _rewrite;
    std::mutex _ilLock;
    std::map<FunctionID, ModuleID> _rewritten; // under _ilLock: until their module unloads
    size_t _rewriteCount = 0;                  // under _ilLock
    std::optional<Method> _lastJitted;         // under _ilLock
    std::optional<Method> _rejitTarget;        // under _ilLock: known from its first JIT compilation
    std::optional<Method> _waitTarget;         // under _ilLock: known from its first JIT compilation
    std::atomic<bool> _waited{false};
    std::atomic<bool> _dropped{false}; // the ReJIT method's IL is left alone
    std::atomic<bool> _requestedInCallback{false};
    std::atomic<int> _jitCount{0};
    std::atomic<bool> _stopping{false};
    WorkerThread _worker;
    WorkerThread _reader;    // reads IL while the runtime goes on
    WorkerThread _requester; // makes the request that a callback waits for
};

} // namespace e2e
