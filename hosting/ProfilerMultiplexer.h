// The profiler that the runtime holds when several targets are in play: it starts every target behind
// its own proxy, sets the union of their event masks on the runtime and hands every callback on to them.
#pragma once

#include "hosting/CallsInFlight.h"
#include "hosting/FastMutex.h"
#include "hosting/FastRecursiveMutex.h"
#include "hosting/IProfilerMultiplexer.h"
#include "hosting/NoThrowEntry.h"
#include "hosting/ProfilerCallbackFunctionFilter.h"
#include "hosting/ProfilerSettings.h"
#include "ilchain/MethodMap.h"
#include "ilchain/ModuleIdSet.h"
#include "platform/CorProfilerCallback.h"
#include "platform/CorProfilerInfo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace profilermultiplexer {

class ITargetProfilerProxy;
class RejitProcessor;
class TargetProfilerProxy;

class ProfilerMultiplexer : public IProfilerMultiplexer {
public:
    using FunctionName = ProfilerCallbackFunctionFilter::FunctionName;
    using TargetCall = std::function<HRESULT(ICorProfilerCallback9*)>;

    // Each entry holds one reference to its target, released by the destructor.
    ProfilerMultiplexer(bool isCoreClr,
                        std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> targets);
    ProfilerMultiplexer(const ProfilerMultiplexer&) = delete;
    ProfilerMultiplexer& operator=(const ProfilerMultiplexer&) = delete;

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // ICorProfilerCallback to ICorProfilerCallback9, in vtable order.
#define PM_DECLARE_CALLBACK(kind, name, params, args) HRESULT name params override;
    PM_ALL_CORPROFILERCALLBACK_METHODS(PM_DECLARE_CALLBACK)
#undef PM_DECLARE_CALLBACK

    // IProfilerMultiplexer
    HRESULT PrepareILBodyAllocator(ICorProfilerInfo10* info, ModuleID moduleId) override;
    PVOID Alloc(ULONG size) override;
    ULONG TakeAllocationSize(const BYTE* block) override;
    void UpdateEventMask() override;
    std::optional<HRESULT> ChangeEventMaskAfterInitialization(TargetProfilerProxy& proxy, DWORD low,
                                                              DWORD high) override;
    std::shared_ptr<IMetadataHelper> GetMetadataHelper() const override;
    HRESULT RequestReJITOrRevert(ITargetProfilerProxy* requester, ULONG count, ModuleID* moduleIds,
                                 mdMethodDef* methodIds, std::optional<DWORD> rejitFlags,
                                 bool revert) override;
    HRESULT GetILFunctionBodyForProxy(ITargetProfilerProxy* proxy, ModuleID moduleId, mdMethodDef methodDef,
                                      std::shared_ptr<BYTE[]>* body, ULONG* size) override;
    void KeepILInstrumentedCodeMap(ITargetProfilerProxy* proxy, FunctionID functionId, ULONG count,
                                   const COR_IL_MAP* entries) noexcept override;
    HRESULT RevertFromRejit(ModuleID moduleId, mdMethodDef methodDef) override;
    void SetFunctionILIfNewFunction(const std::shared_ptr<IFunctionILBlock>& block, ModuleID moduleId,
                                    mdMethodDef methodDef) override;
    bool ServesOtherTargets(const ITargetProfilerProxy* proxy) const noexcept override;
    const char* ClaimEnterLeaveHooks(const ITargetProfilerProxy* proxy, bool claim) override;
    ~ProfilerMultiplexer() override;

    // Calls every target whose mask asks for the callback, in list order, and merges their results.
    HRESULT ForAllTargetProfilers(FunctionName function, const TargetCall& call) noexcept;

    // Gives the block's IL to the runtime: as it is when it is the runtime's memory, else copied into it.
    HRESULT SetILFunctionBody(const std::shared_ptr<IFunctionILBlock>& block, ModuleID moduleId,
                              mdMethodDef methodDef);
    void ClearMethodILBlocksAfterJitCompilation(ModuleID moduleId, mdMethodDef methodDef);
    void AssignTargetProfilersForRejit(ITargetProfilerProxy* requester, ModuleID moduleId,
                                       mdMethodDef methodDef, bool revert,
                                       const std::shared_ptr<RejitProcessor>& processor);
    bool HasProfilerRegisteredForRejit(TargetProfilerProxy* proxy) const;
    void RestartPendingRejitRequests();

