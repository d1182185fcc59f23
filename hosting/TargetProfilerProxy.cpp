#include "hosting/TargetProfilerProxy.h"

#include "hosting/NoThrowEntry.h"
#include "logging/Logging.h"

namespace profilermultiplexer {

namespace {

// Info versions past the proxy's own: a target that asks for one is answered by the runtime itself.
const std::pair<const IID*, const char*> NewerInfoVersions[] = {
    {&IID_ICorProfilerInfo11, "ICorProfilerInfo11"}, {&IID_ICorProfilerInfo12, "ICorProfilerInfo12"},
    {&IID_ICorProfilerInfo13, "ICorProfilerInfo13"}, {&IID_ICorProfilerInfo14, "ICorProfilerInfo14"},
    {&IID_ICorProfilerInfo15, "ICorProfilerInfo15"},
};

template <class Function> EnterLeaveHooks::Hook AsHook(Function* function) {
    return reinterpret_cast<EnterLeaveHooks::Hook>(function);
}

const char* NewerInfoVersionName(REFIID riid) {
    for (const auto& [iid, name] : NewerInfoVersions) {
        if (riid == *iid) {
            return name;
        }
    }
    return nullptr;
}

} // namespace

const std::vector<std::pair<GUID, std::string>> TargetProfilerProxy::s_corProfilerInfoIIDs = {
    {IID_ICorProfilerInfo10, "ICorProfilerInfo10"}, {IID_ICorProfilerInfo9, "ICorProfilerInfo9"},
    {IID_ICorProfilerInfo8, "ICorProfilerInfo8"},   {IID_ICorProfilerInfo7, "ICorProfilerInfo7"},
    {IID_ICorProfilerInfo6, "ICorProfilerInfo6"},   {IID_ICorProfilerInfo5, "ICorProfilerInfo5"},
    {IID_ICorProfilerInfo4, "ICorProfilerInfo4"},   {IID_ICorProfilerInfo3, "ICorProfilerInfo3"},
    {IID_ICorProfilerInfo2, "ICorProfilerInfo2"},   {IID_ICorProfilerInfo, "ICorProfilerInfo"},
};

TargetProfilerProxy::TargetProfilerProxy(ProfilerSettings&& settings, ICorProfilerCallback9* pTargetProfiler,
                                         const GUID& corProfilerInfoIID,
                                         IProfilerMultiplexer* pProfilerMultiplexer)
    : _settings(std::move(settings)), _pProfilerMultiplexer(pProfilerMultiplexer),
      _ilBodyAllocator(static_cast<ICorProfilerInfo10*>(this), pProfilerMultiplexer),
      _pTargetProfiler(pTargetProfiler), _name(Util::ToString(_settings.name)),
      _metadataHelper(pProfilerMultiplexer->GetMetadataHelper()), _corProfilerInfoIID(corProfilerInfoIID),
      _corProfilerInfoIndex(GetCorProfilerInfoInterfaceIndex(corProfilerInfoIID)) {}

TargetProfilerProxy::~TargetProfilerProxy() {
    if (_pCorProfilerInfo != nullptr) {
        NoThrowEntry([this] { return static_cast<HRESULT>(_pCorProfilerInfo->Release()); });
    }
}

bool TargetProfilerProxy::Initialize(IUnknown* pCorProfilerInfoUnk) {
    if (IsLogLevelEnabled(spdlog::level::info)) {
        Info("TargetProfilerProxy::Initialize, plCorProfilerInfo: {:p}",
             static_cast<void*>(pCorProfilerInfoUnk));
    }
    _pCorProfilerInfo = static_cast<ICorProfilerInfo10*>(pCorProfilerInfoUnk);
    if (_corProfilerInfoIndex == -1) {
        Error("TargetProfilerProxy::Initialize, An unknown ICorProfilerInfo interface version was provided");
        _pCorProfilerInfo = nullptr;
        return false;
    }
    _pCorProfilerInfo->AddRef();
    _lastSupportedCallback = QueryLastSupportedCallback();
    UpdateReceivedCallbacks();
    return InitializeTarget();
}

bool TargetProfilerProxy::InitializeTarget() {
    const HRESULT hr =
        NoThrowEntry([this] { return _pTargetProfiler->Initialize(static_cast<ICorProfilerInfo10*>(this)); });
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug("TargetProfilerProxy::Initialize, result hr = {:x}", hr);
    }
    return SUCCEEDED(hr);
}

