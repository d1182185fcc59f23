// Stands in for the runtime's info object toward one target: grants no info version newer than the
// runtime's, keeps the target's event mask for the multiplexer, intercepts the IL and ReJIT methods and
// forwards everything else to the runtime unchanged.
#pragma once

#include "hosting/EnterLeaveHooks.h"
#include "hosting/FastMutex.h"
#include "hosting/FastRecursiveMutex.h"
#include "hosting/IProfilerMultiplexer.h"
#include "hosting/ITargetProfilerProxy.h"
#include "hosting/ProfilerCallbackFunctionFilter.h"
#include "hosting/ProfilerSettings.h"
#include "ilchain/ILBodyAllocator.h"
#include "ilchain/MethodMap.h"
#include "platform/CorProfilerCallback.h"
#include "platform/CorProfilerInfo.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace profilermultiplexer {

class IFunctionILBlock;
class IMetadataHelper;

class TargetProfilerProxy : public ICorProfilerInfo10, public ITargetProfilerProxy {
public:
    using FunctionName = ProfilerCallbackFunctionFilter::FunctionName;

    // The info versions, newest first, with their names for log lines.
    static const std::vector<std::pair<GUID, std::string>> s_corProfilerInfoIIDs;

    TargetProfilerProxy(ProfilerSettings&& settings, ICorProfilerCallback9* pTargetProfiler,
                        const GUID& corProfilerInfoIID, IProfilerMultiplexer* pProfilerMultiplexer);
    TargetProfilerProxy(const TargetProfilerProxy&) = delete;
    TargetProfilerProxy& operator=(const TargetProfilerProxy&) = delete;

    // Binds the runtime's info object and runs the target's Initialize with this proxy; true when the
    // target succeeded.
    bool Initialize(IUnknown* pCorProfilerInfoUnk);

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // ICorProfilerInfo to ICorProfilerInfo10, in vtable order.
#define PM_DECLARE_INFO(kind, name, params, args) HRESULT name params override;
    PM_ALL_CORPROFILERINFO_METHODS(PM_DECLARE_INFO)
#undef PM_DECLARE_INFO

    // ITargetProfilerProxy
    double GetPriority() const override;
    bool ShouldRevertRejitCallOrder() const override;
    const char* GetName() const override;
    bool HasNonEmptyILBlock(ModuleID moduleId, mdMethodDef methodDef) const override;
    std::shared_ptr<IFunctionILBlock> GetFunctionILBlock(ModuleID moduleId, mdMethodDef methodDef) override;
    std::shared_ptr<IFunctionILBlock> GetNonEmptyILBlock(ModuleID moduleId, mdMethodDef methodDef) override;
    // Starts loading the method's entry in the block map; safe on any thread.
    void PrefetchBlock(ModuleID moduleId, mdMethodDef methodDef) const noexcept {
        _functionILBlocks.Prefetch(moduleId, methodDef);
    }
    // Inline and final: read by the fan-out once per target and callback.
    ICorProfilerCallback9* GetTargetProfiler() const final {
        return _pTargetProfiler;
    }
    void RequestRejit(ModuleID moduleId, mdMethodDef methodDef, bool createIfMissing) override;
    void RemoveFunctionILBlock(ModuleID moduleId, mdMethodDef methodDef) override;
    void DropModule(ModuleID moduleId) noexcept override;
    // How many IL buffers handed to the target are kept, over all methods.
    std::size_t HandedOutILCount();
    bool SupportsCallback(FunctionName function) const noexcept final {
        return function <= _lastSupportedCallback;
    }
    ~TargetProfilerProxy() override;

    // The target's own mask words, low then high.
    void GetCashedEventMask(DWORD& low, DWORD& high) const noexcept {
        low = _eventMaskLow.load(std::memory_order_relaxed);
        high = _eventMaskHigh.load(std::memory_order_relaxed);
    }
    // Takes the words as the target's own mask; the callbacks it receives follow.
    void CacheEventMask(DWORD low, DWORD high) noexcept;

