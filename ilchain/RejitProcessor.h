// Coordinates the ReJIT of one method: lets every pending target rewrite it once more in chain order,
// each through its own IL block, and gives the merged outcome to the runtime. The targets are called
// without any lock held: the multiplexer runs one GetReJITParameters of a method at a time, and the state,
// the requester and the inliners' requesters, which other threads read and reset meanwhile, are under a
// lock of the processor's own.
#pragma once

#include "hosting/FastMutex.h"
#include "hosting/IProfilerMultiplexer.h"
#include "hosting/ITargetProfilerProxy.h"
#include "hosting/ProfilerCallbackFunctionFilter.h"
#include "ilchain/IMetadataHelper.h"
#include "platform/CorProfilerCallback.h"
#include "platform/CorProfilerInfo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace profilermultiplexer {

class IFunctionILBlock;

class RejitProcessor {
public:
    enum class State : int32_t { Requested = 0, InProgress = 1, Completed = 2 };

    // targets is read in place for the processor's whole life.
    RejitProcessor(IProfilerMultiplexer* multiplexer, ITargetProfilerProxy* requester,
                   const std::vector<std::shared_ptr<ITargetProfilerProxy>>& targets, ModuleID moduleId,
                   mdMethodDef methodDef);
    RejitProcessor(const RejitProcessor&) = delete;
    RejitProcessor& operator=(const RejitProcessor&) = delete;
    virtual ~RejitProcessor();

    // A new request for the method: back to Requested, no longer a ReJIT of an inliner.
    void Reset(ITargetProfilerProxy* requester);

    // A ReJIT that the runtime made of the method because it inlined a method asked for with its inliners,
    // by these targets: they hear its notifications whether or not they hold IL, and when no target holds
    // IL the method's own IL is compiled (no revert).
    void ServeInliners(std::vector<ITargetProfilerProxy*> requesters);
    bool ServesInliners() const noexcept {
        std::lock_guard<FastMutex> lock(_lock);
        return !_inlinerRequesters.empty();
    }

    // Runs the pending targets, then passes the result to the runtime's function control or reverts the
    // method when no target holds IL; also when no target was pending. Ends Completed however it ends.
    HRESULT GetReJITParameters(ICorProfilerFunctionControl* pFunctionControl, FunctionID functionId);

    // The runtime's notifications, for the targets that hold IL for the method.
    HRESULT ReJITCompilationStarted(FunctionID functionId, ReJITID rejitId, BOOL fIsSafeToBlock) const;
    HRESULT ReJITCompilationFinished(FunctionID functionId, ReJITID rejitId, HRESULT hrStatus,
                                     BOOL fIsSafeToBlock) const;
    HRESULT ReJITError(ModuleID moduleId, mdMethodDef methodId, FunctionID functionId,
                       HRESULT hrStatus) const;

    // At debug level or finer: every target's block for the method, as one log message.
    void DumpFunctionILBlocks(const char* title) const;

    State GetState() const noexcept {
        std::lock_guard<FastMutex> lock(_lock);
        return _state;
    }
    void SetState(State state) noexcept {
        std::lock_guard<FastMutex> lock(_lock);
        _state = state;
    }
    // Completed, unless a GetReJITParameters is running: a notification leaves that run in progress.
    void MarkCompleted() noexcept;
    ITargetProfilerProxy* GetRequester() const noexcept {
        std::lock_guard<FastMutex> lock(_lock);
        return _pRequester;
    }

private:
    using FunctionName = ProfilerCallbackFunctionFilter::FunctionName;
    using TargetCall = std::function<HRESULT(ICorProfilerCallback9*)>;
    struct Notification;

    // One pending target's turn in phase 1; result and flags carry the merge. False when the target
    // took no part.
    bool RunPendingTarget(ITargetProfilerProxy& proxy, HRESULT& result, DWORD& flags);
    // A target that reverts the ReJIT call order hears ReJITCompilationStarted first; false when it failed.
    bool StartCallOrderReverting(ITargetProfilerProxy& proxy, HRESULT& result);
    // Phase 2: the last IL body, the flags and the last IL map to the runtime, or a revert.
    HRESULT ApplyToRuntime(ICorProfilerFunctionControl* pFunctionControl, DWORD flags);
    void ApplyILMap(ICorProfilerFunctionControl* pFunctionControl);
    void EndGetReJITParameters() noexcept;
    HRESULT Notify(const Notification& notification, FunctionID functionId, const TargetCall& call) const;
    bool SkipsNotification(const Notification& notification, ITargetProfilerProxy& proxy,
                           FunctionID functionId, const std::vector<ITargetProfilerProxy*>& inliners) const;
    std::string BuildFunctionILBlocksDump(const char* title) const;
    std::string MethodName() const;

    IProfilerMultiplexer* _pProfilerMultiplexer;
    ITargetProfilerProxy* _pRequester;
    const std::vector<std::shared_ptr<ITargetProfilerProxy>>& _targetProfilers;
    State _state = State::Requested;
    ModuleID _moduleId;
    mdMethodDef _methodDef;
    FunctionID _functionId = 0;
    std::shared_ptr<IMetadataHelper> _metadataHelper;
    std::vector<ITargetProfilerProxy*> _inlinerRequesters;
    // Guards _state, _pRequester and _inlinerRequesters; held only for the access.
    mutable FastMutex _lock;
};

} // namespace profilermultiplexer