ProfilerCallbackFunctionFilter::FunctionName TargetProfilerProxy::QueryLastSupportedCallback() const {
    using Filter = ProfilerCallbackFunctionFilter;
    const std::pair<const IID*, FunctionName> versions[] = {
        {&IID_ICorProfilerCallback9, Filter::LastOfCallback9},
        {&IID_ICorProfilerCallback8, Filter::LastOfCallback8},
        {&IID_ICorProfilerCallback7, Filter::LastOfCallback7},
        {&IID_ICorProfilerCallback6, Filter::LastOfCallback6},
        {&IID_ICorProfilerCallback5, Filter::LastOfCallback5},
        {&IID_ICorProfilerCallback4, Filter::LastOfCallback4},
        {&IID_ICorProfilerCallback3, Filter::LastOfCallback3}};
    for (const auto& version : versions) {
        void* callback = nullptr;
        const HRESULT hr =
            NoThrowEntry([&] { return _pTargetProfiler->QueryInterface(*version.first, &callback); });
        if (SUCCEEDED(hr) && callback != nullptr) {
            NoThrowEntry(
                [callback] { return static_cast<HRESULT>(static_cast<IUnknown*>(callback)->Release()); });
            return version.second;
        }
    }
    return Filter::LastOfCallback2;
}

HRESULT TargetProfilerProxy::QueryInterface(REFIID riid, void** ppvObject) {
    return NoThrowEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("TargetProfilerProxy::QueryInterface");
        }
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        bool grant = riid == IID_IUnknown;
        for (const auto& [iid, name] : s_corProfilerInfoIIDs) {
            if (riid != iid) {
                continue;
            }
            if (IsLogLevelEnabled(spdlog::level::trace)) {
                Trace("TargetProfilerProxy::QueryInterface, asked for: {}", name);
            }
            grant = CheckCorProfilerInfoInterfaceAgainstCLRCapabilities(riid);
            if (!grant) {
                Warn("TargetProfilerProxy::QueryInterface, asked for: {}, but the hosting clr doesn't "
                     "support it",
                     name);
            }
            break;
        }
        if (!grant) {
            const HRESULT hr = _pCorProfilerInfo->QueryInterface(riid, ppvObject);
            if (IsLogLevelEnabled(spdlog::level::debug)) {
                Debug("TargetProfilerProxy::QueryInterface fallback to default QueryInterface, hr ={:x}", hr);
            }
            WarnIfRuntimeGrantedNewerInfo(riid, hr);
            return hr;
        }
        ICorProfilerInfo10* primary = this;
        *ppvObject = primary;
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("TargetProfilerProxy::QueryInterface returned {:p}", static_cast<void*>(primary));
        }
        AddRef();
        return S_OK;
    });
}

void TargetProfilerProxy::WarnIfRuntimeGrantedNewerInfo(REFIID riid, HRESULT hr) const {
    if (FAILED(hr)) {
        return;
    }
    if (const char* version = NewerInfoVersionName(riid)) {
        Warn("TargetProfilerProxy::QueryInterface, the runtime granted {} its own {}: event masks and IL set "
             "through that object bypass the multiplexer",
             _name, version);
    }
}

ULONG TargetProfilerProxy::AddRef() {
    return _pCorProfilerInfo->AddRef();
}

ULONG TargetProfilerProxy::Release() {
    return _pCorProfilerInfo->Release();
}

HRESULT TargetProfilerProxy::GetEventMask(DWORD* pdwEvents) {
    if (pdwEvents == nullptr) {
        return E_POINTER;
    }
    const DWORD low = _eventMaskLow.load(std::memory_order_relaxed);
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug("TargetProfilerProxy::GetEventMask, returning local mask: {:b}", low);
    }
    *pdwEvents = low;
    return S_OK;
}

HRESULT TargetProfilerProxy::SetEventMask(DWORD dwEvents) {
    return SetEventMask2(dwEvents, 0);
}

HRESULT TargetProfilerProxy::GetEventMask2(DWORD* pdwEventsLow, DWORD* pdwEventsHigh) {
    if (pdwEventsLow == nullptr || pdwEventsHigh == nullptr) {
        return E_POINTER;
    }
    GetCashedEventMask(*pdwEventsLow, *pdwEventsHigh);
    return S_OK;
}

