// ReJIT coordination of ProfilerMultiplexer: the targets' ReJIT and revert requests, the waiting list and
// the runtime's ReJIT callbacks, each handed to the method's RejitProcessor.
#include "hosting/ProfilerMultiplexer.h"

#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IMetadataHelper.h"
#include "ilchain/RejitProcessor.h"
#include "logging/Logging.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace profilermultiplexer {

namespace {

using RejitProcessorMap =
    std::unordered_map<ModuleID, std::unordered_map<mdMethodDef, std::shared_ptr<RejitProcessor>>>;

// The method's processor, or an empty pointer; adds no entry.
std::shared_ptr<RejitProcessor> FindRejitProcessor(const RejitProcessorMap& processors, ModuleID moduleId,
                                                   mdMethodDef methodDef) {
    const auto module = processors.find(moduleId);
    if (module == processors.end()) {
        return {};
    }
    const auto method = module->second.find(methodDef);
    return method == module->second.end() ? nullptr : method->second;
}

// Marks the processor Completed when the scope ends, however it ends; a run in progress stays so.
class CompletedOnExit {
public:
    explicit CompletedOnExit(RejitProcessor* processor) : _processor(processor) {}
    CompletedOnExit(const CompletedOnExit&) = delete;
    CompletedOnExit& operator=(const CompletedOnExit&) = delete;
    ~CompletedOnExit() {
        if (_processor != nullptr) {
            _processor->MarkCompleted();
        }
    }

private:
    RejitProcessor* _processor;
};

bool IsDebugEnabled() noexcept {
    return IsLogLevelEnabled(spdlog::level::debug);
}

// A reverting target leaves the method's IL chain: its block goes.
void DropRevertingTarget(ITargetProfilerProxy& requester, IMetadataHelper& names, ModuleID moduleId,
                         mdMethodDef methodDef) {
    if (IsDebugEnabled()) {
        Debug("Asking {} to be ready to revert method {}", requester.GetName(),
              names.GetMethodName(moduleId, methodDef));
    }
    requester.RemoveFunctionILBlock(moduleId, methodDef);
}

// Passes a queued request to the runtime as it was made; a failure is only logged.
HRESULT ReplayRejitRequest(ICorProfilerInfo10* info, IMetadataHelper& names, ModuleID moduleId,
                           mdMethodDef methodDef, std::optional<DWORD> rejitFlags) {
    if (info == nullptr) {
        return E_FAIL;
    }
    if (rejitFlags) {
        const HRESULT hr = info->RequestReJITWithInliners(*rejitFlags, 1, &moduleId, &methodDef);
        if (IsDebugEnabled()) {
            Debug("ProfilerMultiplexer::RestartPendingRejitRequests, RequestReJITWithInliners for {} with "
                  "dwRejitFlags: {:d} return hr={:x}",
                  names.GetMethodName(moduleId, methodDef), *rejitFlags, hr);
        }
        return hr;
    }
    const HRESULT hr = info->RequestReJIT(1, &moduleId, &methodDef);
    if (IsDebugEnabled()) {
        Debug("ProfilerMultiplexer::RestartPendingRejitRequests, RequestReJITOrRevert for {} return hr={:x}",
              names.GetMethodName(moduleId, methodDef), hr);
    }
    return hr;
}

} // namespace