    // Whether the fan-out calls the target for the callback: the filter lets it through for the target's
    // current mask and the target's callback interface has it. One load and one bit test.
    bool ReceivesCallback(FunctionName function) const noexcept {
        const auto index = static_cast<unsigned>(function);
        return ((_receivedCallbacks[index / 64].load(std::memory_order_relaxed) >> (index % 64)) & 1) != 0;
    }

    // While the targets are initialised, the proxy keeps the target's enter/leave hooks and function id
    // mapper and answers them as the runtime would; one target's go to the runtime at the end.
    // True when the target keeps hooks that the runtime takes only under a mask without their
    // information flags.
    bool HasFastEnterLeaveHooks() const;
    // Gives the runtime the kept mapper and hooks and ends the keeping: the target's later mapper goes to
    // the runtime. The runtime's first refusal, or S_OK.
    HRESULT GiveEnterLeaveHooksToRuntime();
    // Ends the keeping: hook setters go to the runtime from now on (for a declined target: nothing of it
    // ever does); a kept mapper or hooks not given are dropped with a warning.
    void EndInitialization(bool declined);

    // Row of the id in s_corProfilerInfoIIDs, or -1 (with a warning).
    int32_t GetCorProfilerInfoInterfaceIndex(const GUID& iid) const;
    // True when the runtime supports that info version.
    bool CheckCorProfilerInfoInterfaceAgainstCLRCapabilities(const GUID& iid) const;

    // Makes the target's block for the method and stores it, replacing any block there.
    std::shared_ptr<IFunctionILBlock> CreateFunctionILBlock(ModuleID moduleId, mdMethodDef methodDef);
    // The size of an IL method (header, code and data sections) read from its header.
    static ULONG DetermineSizeFromIL(const unsigned char* pILMethod);

private:
    // The newest callback interface, ICorProfilerCallback9 down to ICorProfilerCallback2, that the target
    // answers, as the last callback it has.
    FunctionName QueryLastSupportedCallback() const;
    bool InitializeTarget();
    // Warns when the runtime answered an info version past the proxy's: the target holds the runtime's
    // own object then.
    void WarnIfRuntimeGrantedNewerInfo(REFIID riid, HRESULT hr) const;
    // What the runtime answers a mask whose high word asks for callbacks of an interface newer than the
    // target's: S_OK when it has them.
    HRESULT CheckCallbacksOfMask(DWORD high) const noexcept;
    // What the runtime answers a ReJIT request (withCallback4: not a revert) for the target's callback
    // interface and own mask: S_OK when it may ask.
    HRESULT CheckRejitAllowed(bool withCallback4) const noexcept;
    // After initialisation, the runtime's answer for the union with the new mask; empty before.
    std::optional<HRESULT> ChangeEventMaskAfterInitialization(DWORD low, DWORD high) noexcept;
    // The hook setters while the targets are initialised, by version.
    HRESULT KeepEnterLeaveHooks(FunctionEnter* enter, FunctionLeave* leave, FunctionTailcall* tailcall);
    HRESULT KeepEnterLeaveHooks(FunctionEnter2* enter, FunctionLeave2* leave, FunctionTailcall2* tailcall);
    HRESULT KeepEnterLeaveHooks(FunctionEnter3* enter, FunctionLeave3* leave, FunctionTailcall3* tailcall);
    HRESULT KeepEnterLeaveHooks(FunctionEnter3WithInfo* enter, FunctionLeave3WithInfo* leave,
                                FunctionTailcall3WithInfo* tailcall);
    // Keeps the hooks when the runtime would take them under the target's mask and no other target's
    // hooks are to go to the runtime.
    HRESULT KeepHooks(EnterLeaveHooks::Kind kind, EnterLeaveHooks::Hook enter, EnterLeaveHooks::Hook leave,
                      EnterLeaveHooks::Hook tailcall);
    // A mapper reaches the runtime only with the target's hooks: kept while the targets are initialised
    // (when the target may still be the one whose hooks the runtime holds), forwarded afterwards only by
    // that target; otherwise refused with E_FAIL and a warning.
    template <class Keep, class Forward> HRESULT SetMapper(const Keep& keep, const Forward& forward);
    // The target's mask while the targets are initialised: refused as the runtime would refuse it after
    // the hooks kept.
    HRESULT SetEventMaskWhileInitializing(DWORD dwEventsLow, DWORD dwEventsHigh);
    // Lets the multiplexer set the union of the cached masks.
    void UpdateUnion() noexcept;
    // Brings the bits read by ReceivesCallback in line with the mask words and the callback interface.
    void UpdateReceivedCallbacks() noexcept;
    // The buffer to hand the target for the method's IL. Memory the runtime keeps goes as it is; a copy of
    // the multiplexer's is kept alive as long as its module, as the runtime's IL pointers stay valid, while
    // blocks drop theirs on other threads. A copy with the same bytes as one handed out before is handed out
    // again, so what is kept per method grows with its distinct bodies only.
    std::shared_ptr<unsigned char[]> KeepHandedOutIL(ModuleID moduleId, mdMethodDef methodDef,
                                                     std::shared_ptr<unsigned char[]> body, ULONG size);
    // The map's pointer to the method's block, or null when it has none; under _ilBlocksLock. No
    // reference count is touched.
    const std::shared_ptr<IFunctionILBlock>* LookUpBlock(ModuleID moduleId, mdMethodDef methodDef) const;

