#include "hosting/ProfilerMultiplexer.h"

#include "hosting/TargetProfilerProxy.h"
#include "ilchain/MetadataHelper.h"
#include "logging/Logging.h"

#include <algorithm>

namespace profilermultiplexer {

namespace {

// Folds a target's returned code into the result so far, once some target has returned: equal codes and
// two failures keep it, anything else gives S_OK.
HRESULT MergeResult(HRESULT result, HRESULT hr) noexcept {
    if (hr == result || (FAILED(hr) && FAILED(result))) {
        return result;
    }
    return S_OK;
}

// Calls one target, at trace level between the two trace lines (the names are read only then); false
// when something threw.
template <bool Tracing, class Call>
__attribute__((always_inline)) inline bool
CallTarget(const TargetProfilerProxy& proxy, const ProfilerCallbackFunctionFilter& filter,
           ProfilerCallbackFunctionFilter::FunctionName function, const Call& call, HRESULT& hr) noexcept {
    try {
        if constexpr (Tracing) {
            Trace("Profiler: {0} => Calling back to {1}", proxy.GetName(), filter.GetCallbackName(function));
        }
        hr = call(proxy.GetTargetProfiler());
        if constexpr (Tracing) {
            Trace("Profiler: {0} => Result is {1} from calling {2}", proxy.GetName(), hr,
                  filter.GetCallbackName(function));
        }
        return true;
    } catch (...) {
        Error("Unhandled exception when calling {0} on {1}", filter.GetCallbackName(function),
              proxy.GetName());
        return false;
    }
}

// Lets every target that receives the callback have it.
struct AcceptAll {
    constexpr bool operator()(const TargetProfilerProxy&) const noexcept { return true; }
};

// The loop of ForAllTargetProfilers: per target one bit test (ReceivesCallback) decides, then accept. Up to
// the first target that returns, its code is taken as it is (an exception before makes the result E_FAIL);
// after it, codes are merged.
template <bool Tracing, class Call, class Accept>
__attribute__((always_inline)) inline HRESULT
CallTargetsInOrder(const std::vector<std::shared_ptr<TargetProfilerProxy>>& proxies,
                   const ProfilerCallbackFunctionFilter& filter,
                   ProfilerCallbackFunctionFilter::FunctionName function, const Call& call,
                   const Accept& accept) noexcept {
    HRESULT result = S_OK;
    auto proxy = proxies.begin();
    const auto end = proxies.end();
    for (; proxy != end; ++proxy) {
        HRESULT hr = S_OK;
        if (!(*proxy)->ReceivesCallback(function) || !accept(**proxy)) {
            continue;
        }
        if (CallTarget<Tracing>(**proxy, filter, function, call, hr)) {
            result = hr;
            ++proxy;
            break;
        }
        result = E_FAIL;
    }
    for (; proxy != end; ++proxy) {
        HRESULT hr = S_OK;
        if (!(*proxy)->ReceivesCallback(function) || !accept(**proxy)) {
            continue;
        }
        if (CallTarget<Tracing>(**proxy, filter, function, call, hr)) {
            result = MergeResult(result, hr);
        } else if (result == S_OK) {
            result = E_FAIL;
        }
    }
    return result;
}

template <class Call, class Accept>
__attribute__((noinline)) HRESULT
CallTargetsTracing(const std::vector<std::shared_ptr<TargetProfilerProxy>>& proxies,
                   const ProfilerCallbackFunctionFilter& filter,
                   ProfilerCallbackFunctionFilter::FunctionName function, const Call& call,
                   const Accept& accept) noexcept {
    return CallTargetsInOrder<true>(proxies, filter, function, call, accept);
}

// ForAllTargetProfilers for any call object. The plain fan-out callbacks pass their lambda straight to
// it, inlined: a callback costs no call through std::function. The loop with the trace lines is kept
// apart, so that the common one needs few registers.
template <class Call, class Accept = AcceptAll>
__attribute__((always_inline)) inline HRESULT
CallTargets(const std::vector<std::shared_ptr<TargetProfilerProxy>>& proxies,
            const ProfilerCallbackFunctionFilter& filter,
            ProfilerCallbackFunctionFilter::FunctionName function, const Call& call,
            const Accept& accept = Accept()) noexcept {
    if (__builtin_expect(IsLogLevelEnabled(spdlog::level::trace), 0)) {
        return CallTargetsTracing(proxies, filter, function, call, accept);
    }
    return CallTargetsInOrder<false>(proxies, filter, function, call, accept);
}

constexpr DWORD AllHeaps = ~DWORD{0};

// The heaps whose new objects a mask asks for: every one with COR_PRF_MONITOR_OBJECT_ALLOCATED, else those
// of the high word's large and pinned object bits.
DWORD AllocationHeaps(DWORD low, DWORD high) noexcept {
    if ((low & COR_PRF_MONITOR_OBJECT_ALLOCATED) != 0) {
        return AllHeaps;
    }
    return high & (COR_PRF_HIGH_MONITOR_LARGEOBJECT_ALLOCATED | COR_PRF_HIGH_MONITOR_PINNEDOBJECT_ALLOCATED);
}

// The heaps whose new objects the target's cached mask asks for.
DWORD AskedHeaps(const TargetProfilerProxy& proxy) noexcept {
    DWORD low = 0;
    DWORD high = 0;
    proxy.GetCashedEventMask(low, high);
    return AllocationHeaps(low, high);
}

// Whether an object of the generation (or heap) is one the heaps ask for.
bool IsOfHeaps(int generation, DWORD heaps) noexcept {
    return (generation == COR_PRF_GC_LARGE_OBJECT_HEAP &&
            (heaps & COR_PRF_HIGH_MONITOR_LARGEOBJECT_ALLOCATED) != 0) ||
           (generation == COR_PRF_GC_PINNED_OBJECT_HEAP &&
            (heaps & COR_PRF_HIGH_MONITOR_PINNEDOBJECT_ALLOCATED) != 0);
}

} // namespace

ProfilerMultiplexer::ProfilerMultiplexer(
    bool isCoreClr, std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> targets)
    : _isCoreClr(isCoreClr), _targetProfilers(std::move(targets)) {}

ProfilerMultiplexer::~ProfilerMultiplexer() {
    ReleaseRuntimeInfo();
    for (auto& target : _targetProfilers) {
        if (ICorProfilerCallback9* callback = std::exchange(std::get<0>(target), nullptr)) {
            NoThrowEntry([callback] { return static_cast<HRESULT>(callback->Release()); });
        }
    }
    ReleaseAllAllocations();
    // The proxies go with the members, after every target was released above: targets release the
    // proxies they kept in their destructors.
}

std::pair<const std::shared_ptr<ITargetProfilerProxy>*, const std::shared_ptr<ITargetProfilerProxy>*>
ProfilerMultiplexer::InitializedProxyInterfaces() const noexcept {
    // data() is fixed by the reservation; the count is published after each element is in place.
    const auto* first = _targetProfilerProxyInterfaces.data();
    return {first, first + _initializedProxyCount.load(std::memory_order_acquire)};
}

HRESULT ProfilerMultiplexer::QueryInterface(REFIID riid, void** ppvObject) {
    const IID* const ids[] = {&IID_ICorProfilerCallback9, &IID_ICorProfilerCallback8,
                              &IID_ICorProfilerCallback7, &IID_ICorProfilerCallback6,
                              &IID_ICorProfilerCallback5, &IID_ICorProfilerCallback4,
                              &IID_ICorProfilerCallback3, &IID_ICorProfilerCallback2,
                              &IID_ICorProfilerCallback,  &IID_IUnknown};
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    for (const IID* id : ids) {
        if (riid == *id) {
            *ppvObject = static_cast<ICorProfilerCallback9*>(this);
            AddRef();
            return S_OK;
        }
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG ProfilerMultiplexer::AddRef() {
    return static_cast<ULONG>(++_refCount);
}

ULONG ProfilerMultiplexer::Release() {
    const int32_t count = --_refCount;
    if (count <= 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT ProfilerMultiplexer::Initialize(IUnknown* pICorProfilerInfoUnk) {
    return RuntimeEntry([&] { return InitializeTargets(pICorProfilerInfoUnk); });
}

HRESULT ProfilerMultiplexer::Shutdown() {
    return NoThrowEntry([&] { return ShutdownTargets(); });
}

int ProfilerMultiplexer::QueryRuntimeInfo(IUnknown* pICorProfilerInfoUnk) {
    const auto& versions = TargetProfilerProxy::s_corProfilerInfoIIDs;
    for (std::size_t index = 0; index < versions.size(); ++index) {
        void* info = nullptr;
        if (SUCCEEDED(pICorProfilerInfoUnk->QueryInterface(versions[index].first, &info)) &&
            info != nullptr) {
            _pCorProfilerInfo.store(static_cast<ICorProfilerInfo10*>(info));
            return static_cast<int>(index);
        }
    }
    return -1;
}

HRESULT ProfilerMultiplexer::InitializeTargets(IUnknown* pICorProfilerInfoUnk) {
    Info("ProfilerMultiplexer: Initialization started");
    const int infoIndex = pICorProfilerInfoUnk != nullptr ? QueryRuntimeInfo(pICorProfilerInfoUnk) : -1;
    if (infoIndex < 0) {
        return E_FAIL;
    }
    const auto& [infoIid, infoName] = TargetProfilerProxy::s_corProfilerInfoIIDs[infoIndex];
    Info("ProfilerMultiplexer::Initialize, info interface is: {}", infoName);
    _hasEventMask2 = infoIndex <= 5; // ICorProfilerInfo5 or newer
    ICorProfilerInfo10* info = _pCorProfilerInfo.load();
    _metadataHelper = std::make_shared<MetadataHelper>(info);

    _targetProfilerProxies.reserve(_targetProfilers.size());
    _targetProfilerProxyInterfaces.reserve(_targetProfilers.size());
    _initializingTargets.store(true);
    for (auto& [callback, settings] : _targetProfilers) {
        auto proxy = std::make_shared<TargetProfilerProxy>(std::move(settings), callback, infoIid, this);
        if (!proxy->Initialize(info)) {
            Error("ProfilerMultiplexer: Error initializing a profiler: {}", proxy->GetName());
            // Nothing of its hooks ever reaches the runtime; a later target's may.
            proxy->EndInitialization(true);
            {
                std::lock_guard<std::mutex> lock(_hooksLock);
                if (_hooksHolder == proxy.get()) {
                    _hooksHolder = nullptr;
                }
            }
            _declinedProxies.push_back(std::move(proxy));
            continue;
        }
        _targetProfilerProxies.push_back(proxy);
        _targetProfilerProxyInterfaces.push_back(std::move(proxy));
        _initializedProxyCount.store(_targetProfilerProxyInterfaces.size(), std::memory_order_release);
    }
    _initializingTargets.store(false);

    if (_targetProfilerProxies.empty()) {
        Info("Profiler Multiplexer: Initialization failed, no target profiler is found or configured");
        return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
    }
    _isInitialized.exchange(true);
    TargetProfilerProxy* holder = EnterLeaveHooksHolder();
    _runtimeHooksWithoutInfo.store(holder != nullptr && holder->HasFastEnterLeaveHooks());
    UpdateEventMask();
    GiveEnterLeaveHooksToRuntime(holder);
    Info("Profiler Multiplexer: Initialization succeeded");
    return S_OK;
}

const char* ProfilerMultiplexer::ClaimEnterLeaveHooks(const ITargetProfilerProxy* proxy, bool claim) {
    std::lock_guard<std::mutex> lock(_hooksLock);
    if (_hooksHolder == nullptr && claim) {
        _hooksHolder = proxy;
    }
    return _hooksHolder != nullptr && _hooksHolder != proxy ? _hooksHolder->GetName() : nullptr;
}

TargetProfilerProxy* ProfilerMultiplexer::EnterLeaveHooksHolder() const {
    std::lock_guard<std::mutex> lock(_hooksLock);
    for (const auto& proxy : _targetProfilerProxies) {
        if (proxy.get() == _hooksHolder) {
            return proxy.get();
        }
    }
    return nullptr;
}

void ProfilerMultiplexer::GiveEnterLeaveHooksToRuntime(TargetProfilerProxy* holder) {
    if (holder != nullptr) {
        const HRESULT hr = holder->GiveEnterLeaveHooksToRuntime();
        if (FAILED(hr)) {
            Error("ProfilerMultiplexer::Initialize, the runtime refused the enter/leave hooks of {}: {:#x}",
                  holder->GetName(), static_cast<uint32_t>(hr));
        } else {
            Info("ProfilerMultiplexer::Initialize, the runtime holds the enter/leave hooks of {}",
                 holder->GetName());
        }
    }
    for (const auto& proxy : _targetProfilerProxies) {
        proxy->EndInitialization(false);
    }
}

void ProfilerMultiplexer::UpdateEventMask() {
    if (!_isInitialized.load()) {
        return;
    }
    std::lock_guard<std::mutex> lock(_eventMaskLock);
    DWORD low = 0;
    DWORD high = 0;
    const HRESULT hr = SetUnionOfCachedMasks(low, high);
    if (FAILED(hr)) {
        Error("ProfilerMultiplexer::UpdateEventMask, the runtime refused the event mask {:x} (high {:x}): "
              "{:#x}",
              low, _hasEventMask2 ? high : 0, static_cast<uint32_t>(hr));
    }
    UnionSet(low, high);
}

void ProfilerMultiplexer::UnionSet(DWORD low, DWORD high) {
    _callbackFilter.LogNonMaskedCallbackFunctions("all", low, high);
    _allocationsByHeap.store(ReportsAllocationsNotAskedFor(AllocationHeaps(low, high)),
                             std::memory_order_relaxed);
}

bool ProfilerMultiplexer::ReportsAllocationsNotAskedFor(DWORD reportedHeaps) const noexcept {
    for (const auto& proxy : _targetProfilerProxies) {
        const DWORD heaps = AskedHeaps(*proxy);
        if (heaps != 0 && (reportedHeaps & ~heaps) != 0) {
            return true;
        }
    }
    return false;
}

std::optional<HRESULT> ProfilerMultiplexer::ChangeEventMaskAfterInitialization(TargetProfilerProxy& proxy,
                                                                               DWORD low, DWORD high) {
    std::lock_guard<std::mutex> lock(_eventMaskLock);
    if (!_isInitialized.load()) {
        return std::nullopt;
    }
    DWORD oldLow = 0;
    DWORD oldHigh = 0;
    proxy.GetCashedEventMask(oldLow, oldHigh);
    proxy.CacheEventMask(low, high);
    DWORD unionLow = 0;
    DWORD unionHigh = 0;
    const HRESULT hr = SetUnionOfCachedMasks(unionLow, unionHigh);
    if (FAILED(hr)) {
        // The runtime still holds the union before: so does the multiplexer.
        proxy.CacheEventMask(oldLow, oldHigh);
        Warn("ProfilerMultiplexer: the runtime refused the union of the event masks with {}'s new mask {:#x} "
             "(high {:#x}), result {:#x}: {} gets the result and keeps its mask {:#x} (high {:#x})",
             proxy.GetName(), low, high, static_cast<uint32_t>(hr), proxy.GetName(), oldLow, oldHigh);
        return hr;
    }
    UnionSet(unionLow, unionHigh);
    return hr;
}

HRESULT ProfilerMultiplexer::SetUnionOfCachedMasks(DWORD& low, DWORD& high) {
    low = 0;
    high = 0;
    for (const auto& proxy : _targetProfilerProxies) {
        DWORD targetLow = 0;
        DWORD targetHigh = 0;
        proxy->GetCashedEventMask(targetLow, targetHigh);
        _callbackFilter.LogNonMaskedCallbackFunctions(proxy->GetName(), targetLow, targetHigh);
        low |= targetLow;
        high |= targetHigh;
    }
    return SetRuntimeEventMask(low, high);
}

bool ProfilerMultiplexer::ServesOtherTargets(const ITargetProfilerProxy* proxy) const noexcept {
    if (_initializingTargets.load() && _targetProfilers.size() > 1) {
        return true;
    }
    const auto [first, last] = InitializedProxyInterfaces();
    return std::any_of(first, last, [proxy](const std::shared_ptr<ITargetProfilerProxy>& served) {
        return served.get() != proxy;
    });
}

HRESULT ProfilerMultiplexer::SetRuntimeEventMask(DWORD low, DWORD high) {
    CallsInFlight::Scope scope(_callsInFlight);
    ICorProfilerInfo10* info = _pCorProfilerInfo.load();
    if (info == nullptr) {
        return S_OK;
    }
    // What the IL chain keeps per module goes at the module's unload, which the runtime reports only under
    // the module-loads bit: once asked for, it stays, as what is kept outlives the targets' JIT events.
    // Targets still receive only what their own masks ask for.
    _keepsModuleLoads =
        _keepsModuleLoads || (low & (COR_PRF_MONITOR_JIT_COMPILATION | COR_PRF_ENABLE_REJIT)) != 0;
    if (_keepsModuleLoads) {
        low |= COR_PRF_MONITOR_MODULE_LOADS;
    }
    if (_runtimeHooksWithoutInfo.load()) {
        low &= ~EnterLeaveHooks::InfoFlags;
    }
    const HRESULT hr = _hasEventMask2 ? info->SetEventMask2(low, high) : info->SetEventMask(low);
    if (!_hasEventMask2 && high != 0) {
        Error("ProfilerMultiplexer::UpdateEventMask, the runtime has no SetEventMask2, high mask {:x} is not "
              "set",
              high);
    }
    return hr;
}

std::shared_ptr<IMetadataHelper> ProfilerMultiplexer::GetMetadataHelper() const {
    return _metadataHelper;
}

HRESULT ProfilerMultiplexer::ShutdownTargets() {
    const HRESULT result = ForAllTargetProfilers(
        FunctionName::Shutdown, [](ICorProfilerCallback9* target) { return target->Shutdown(); });
    Info("Profiler Multiplexer: Shutdown");
    // Late callbacks on other threads see null from here on; those already running get time to finish.
    ICorProfilerInfo10* info = _pCorProfilerInfo.exchange(nullptr);
    if (info != nullptr) {
        _callsInFlight.WaitUntilIdle(ShutdownWaitLimit);
        NoThrowEntry([info] { return static_cast<HRESULT>(info->Release()); });
    }
    return result;
}

void ProfilerMultiplexer::ReleaseRuntimeInfo() noexcept {
    if (ICorProfilerInfo10* info = _pCorProfilerInfo.exchange(nullptr)) {
        NoThrowEntry([info] { return static_cast<HRESULT>(info->Release()); });
    }
}

HRESULT ProfilerMultiplexer::ForAllTargetProfilers(FunctionName function, const TargetCall& call) noexcept {
    return CallTargets(_targetProfilerProxies, _callbackFilter, function, call);
}

// Targets are created and initialised only by Initialize: an attach finds none. Refusing it makes the runtime
// report the failure to the one attaching and let this object and its library go.
HRESULT ProfilerMultiplexer::InitializeForAttach(IUnknown* pCorProfilerInfoUnk, void* pvClientData,
                                                 UINT cbClientData) {
    if (_targetProfilerProxies.empty()) {
        Warn("Profiler Multiplexer: attaching to a running process is not supported, target profilers are "
             "loaded only at the process's start; the attach is refused with 0x80131368");
        return CORPROF_E_PROFILER_NOT_ATTACHABLE;
    }
    return CallTargets(_targetProfilerProxies, _callbackFilter, FunctionName::InitializeForAttach,
                       [&](ICorProfilerCallback9* target) {
                           return target->InitializeForAttach(pCorProfilerInfoUnk, pvClientData,
                                                              cbClientData);
                       });
}

// A target that asks only for large or pinned objects receives objects of those heaps alone: when the
// runtime reports others, each object's heap is asked once, for the first such target.
HRESULT ProfilerMultiplexer::ObjectAllocated(ObjectID objectId, ClassID classId) {
    const auto call = [&](ICorProfilerCallback9* target) {
        return target->ObjectAllocated(objectId, classId);
    };
    if (__builtin_expect(!_allocationsByHeap.load(std::memory_order_relaxed), 1)) {
        return CallTargets(_targetProfilerProxies, _callbackFilter, FunctionName::ObjectAllocated, call);
    }
    return RuntimeEntry([&] {
        constexpr int NotAsked = -1;
        constexpr int Unknown = -2;
        int generation = NotAsked;
        const auto ofItsHeaps = [&](const TargetProfilerProxy& proxy) {
            const DWORD heaps = AskedHeaps(proxy);
            if (heaps == AllHeaps) {
                return true;
            }
            if (generation == NotAsked) {
                ICorProfilerInfo10* info = RuntimeInfo();
                COR_PRF_GC_GENERATION_RANGE range{};
                generation = info != nullptr && SUCCEEDED(info->GetObjectGeneration(objectId, &range))
                                 ? static_cast<int>(range.generation)
                                 : Unknown;
            }
            return IsOfHeaps(generation, heaps);
        };
        return CallTargets(_targetProfilerProxies, _callbackFilter, FunctionName::ObjectAllocated, call,
                           ofItsHeaps);
    });
}

// The plain fan-out callbacks: the same call, with the same arguments, on every target that asks for it.
// The call object stays on the stack and is called directly: no allocation, no indirection per callback.
// They touch nothing that Shutdown releases, so they are not counted as calls in flight.
#define PM_FANOUT_CALLBACK(kind, name, params, args) PM_FANOUT_CALLBACK_##kind(name, params, args)
#define PM_FANOUT_CALLBACK_CUSTOM(name, params, args)
#define PM_FANOUT_CALLBACK_FANOUT(name, params, args)                                                        \
    HRESULT ProfilerMultiplexer::name params {                                                               \
        return CallTargets(_targetProfilerProxies, _callbackFilter, FunctionName::name,                      \
                           [&](ICorProfilerCallback9* target) { return target->name args; });                \
    }
PM_ALL_CORPROFILERCALLBACK_METHODS(PM_FANOUT_CALLBACK)
#undef PM_FANOUT_CALLBACK_FANOUT
#undef PM_FANOUT_CALLBACK_CUSTOM
#undef PM_FANOUT_CALLBACK

} // namespace profilermultiplexer