HRESULT ProfilerMultiplexer::GetReJITParameters(ModuleID moduleId, mdMethodDef methodId,
                                                ICorProfilerFunctionControl* pFunctionControl) {
    CallsInFlight::Scope scope(_callsInFlight);
    NoThrowEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("ProfilerMultiplexer::GetReJITParameters for {}",
                  _metadataHelper->GetMethodName(moduleId, methodId));
        }
        {
            std::unique_lock<FastMutex> methodsLock(_methodsLock);
            EnterMethodChain(methodsLock, moduleId, methodId);
        }
        const HRESULT result = NoThrowEntry([&] {
            std::shared_ptr<RejitProcessor> processor;
            FunctionID functionId = 0;
            {
                std::lock_guard<FastRecursiveMutex> lock(_rejitLock);
                processor = FindRejitProcessor(_rejitProcessors, moduleId, methodId);
                if (!processor || processor->ServesInliners()) {
                    processor = InlinerRejitProcessor(moduleId, methodId, processor, true);
                }
                if (!processor) {
                    Error(
                        "ProfilerMultiplexer::GetReJITParameters, cant find the RejitProcessor object for {}",
                        _metadataHelper->GetMethodName(moduleId, methodId));
                    return S_OK;
                }
                std::lock_guard<FastMutex> methodsLock(_methodsLock);
                MethodState& method = _methods.FindOrAdd(moduleId, methodId);
                method.hasFunctionId = true;
                functionId = method.functionId;
            }
            // The targets run without the lock; the method's chain keeps other threads' chains of it out.
            return processor->GetReJITParameters(pFunctionControl, functionId);
        });
        LeaveMethodChain(moduleId, methodId);
        return result;
    });
    RestartPendingRejitRequests();
    return S_OK;
}

HRESULT ProfilerMultiplexer::ReJITCompilationStarted(FunctionID functionId, ReJITID rejitId,
                                                     BOOL fIsSafeToBlock) {
    return RuntimeEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("ProfilerMultiplexer::ReJITCompilationStarted, with functionId {:x}", functionId);
        }
        ModuleID moduleId = 0;
        mdMethodDef methodDef = 0;
        const HRESULT hr = GetFunctionModuleAndToken(functionId, moduleId, methodDef);
        if (FAILED(hr)) {
            Error("ProfilerMultiplexer::ReJITCompilationStarted, GetFunctionInfo, hr = {:x}", hr);
            return E_FAIL;
        }
        const auto processor = NotifiedRejitProcessor(moduleId, methodDef);
        if (!processor) {
            Error("ProfilerMultiplexer::ReJITCompilationStarted, cant find the RejitProcessor object for {}",
                  _metadataHelper->GetMethodName(moduleId, methodDef));
            return E_FAIL;
        }
        return processor->ReJITCompilationStarted(functionId, rejitId, fIsSafeToBlock);
    });
}

HRESULT ProfilerMultiplexer::ReJITCompilationFinished(FunctionID functionId, ReJITID rejitId,
                                                      HRESULT hrStatus, BOOL fIsSafeToBlock) {
    return RuntimeEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("ProfilerMultiplexer::ReJITCompilationFinished, with functionId {:x}", functionId);
        }
        ModuleID moduleId = 0;
        mdMethodDef methodDef = 0;
        const HRESULT hr = GetFunctionModuleAndToken(functionId, moduleId, methodDef);
        if (FAILED(hr)) {
            Error("ProfilerMultiplexer::ReJITCompilationFinished, GetFunctionInfo, hr = {:x}", hr);
            return E_FAIL;
        }
        const auto processor = NotifiedRejitProcessor(moduleId, methodDef);
        if (!processor) {
            Error("ProfilerMultiplexer::ReJITCompilationFinished, cant find the RejitProcessor object for {}",
                  _metadataHelper->GetMethodName(moduleId, methodDef));
            return E_FAIL;
        }
        CompletedOnExit completed(processor.get());
        return processor->ReJITCompilationFinished(functionId, rejitId, hrStatus, fIsSafeToBlock);
    });
}

HRESULT ProfilerMultiplexer::ReJITError(ModuleID moduleId, mdMethodDef methodId, FunctionID functionId,
                                        HRESULT hrStatus) {
    CallsInFlight::Scope scope(_callsInFlight);
    const HRESULT result = NoThrowEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("calls to ProfilerMultiplexer::ReJITError, for function: {} and hrStatus: 0x{:x}",
                  _metadataHelper->GetMethodName(moduleId, methodId), hrStatus);
        }
        const auto processor = NotifiedRejitProcessor(moduleId, methodId);
        if (!processor) {
            Error("ProfilerMultiplexer::ReJITError, cant find the RejitProcessor object for {}",
                  _metadataHelper->GetMethodName(moduleId, methodId));
            return E_FAIL;
        }
        CompletedOnExit completed(processor.get());
        return processor->ReJITError(moduleId, methodId, functionId, hrStatus);
    });
    RestartPendingRejitRequests();
    return result;
}