HRESULT TargetProfilerProxy::SetEventMask2(DWORD dwEventsLow, DWORD dwEventsHigh) {
    const HRESULT allowed = CheckCallbacksOfMask(dwEventsHigh);
    if (FAILED(allowed)) {
        return allowed;
    }
    if (_hooksState.load() == HooksState::Initializing) {
        return SetEventMaskWhileInitializing(dwEventsLow, dwEventsHigh);
    }
    if (const auto result = ChangeEventMaskAfterInitialization(dwEventsLow, dwEventsHigh)) {
        return *result;
    }
    CacheEventMask(dwEventsLow, dwEventsHigh);
    UpdateUnion();
    return S_OK;
}

HRESULT TargetProfilerProxy::SetEventMaskWhileInitializing(DWORD dwEventsLow, DWORD dwEventsHigh) {
    {
        std::lock_guard<std::mutex> lock(_hooksLock);
        const HRESULT hr =
            _hooksState.load() == HooksState::Initializing ? _hooks.CheckMask(dwEventsLow) : S_OK;
        if (FAILED(hr)) {
            Warn("TargetProfilerProxy::SetEventMask, {} sets the mask {:x} after enter/leave hooks that it "
                 "does not fit: refused with {:#x}, as the runtime refuses it",
                 _name, dwEventsLow, static_cast<uint32_t>(hr));
            return hr;
        }
        // Under the lock: hooks set meanwhile are checked against this mask.
        CacheEventMask(dwEventsLow, dwEventsHigh);
    }
    UpdateUnion();
    return S_OK;
}

void TargetProfilerProxy::UpdateUnion() noexcept {
    NoThrowEntry([this] {
        _pProfilerMultiplexer->UpdateEventMask();
        return S_OK;
    });
}

HRESULT TargetProfilerProxy::CheckCallbacksOfMask(DWORD high) const noexcept {
    using Filter = ProfilerCallbackFunctionFilter;
    if ((high & COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES) != 0 && !SupportsCallback(Filter::LastOfCallback6)) {
        return CORPROF_E_CALLBACK6_REQUIRED;
    }
    if ((high & COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED) != 0 && !SupportsCallback(Filter::LastOfCallback7)) {
        return CORPROF_E_CALLBACK7_REQUIRED;
    }
    return S_OK;
}

void TargetProfilerProxy::CacheEventMask(DWORD low, DWORD high) noexcept {
    _eventMaskLow.store(low);
    _eventMaskHigh.store(high);
    UpdateReceivedCallbacks();
}

std::optional<HRESULT> TargetProfilerProxy::ChangeEventMaskAfterInitialization(DWORD low,
                                                                               DWORD high) noexcept {
    std::optional<HRESULT> result;
    const HRESULT hr = NoThrowEntry([&] {
        result = _pProfilerMultiplexer->ChangeEventMaskAfterInitialization(*this, low, high);
        return S_OK;
    });
    if (FAILED(hr)) {
        return hr;
    }
    return result;
}

HRESULT TargetProfilerProxy::KeepEnterLeaveHooks(FunctionEnter* enter, FunctionLeave* leave,
                                                 FunctionTailcall* tailcall) {
    return KeepHooks(EnterLeaveHooks::Kind::Hooks, AsHook(enter), AsHook(leave), AsHook(tailcall));
}

HRESULT TargetProfilerProxy::KeepEnterLeaveHooks(FunctionEnter2* enter, FunctionLeave2* leave,
                                                 FunctionTailcall2* tailcall) {
    return KeepHooks(EnterLeaveHooks::Kind::Hooks2, AsHook(enter), AsHook(leave), AsHook(tailcall));
}

HRESULT TargetProfilerProxy::KeepEnterLeaveHooks(FunctionEnter3* enter, FunctionLeave3* leave,
                                                 FunctionTailcall3* tailcall) {
    return KeepHooks(EnterLeaveHooks::Kind::Hooks3, AsHook(enter), AsHook(leave), AsHook(tailcall));
}