    // How long Shutdown waits for callbacks still running before it releases the runtime's info object.
    static constexpr std::chrono::milliseconds ShutdownWaitLimit{200};

protected:
    // Every runtime-facing entry runs its body through this: counted as in flight, no exception out.
    template <class Body> HRESULT RuntimeEntry(Body&& body) noexcept {
        CallsInFlight::Scope scope(_callsInFlight);
        return NoThrowEntry(std::forward<Body>(body));
    }

    // The runtime's info object, null before Initialize and after Shutdown.
    ICorProfilerInfo10* RuntimeInfo() const noexcept {
        return _pCorProfilerInfo.load();
    }

private:
    struct MethodChain;

    HRESULT InitializeTargets(IUnknown* pICorProfilerInfoUnk);
    HRESULT ShutdownTargets();
    // The index in TargetProfilerProxy::s_corProfilerInfoIIDs of the newest version pUnk answers, or -1.
    int QueryRuntimeInfo(IUnknown* pICorProfilerInfoUnk);
    // The runtime's answer; S_OK without the runtime's info object.
    HRESULT SetRuntimeEventMask(DWORD low, DWORD high);
    // Whether the runtime, reporting new objects of these heaps, reports some that a target did not ask for.
    bool ReportsAllocationsNotAskedFor(DWORD reportedHeaps) const noexcept;
    // After a union reached the runtime: logs what it does not ask for and notes the heaps it reports.
    void UnionSet(DWORD low, DWORD high);
    // The initialised target whose enter/leave hooks go to the runtime, or null.
    TargetProfilerProxy* EnterLeaveHooksHolder() const;
    // Gives the runtime the holder's hooks, under the final union, and ends the keeping of hooks.
    void GiveEnterLeaveHooksToRuntime(TargetProfilerProxy* holder);
    void ReleaseRuntimeInfo() noexcept;
    // Forgets the pieces still recorded and lets go of the runtime's IL-body allocator.
    void ReleaseAllAllocations() noexcept;
    // The proxies in list order, as far as their targets' Initialize succeeded; safe on any thread.
    std::pair<const std::shared_ptr<ITargetProfilerProxy>*, const std::shared_ptr<ITargetProfilerProxy>*>
    InitializedProxyInterfaces() const noexcept;
    // Under _eventMaskLock: gives low and high the union of the targets' cached masks, logging what each
    // does not receive, and sets it on the runtime; the runtime's answer.
    HRESULT SetUnionOfCachedMasks(DWORD& low, DWORD& high);
    // Drops what is kept for the module's methods once it has unloaded: its id may then be reused. With
    // clearUnloaded, the id is no longer taken as unloaded from then on.
    void DropModule(ModuleID moduleId, bool clearUnloaded);
    // Drops again what calls in flight across the unload of an earlier module with this id kept for it.
    void DropModuleIfUnloaded(ModuleID moduleId);
    // Whether the module started to unload and no module has taken its id since: the runtime is not asked
    // about it. IsUnloaded needs _methodsLock held; HasUnloaded takes it.
    bool IsUnloaded(ModuleID moduleId) const {
        return _unloadedModules.Contains(moduleId);
    }
    bool HasUnloaded(ModuleID moduleId);
    // Forgets the function ids that the module's unload frees under other modules' methods: instantiations
    // over its types. Asks the runtime while the ids are still valid.
    void ForgetInstantiationsOver(ModuleID moduleId);
    // The processor for a ReJIT that the runtime made on its own of a method without a processor of a
    // requested ReJIT: a method that inlined one asked for with its inliners. It is handed to the targets
    // that asked with inliners; with markTargets they (and later holders of IL) rewrite it in the coming
    // GetReJITParameters. Empty when no target asked with inliners. Under _rejitLock.
    std::shared_ptr<RejitProcessor> InlinerRejitProcessor(ModuleID moduleId, mdMethodDef methodDef,
                                                          std::shared_ptr<RejitProcessor> processor,
                                                          bool markTargets);
    // The method's processor for a ReJIT notification of the runtime, or an empty pointer.
    std::shared_ptr<RejitProcessor> NotifiedRejitProcessor(ModuleID moduleId, mdMethodDef methodDef);
    // Under _rejitLock: prepares the targets for a requested ReJIT or revert of the method, or queues it
    // while this thread runs the method's GetReJITParameters. True when the runtime is to be asked now.
    bool PrepareForRejit(ITargetProfilerProxy* requester, ModuleID moduleId, mdMethodDef methodDef,
                         std::optional<DWORD> rejitFlags, bool revert);
    // Under _rejitLock, before the targets are prepared for a ReJIT of the method: false while another
    // thread runs the method's IL chain, whose end prepares them then; else true, and this thread holds the
    // chain until LeaveMethodChain, so that no chain of the method starts meanwhile.
    bool EnterChainToPrepare(ITargetProfilerProxy* requester, ModuleID moduleId, mdMethodDef methodDef,
                             bool revert);
    // The method's IL chain (its JIT compilation or GetReJITParameters, which call the targets) runs on one
    // thread at a time: another thread's chain of the method waits here (lock holds _methodsLock, released
    // while waiting); the holder may enter again. No call through a proxy waits for it.
    void EnterMethodChain(std::unique_lock<FastMutex>& lock, ModuleID moduleId, mdMethodDef methodDef);
    // Under _methodsLock: the method's chain, or null.
    MethodChain* FindMethodChain(ModuleID moduleId, mdMethodDef methodDef) noexcept;
    // Makes the preparations that waited for the chain, then lets the next chain of the method in.
    void LeaveMethodChain(ModuleID moduleId, mdMethodDef methodDef) noexcept;
    // Under _methodsLock; false, the chain kept, when preparations wait for it and prepared is false.
    bool ReleaseMethodChain(ModuleID moduleId, mdMethodDef methodDef, bool prepared) noexcept;
    // Under _rejitLock: the preparations that waited for the method's chain, in request order.
    void MakeDeferredPreparations(ModuleID moduleId, mdMethodDef methodDef) noexcept;
    // Under _rejitLock: prepares the targets for a ReJIT or revert of the method with its processor.
    void PrepareTargetsForRejit(ITargetProfilerProxy* requester, ModuleID moduleId, mdMethodDef methodDef,
                                bool revert) noexcept;
    // The function's module and token from the runtime; E_FAIL without the runtime's info object.
    HRESULT GetFunctionModuleAndToken(FunctionID functionId, ModuleID& moduleId,
                                      mdMethodDef& methodDef) const;