std::shared_ptr<RejitProcessor> ProfilerMultiplexer::NotifiedRejitProcessor(ModuleID moduleId,
                                                                            mdMethodDef methodDef) {
    std::lock_guard<FastRecursiveMutex> lock(_rejitLock);
    auto processor = FindRejitProcessor(_rejitProcessors, moduleId, methodDef);
    return processor ? processor : InlinerRejitProcessor(moduleId, methodDef, nullptr, false);
}

HRESULT ProfilerMultiplexer::RequestReJITOrRevert(ITargetProfilerProxy* requester, ULONG count,
                                                  ModuleID* moduleIds, mdMethodDef* methodIds,
                                                  std::optional<DWORD> rejitFlags, bool revert) {
    return RuntimeEntry([&] {
        if (requester == nullptr || (count != 0 && (moduleIds == nullptr || methodIds == nullptr))) {
            return E_INVALIDARG;
        }
        if (IsDebugEnabled()) {
            Debug("{} calls to ProfilerMultiplexer::RequestReJITOrRevert, with {:d} functions",
                  requester->GetName(), count);
        }
        if (!HasProfilerRegisteredForRejit(dynamic_cast<TargetProfilerProxy*>(requester))) {
            Error("Profiler {} is asking for rejit but it's event mask is masking this request",
                  requester->GetName());
            return E_FAIL;
        }
        std::vector<ModuleID> modules;
        std::vector<mdMethodDef> methods;
        bool refused = false;
        {
            std::lock_guard<FastRecursiveMutex> lock(_rejitLock);
            if (rejitFlags &&
                std::find(_rejitWithInlinersRequesters.begin(), _rejitWithInlinersRequesters.end(),
                          requester) == _rejitWithInlinersRequesters.end()) {
                _rejitWithInlinersRequesters.push_back(requester);
            }
            for (ULONG index = 0; index < count; ++index) {
                const ModuleID moduleId = moduleIds[index];
                const mdMethodDef methodDef = methodIds[index];
                // As for its IL: the runtime may have freed the module.
                if (HasUnloaded(moduleId)) {
                    Error("ProfilerMultiplexer::RequestReJITOrRevert, the module of {} has unloaded: the "
                          "request is refused",
                          _metadataHelper->GetMethodName(moduleId, methodDef));
                    refused = true;
                    continue;
                }
                // While another thread runs the method's chain, the runtime is asked at once all the same:
                // its GetReJITParameters of the method waits for that chain, whose end prepares the targets.
                if (!PrepareForRejit(requester, moduleId, methodDef, rejitFlags, revert)) {
                    continue;
                }
                modules.push_back(moduleId);
                methods.push_back(methodDef);
            }
        }
        if (modules.empty()) {
            return refused ? E_FAIL : S_OK;
        }
        // Without the lock: the runtime may raise ReJITError inside its answer, which calls the targets.
        ICorProfilerInfo10* info = RuntimeInfo();
        if (info == nullptr) {
            return E_FAIL;
        }
        const auto length = static_cast<ULONG>(modules.size());
        if (rejitFlags) {
            if (IsDebugEnabled()) {
                Debug("ProfilerMultiplexer::RequestReJITOrRevert, call "
                      "_pCorProfilerInfo->RequestReJITWithInliners with {:d} functions",
                      length);
            }
            return info->RequestReJITWithInliners(*rejitFlags, length, modules.data(), methods.data());
        }
        if (IsDebugEnabled()) {
            Debug("ProfilerMultiplexer::RequestReJITOrRevert, call _pCorProfilerInfo->RequestReJITOrRevert "
                  "with {:d} functions",
                  length);
        }
        return info->RequestReJIT(length, modules.data(), methods.data());
    });
}