HRESULT TargetProfilerProxy::KeepEnterLeaveHooks(FunctionEnter3WithInfo* enter, FunctionLeave3WithInfo* leave,
                                                 FunctionTailcall3WithInfo* tailcall) {
    return KeepHooks(EnterLeaveHooks::Kind::Hooks3WithInfo, AsHook(enter), AsHook(leave), AsHook(tailcall));
}

HRESULT TargetProfilerProxy::KeepHooks(EnterLeaveHooks::Kind kind, EnterLeaveHooks::Hook enter,
                                       EnterLeaveHooks::Hook leave, EnterLeaveHooks::Hook tailcall) {
    return NoThrowEntry([&] {
        std::lock_guard<std::mutex> lock(_hooksLock);
        if (_hooksState.load() == HooksState::Declined) {
            Warn("TargetProfilerProxy, {} sets enter/leave hooks after its Initialize failed: refused",
                 _name);
            return E_FAIL;
        }
        const HRESULT hr = EnterLeaveHooks::Check(kind, enter, leave, tailcall, _eventMaskLow.load());
        if (FAILED(hr)) {
            return hr;
        }
        if (const char* holder = _pProfilerMultiplexer->ClaimEnterLeaveHooks(this, true)) {
            Warn("TargetProfilerProxy, {} sets enter/leave hooks, but the runtime holds one set and takes "
                 "those of {}: refused with E_FAIL",
                 _name, holder);
            return E_FAIL;
        }
        _hooks.Keep(kind, enter, leave, tailcall);
        return S_OK;
    });
}

template <class Keep, class Forward>
HRESULT TargetProfilerProxy::SetMapper(const Keep& keep, const Forward& forward) {
    return NoThrowEntry([&] {
        std::lock_guard<std::mutex> lock(_hooksLock);
        const HooksState state = _hooksState.load();
        if (state == HooksState::Initialized && _holdsRuntimeHooks) {
            return forward();
        }
        if (state == HooksState::Initializing) {
            if (const char* holder = _pProfilerMultiplexer->ClaimEnterLeaveHooks(this, false)) {
                Warn("TargetProfilerProxy, {} sets a function id mapper, but the runtime takes the "
                     "enter/leave hooks of {}: refused with E_FAIL, the runtime keeps one mapper, for those "
                     "hooks",
                     _name, holder);
                return E_FAIL;
            }
            // Kept for hooks set or still to come.
            if (_hooks.HasHooks() || (_eventMaskLow.load() & COR_PRF_MONITOR_ENTERLEAVE) != 0) {
                keep();
                return S_OK;
            }
        }
        Warn("TargetProfilerProxy, {} sets a function id mapper without enter/leave hooks of its own on the "
             "runtime: refused with E_FAIL, the runtime keeps one mapper, for the hooks it holds",
             _name);
        return E_FAIL;
    });
}

HRESULT TargetProfilerProxy::SetFunctionIDMapper(FunctionIDMapper* pFunc) {
    return SetMapper([&] { _hooks.KeepMapper(pFunc); },
                     [&] { return _pCorProfilerInfo->SetFunctionIDMapper(pFunc); });
}

HRESULT TargetProfilerProxy::SetFunctionIDMapper2(FunctionIDMapper2* pFunc, void* clientData) {
    return SetMapper([&] { _hooks.KeepMapper2(pFunc, clientData); },
                     [&] { return _pCorProfilerInfo->SetFunctionIDMapper2(pFunc, clientData); });
}

bool TargetProfilerProxy::HasFastEnterLeaveHooks() const {
    std::lock_guard<std::mutex> lock(_hooksLock);
    return _hooks.HasFastHooks();
}

HRESULT TargetProfilerProxy::GiveEnterLeaveHooksToRuntime() {
    std::lock_guard<std::mutex> lock(_hooksLock);
    const HRESULT hr = NoThrowEntry([this] { return _hooks.GiveTo(_pCorProfilerInfo); });
    _holdsRuntimeHooks = SUCCEEDED(hr);
    _hooksState.store(HooksState::Initialized);
    return hr;
}

void TargetProfilerProxy::EndInitialization(bool declined) {
    std::lock_guard<std::mutex> lock(_hooksLock);
    if (_hooksState.load() != HooksState::Initializing) {
        return;
    }
    _hooksState.store(declined ? HooksState::Declined : HooksState::Initialized);
    if (!declined && (_hooks.HasHooks() || _hooks.HasMapper())) {
        Warn("TargetProfilerProxy, the runtime holds no enter/leave hooks of {}: its function id mapper is "
             "not given to it",
             _name);
    }
    _hooks = EnterLeaveHooks();
}