    ProfilerSettings _settings;
    IProfilerMultiplexer* _pProfilerMultiplexer;
    // What GetILFunctionBodyAllocator hands out.
    ILBodyAllocator _ilBodyAllocator;
    ICorProfilerCallback9* _pTargetProfiler;
    ICorProfilerInfo10* _pCorProfilerInfo = nullptr;
    std::atomic<DWORD> _eventMaskLow{0};
    std::atomic<DWORD> _eventMaskHigh{0};
    // Bit f % 64 of word f / 64 for each callback f that the target receives.
    static_assert(ProfilerCallbackFunctionFilter::FunctionCount <= 128);
    std::array<std::atomic<uint64_t>, 2> _receivedCallbacks{};
    mutable FastRecursiveMutex _ilBlocksLock;
    // Entries are added (which may move the others) only by CreateFunctionILBlock, which also sets
    // _lastBlockLookup anew; an erase drops it.
    MethodMap<std::shared_ptr<IFunctionILBlock>> _functionILBlocks;
    // The last lookup in _functionILBlocks, under _ilBlocksLock: a method is looked up several times
    // while it is compiled. Null entry: the method has no entry.
    struct BlockLookup {
        ModuleID moduleId = 0;
        mdMethodDef methodDef = 0;
        const std::shared_ptr<IFunctionILBlock>* entry = nullptr;
        bool valid = false;
    };
    mutable BlockLookup _lastBlockLookup;
    FastMutex _handedOutILLock;
    struct HandedOutIL {
        std::shared_ptr<unsigned char[]> body;
        ULONG size;
    };
    // Each distinct copy handed out for a method, until its module unloads.
    MethodMap<std::vector<HandedOutIL>> _handedOutIL;
    std::string _name;
    std::shared_ptr<IMetadataHelper> _metadataHelper;
    GUID _corProfilerInfoIID;
    int32_t _corProfilerInfoIndex;
    FunctionName _lastSupportedCallback = ProfilerCallbackFunctionFilter::LastOfCallback2;

    enum class HooksState { Initializing, Initialized, Declined };
    std::atomic<HooksState> _hooksState{HooksState::Initializing};
    // Serialises the hook and mapper setters, and the mask while the targets are initialised.
    mutable std::mutex _hooksLock;
    EnterLeaveHooks _hooks;
    // The runtime took this target's hooks; under _hooksLock.
    bool _holdsRuntimeHooks = false;
};

// Lower priority first.
bool operator<(const TargetProfilerProxy& left, const TargetProfilerProxy& right);

} // namespace profilermultiplexer