bool ProfilerMultiplexer::HasProfilerRegisteredForRejit(TargetProfilerProxy* proxy) const {
    if (proxy == nullptr) {
        return false;
    }
    DWORD low = 0;
    DWORD high = 0;
    proxy->GetCashedEventMask(low, high);
    return _callbackFilter.IsCallbackEnabled(FunctionName::GetReJITParameters, low, high);
}

void ProfilerMultiplexer::AssignTargetProfilersForRejit(ITargetProfilerProxy* requester, ModuleID moduleId,
                                                        mdMethodDef methodDef, bool revert,
                                                        const std::shared_ptr<RejitProcessor>& processor) {
    if (processor) {
        processor->Reset(requester);
    } else {
        _rejitProcessors[moduleId][methodDef] = std::make_shared<RejitProcessor>(
            this, requester, _targetProfilerProxyInterfaces, moduleId, methodDef);
    }
    // A target's own thread may ask while later targets are still being initialised.
    const auto [first, last] = InitializedProxyInterfaces();
    auto position =
        std::find_if(first, last, [requester](const auto& proxy) { return proxy.get() == requester; });
    if (position == last) {
        return;
    }
    if (!revert) {
        requester->RequestRejit(moduleId, methodDef, true);
    } else {
        DropRevertingTarget(*requester, *_metadataHelper, moduleId, methodDef);
    }
    for (++position; position != last; ++position) {
        (*position)->RequestRejit(moduleId, methodDef, false);
    }
}

std::shared_ptr<RejitProcessor>
ProfilerMultiplexer::InlinerRejitProcessor(ModuleID moduleId, mdMethodDef methodDef,
                                           std::shared_ptr<RejitProcessor> processor, bool markTargets) {
    if (_rejitWithInlinersRequesters.empty()) {
        return processor;
    }
    // In list order, as the IL chain runs.
    std::vector<ITargetProfilerProxy*> requesters;
    const auto [first, last] = InitializedProxyInterfaces();
    for (auto proxy = first; proxy != last; ++proxy) {
        if (std::find(_rejitWithInlinersRequesters.begin(), _rejitWithInlinersRequesters.end(),
                      proxy->get()) != _rejitWithInlinersRequesters.end()) {
            requesters.push_back(proxy->get());
        }
    }
    if (requesters.empty()) {
        return processor;
    }
    if (IsDebugEnabled()) {
        Debug("ProfilerMultiplexer, {} is ReJITted as an inliner: handled for the {:d} targets that asked "
              "for a ReJIT with inliners",
              _metadataHelper->GetMethodName(moduleId, methodDef), requesters.size());
    }
    if (markTargets) {
        // As if each had asked for the method itself: it and every later target holding IL rewrite it.
        for (ITargetProfilerProxy* requester : requesters) {
            AssignTargetProfilersForRejit(requester, moduleId, methodDef, false, processor);
            processor = FindRejitProcessor(_rejitProcessors, moduleId, methodDef);
        }
    } else if (!processor) {
        processor = std::make_shared<RejitProcessor>(this, requesters.front(), _targetProfilerProxyInterfaces,
                                                     moduleId, methodDef);
        _rejitProcessors[moduleId][methodDef] = processor;
    }
    processor->ServeInliners(std::move(requesters));
    return processor;
}

HRESULT ProfilerMultiplexer::RevertFromRejit(ModuleID moduleId, mdMethodDef methodDef) {
    return RuntimeEntry([&] {
        if (IsDebugEnabled()) {
            Debug("Requesting a real IL revert for {}", _metadataHelper->GetMethodName(moduleId, methodDef));
        }
        ICorProfilerInfo10* info = RuntimeInfo();
        if (info == nullptr) {
            return E_FAIL;
        }
        HRESULT status = S_OK;
        const HRESULT hr = info->RequestRevert(1, &moduleId, &methodDef, &status);
        if (FAILED(hr)) {
            Error(
                "ProfilerMultiplexer::RevertFromRejit failed calling RemoveFunctionILBlock for {} with error "
                "hr = {:x}",
                _metadataHelper->GetMethodName(moduleId, methodDef), hr);
            return hr;
        }
        if (FAILED(status)) {
            Error(
                "ProfilerMultiplexer::RevertFromRejit got an error result when calling RemoveFunctionILBlock "
                "for {} with error hr = {:x}",
                _metadataHelper->GetMethodName(moduleId, methodDef), status);
            return status;
        }
        std::lock_guard<FastMutex> lock(_methodsLock);
        MethodState* method = _methods.Find(moduleId, methodDef);
        if (method == nullptr || !method->hasIL) {
            Error("ProfilerMultiplexer::RevertFromRejit, Cant find module: {:x} method: {:x}", moduleId,
                  methodDef);
            return status;
        }
        method->il.reset();
        method->ilSize = 0;
        method->hasIL = false;
        return status;
    });
}