void TargetProfilerProxy::UpdateReceivedCallbacks() noexcept {
    static const ProfilerCallbackFunctionFilter filter;
    DWORD low = 0;
    DWORD high = 0;
    // Again when another thread has set other words meanwhile: the last update sees the last words.
    do {
        low = _eventMaskLow.load();
        high = _eventMaskHigh.load();
        std::array<uint64_t, 2> received{};
        for (std::size_t index = 0; index < ProfilerCallbackFunctionFilter::FunctionCount; ++index) {
            const auto function = static_cast<FunctionName>(index);
            if (filter.IsCallbackEnabled(function, low, high) && SupportsCallback(function)) {
                received[index / 64] |= uint64_t{1} << (index % 64);
            }
        }
        _receivedCallbacks[0].store(received[0]);
        _receivedCallbacks[1].store(received[1]);
    } while (_eventMaskLow.load() != low || _eventMaskHigh.load() != high);
}

double TargetProfilerProxy::GetPriority() const {
    return _settings.priority;
}

bool TargetProfilerProxy::ShouldRevertRejitCallOrder() const {
    return _settings.revertRejitCallOrder;
}

const char* TargetProfilerProxy::GetName() const {
    return _name.c_str();
}

int32_t TargetProfilerProxy::GetCorProfilerInfoInterfaceIndex(const GUID& iid) const {
    for (std::size_t index = 0; index < s_corProfilerInfoIIDs.size(); ++index) {
        if (s_corProfilerInfoIIDs[index].first == iid) {
            return static_cast<int32_t>(index);
        }
    }
    Warn("TargetProfilerProxy::GetCorProfilerInfoInterfaceIndex, can't find CorProfilerInfo interface");
    return -1;
}

bool TargetProfilerProxy::CheckCorProfilerInfoInterfaceAgainstCLRCapabilities(const GUID& iid) const {
    return GetCorProfilerInfoInterfaceIndex(iid) >= _corProfilerInfoIndex;
}

// The runtime detaches its one profiler, the multiplexer, with every target behind it: one target cannot go
// alone while the others are served.
HRESULT TargetProfilerProxy::RequestProfilerDetach(DWORD dwExpectedCompletionMilliseconds) {
    if (_pProfilerMultiplexer->ServesOtherTargets(this)) {
        Warn("TargetProfilerProxy::RequestProfilerDetach, {} asked to be detached, but a target cannot be "
             "detached alone while other targets are served: refused with 0x80004005",
             _name);
        return E_FAIL;
    }
    return _pCorProfilerInfo->RequestProfilerDetach(dwExpectedCompletionMilliseconds);
}

bool operator<(const TargetProfilerProxy& left, const TargetProfilerProxy& right) {
    return left.GetPriority() < right.GetPriority();
}

// Every other info method goes to the runtime unchanged, as a tail call (the build keeps the compiler
// from guessing that the runtime's object is a proxy too: a comparison chain on every call).
#define PM_FORWARD_INFO(kind, name, params, args) PM_FORWARD_INFO_##kind(name, params, args)
#define PM_FORWARD_INFO_OWN(name, params, args)
#define PM_FORWARD_INFO_FORWARD(name, params, args)                                                          \
    HRESULT TargetProfilerProxy::name params {                                                               \
        return _pCorProfilerInfo->name args;                                                                 \
    }
// While the targets are initialised, the hooks are kept: the runtime gets one target's at the end.
#define PM_FORWARD_INFO_HOOKS(name, params, args)                                                            \
    HRESULT TargetProfilerProxy::name params {                                                               \
        if (_hooksState.load() == HooksState::Initialized) {                                                 \
            return _pCorProfilerInfo->name args;                                                             \
        }                                                                                                    \
        return KeepEnterLeaveHooks args;                                                                     \
    }
PM_ALL_CORPROFILERINFO_METHODS(PM_FORWARD_INFO)
#undef PM_FORWARD_INFO_HOOKS
#undef PM_FORWARD_INFO_FORWARD
#undef PM_FORWARD_INFO_OWN
#undef PM_FORWARD_INFO

} // namespace profilermultiplexer