    std::atomic<ICorProfilerInfo10*> _pCorProfilerInfo{nullptr};
    std::atomic<int32_t> _refCount{0};
    std::atomic<bool> _isInitialized{false};
    bool _isCoreClr;
    std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> _targetProfilers;
    // The runtime's IL-body allocator, referenced once fetched.
    std::atomic<IMethodMalloc*> _runtimeILAllocator{nullptr};
    ULONG _totalAllocatedBytes = 0;
    mutable FastMutex _allocationLock;
    // The size of each piece from Alloc not yet set as IL, keyed by its address (in place of a module,
    // token 0).
    MethodMap<ULONG> _allocations;
    // Guards the ReJIT processors map, the waiting list, the deferred preparations and the inliners'
    // requesters: held for that bookkeeping only, never across a call into a target or a ReJIT request to
    // the runtime, so that a target's thread may ask for a ReJIT while the target waits for it in a callback.
    FastRecursiveMutex _rejitLock;
    std::unordered_map<ModuleID, std::unordered_map<mdMethodDef, std::shared_ptr<RejitProcessor>>>
        _rejitProcessors;
    // (requester, module, method, ReJIT flags, revert)
    std::queue<
        std::tuple<ITargetProfilerProxy*, ModuleID, mdMethodDef, std::optional<DWORD>, bool>,
        std::deque<std::tuple<ITargetProfilerProxy*, ModuleID, mdMethodDef, std::optional<DWORD>, bool>>>
        _pendingRejitRequests;
    // Preparations of requested ReJITs that wait for the end of the method's IL chain on another thread,
    // under _rejitLock: (requester, module, method, revert).
    std::vector<std::tuple<ITargetProfilerProxy*, ModuleID, mdMethodDef, bool>> _deferredPreparations;
    // Targets that have asked for a ReJIT with inliners, under _rejitLock. Kept for the process's life:
    // the runtime ReJITs an inliner at its next call, long after the request.
    std::vector<ITargetProfilerProxy*> _rejitWithInlinersRequesters;
    // What is kept of each method: its function id once the runtime compiled it, and its IL cache entry
    // (the IL last given to the runtime, or read from it). One entry and one lock for both, since a
    // compilation reads and writes both.
    struct MethodState {
        std::shared_ptr<BYTE[]> il;
        FunctionID functionId = 0;
        ULONG ilSize = 0;
        bool hasIL = false;
        bool hasFunctionId = false;
        // The function id names no type of another module: only its own module's unload frees it.
        bool functionIdOfItsModuleOnly = false;
    };
    FastMutex _methodsLock;
    MethodMap<MethodState> _methods;
    // The methods' IL chains running now, at most one per method, under _methodsLock.
    struct MethodChain {
        ModuleID moduleId;
        mdMethodDef methodDef;
        std::thread::id owner;
        // How often the owner entered it.
        unsigned depth;
        // A thread waits for its end, or a preparation does (in _deferredPreparations).
        bool waited;
        bool preparationDeferred;
    };
    std::vector<MethodChain> _methodChains;
    // Notified, under _methodsLock, when a method's IL chain that a thread waits for ends.
    std::condition_variable_any _chainReleased;
    // Modules that started to unload and whose ids no module has taken since; under _methodsLock, which
    // a read of the runtime's IL holds: once a module starts to unload, the runtime is not asked for its IL.
    ModuleIdSet _unloadedModules;
    std::shared_ptr<IMetadataHelper> _metadataHelper;
    // Both lists are reserved in full before the first target is initialised: they never reallocate under
    // a target's own thread. Such threads see the targets initialised so far through
    // InitializedProxyInterfaces.
    std::vector<std::shared_ptr<TargetProfilerProxy>> _targetProfilerProxies;
    std::vector<std::shared_ptr<ITargetProfilerProxy>> _targetProfilerProxyInterfaces;
    std::atomic<std::size_t> _initializedProxyCount{0};
    // Proxies of targets that declined in Initialize: the targets may keep them until they are released.
    std::vector<std::shared_ptr<TargetProfilerProxy>> _declinedProxies;
    ProfilerCallbackFunctionFilter _callbackFilter;

    // False when the runtime answered no ICorProfilerInfo5: only the low mask word can be set then.
    bool _hasEventMask2 = true;
    // Serialises UpdateEventMask so that the runtime ends up holding the union of the latest masks.
    std::mutex _eventMaskLock;
    // Set once a target asks for JIT or ReJIT events; under _eventMaskLock.
    bool _keepsModuleLoads = false;
    // Set when a target that asks only for large or pinned objects would receive others: ObjectAllocated
    // then asks each object's heap.
    std::atomic<bool> _allocationsByHeap{false};
    // True while Initialize runs the targets' Initialize.
    std::atomic<bool> _initializingTargets{false};
    // The target whose enter/leave hooks the runtime is to hold, under _hooksLock.
    mutable std::mutex _hooksLock;
    const ITargetProfilerProxy* _hooksHolder = nullptr;
    // The runtime holds hooks without information: the flags only hooks with information serve are left
    // out of the runtime's mask, which would refuse them.
    std::atomic<bool> _runtimeHooksWithoutInfo{false};
    CallsInFlight _callsInFlight;
};

} // namespace profilermultiplexer