void ProfilerMultiplexer::RestartPendingRejitRequests() {
    NoThrowEntry([&] {
        for (;;) {
            std::tuple<ITargetProfilerProxy*, ModuleID, mdMethodDef, std::optional<DWORD>, bool> request;
            {
                std::lock_guard<FastRecursiveMutex> lock(_rejitLock);
                if (_pendingRejitRequests.empty()) {
                    return S_OK;
                }
                request = _pendingRejitRequests.front();
                _pendingRejitRequests.pop();
                // A queued revert prepares the targets as a direct one does: the requester's block goes
                // and the later targets holding IL rewrite again.
                NoThrowEntry([&] {
                    ITargetProfilerProxy* requester = std::get<0>(request);
                    const ModuleID moduleId = std::get<1>(request);
                    const mdMethodDef methodDef = std::get<2>(request);
                    if (!std::get<4>(request) || !EnterChainToPrepare(requester, moduleId, methodDef, true)) {
                        return S_OK;
                    }
                    PrepareTargetsForRejit(requester, moduleId, methodDef, true);
                    LeaveMethodChain(moduleId, methodDef);
                    return S_OK;
                });
            }
            // Without the lock, as a direct request.
            NoThrowEntry([&] {
                return ReplayRejitRequest(RuntimeInfo(), *_metadataHelper, std::get<1>(request),
                                          std::get<2>(request), std::get<3>(request));
            });
        }
    });
}

bool ProfilerMultiplexer::PrepareForRejit(ITargetProfilerProxy* requester, ModuleID moduleId,
                                          mdMethodDef methodDef, std::optional<DWORD> rejitFlags,
                                          bool revert) {
    if (!EnterChainToPrepare(requester, moduleId, methodDef, revert)) {
        return true;
    }
    bool asksNow = true;
    try {
        // Only a GetReJITParameters of the method on this thread can be in progress here.
        const auto processor = FindRejitProcessor(_rejitProcessors, moduleId, methodDef);
        if (processor && processor->GetState() == RejitProcessor::State::InProgress) {
            if (IsDebugEnabled()) {
                Debug("ProfilerMultiplexer::RequestReJITOrRevert, {} rejit process for the requested "
                      "function is in progress. put the function in a rejit request waiting list.",
                      _metadataHelper->GetMethodName(moduleId, methodDef));
            }
            _pendingRejitRequests.emplace(requester, moduleId, methodDef, rejitFlags, revert);
            asksNow = false;
        } else {
            if (IsDebugEnabled()) {
                Debug("ProfilerMultiplexer::RequestReJITOrRevert, {} is not in rejit process, starting new "
                      "process.",
                      _metadataHelper->GetMethodName(moduleId, methodDef));
            }
            AssignTargetProfilersForRejit(requester, moduleId, methodDef, revert, processor);
        }
    } catch (...) {
        LeaveMethodChain(moduleId, methodDef);
        throw;
    }
    LeaveMethodChain(moduleId, methodDef);
    return asksNow;
}

bool ProfilerMultiplexer::EnterChainToPrepare(ITargetProfilerProxy* requester, ModuleID moduleId,
                                              mdMethodDef methodDef, bool revert) {
    {
        std::unique_lock<FastMutex> lock(_methodsLock);
        MethodChain* chain = FindMethodChain(moduleId, methodDef);
        if (chain == nullptr || chain->owner == std::this_thread::get_id()) {
            // Free or this thread's own: entered without a wait.
            EnterMethodChain(lock, moduleId, methodDef);
            return true;
        }
        chain->preparationDeferred = true;
    }
    if (IsDebugEnabled()) {
        Debug("ProfilerMultiplexer::RequestReJITOrRevert, {} is compiled or ReJITted on another thread: its "
              "targets are prepared when that ends",
              _metadataHelper->GetMethodName(moduleId, methodDef));
    }
    _deferredPreparations.emplace_back(requester, moduleId, methodDef, revert);
    return false;
}

ProfilerMultiplexer::MethodChain* ProfilerMultiplexer::FindMethodChain(ModuleID moduleId,
                                                                       mdMethodDef methodDef) noexcept {
    for (MethodChain& chain : _methodChains) {
        if (chain.moduleId == moduleId && chain.methodDef == methodDef) {
            return &chain;
        }
    }
    return nullptr;
}

void ProfilerMultiplexer::EnterMethodChain(std::unique_lock<FastMutex>& lock, ModuleID moduleId,
                                           mdMethodDef methodDef) {
    const std::thread::id self = std::this_thread::get_id();
    // Found again after each wait: the list changes meanwhile.
    while (MethodChain* chain = FindMethodChain(moduleId, methodDef)) {
        if (chain->owner == self) {
            ++chain->depth;
            return;
        }
        chain->waited = true;
        _chainReleased.wait(lock);
    }
    _methodChains.push_back({moduleId, methodDef, self, 1, false, false});
}

void ProfilerMultiplexer::LeaveMethodChain(ModuleID moduleId, mdMethodDef methodDef) noexcept {
    {
        std::lock_guard<FastMutex> lock(_methodsLock);
        if (ReleaseMethodChain(moduleId, methodDef, false)) {
            return;
        }
    }
    // Requests from other threads came meanwhile: their preparations are made before the next chain of the
    // method runs, and a request made from now on finds the chain ended.
    std::lock_guard<FastRecursiveMutex> rejitLock(_rejitLock);
    MakeDeferredPreparations(moduleId, methodDef);
    std::lock_guard<FastMutex> lock(_methodsLock);
    ReleaseMethodChain(moduleId, methodDef, true);
}

bool ProfilerMultiplexer::ReleaseMethodChain(ModuleID moduleId, mdMethodDef methodDef,
                                             bool prepared) noexcept {
    MethodChain* chain = FindMethodChain(moduleId, methodDef);
    if (chain == nullptr) {
        return true;
    }
    if (chain->depth > 1) {
        --chain->depth;
        return true;
    }
    if (chain->preparationDeferred && !prepared) {
        return false;
    }
    const bool waited = chain->waited;
    *chain = _methodChains.back();
    _methodChains.pop_back();
    if (waited) {
        _chainReleased.notify_all();
    }
    return true;
}

void ProfilerMultiplexer::MakeDeferredPreparations(ModuleID moduleId, mdMethodDef methodDef) noexcept {
    auto next = _deferredPreparations.begin();
    while (next != _deferredPreparations.end()) {
        if (std::get<1>(*next) != moduleId || std::get<2>(*next) != methodDef) {
            ++next;
            continue;
        }
        ITargetProfilerProxy* requester = std::get<0>(*next);
        const bool revert = std::get<3>(*next);
        next = _deferredPreparations.erase(next);
        PrepareTargetsForRejit(requester, moduleId, methodDef, revert);
    }
}

void ProfilerMultiplexer::PrepareTargetsForRejit(ITargetProfilerProxy* requester, ModuleID moduleId,
                                                 mdMethodDef methodDef, bool revert) noexcept {
    NoThrowEntry([&] {
        AssignTargetProfilersForRejit(requester, moduleId, methodDef, revert,
                                      FindRejitProcessor(_rejitProcessors, moduleId, methodDef));
        return S_OK;
    });
}

} // namespace profilermultiplexer
