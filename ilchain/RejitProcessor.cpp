#include "ilchain/RejitProcessor.h"

#include "ilchain/IFunctionILBlock.h"
#include "ilchain/ILMapComposition.h"
#include "logging/Logging.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

namespace profilermultiplexer {

namespace {

const std::string& UnnamedMethod() {
    static const std::string name = "(unknown method)";
    return name;
}

bool IsDebugEnabled() noexcept {
    return IsLogLevelEnabled(spdlog::level::debug);
}

} // namespace

// What differs between the three notifications: the callback and its log lines.
struct RejitProcessor::Notification {
    FunctionName function;
    // Targets that revert the ReJIT call order had the call during GetReJITParameters.
    bool skipsCallOrderReverting;
    // Skip line arguments: (target, method), or (target, functionId, method) when it names the function.
    const char* skipLine;
    bool skipLineNamesFunction;
    // (target, functionId, method)
    const char* failureLine;
    // (functionId, method)
    const char* exceptionLine;
};

RejitProcessor::RejitProcessor(IProfilerMultiplexer* multiplexer, ITargetProfilerProxy* requester,
                               const std::vector<std::shared_ptr<ITargetProfilerProxy>>& targets,
                               ModuleID moduleId, mdMethodDef methodDef)
    : _pProfilerMultiplexer(multiplexer), _pRequester(requester), _targetProfilers(targets),
      _moduleId(moduleId), _methodDef(methodDef), _metadataHelper(multiplexer->GetMetadataHelper()) {}

RejitProcessor::~RejitProcessor() = default;

void RejitProcessor::Reset(ITargetProfilerProxy* requester) {
    std::lock_guard<FastMutex> lock(_lock);
    _pRequester = requester;
    _state = State::Requested;
    _inlinerRequesters.clear();
}

void RejitProcessor::ServeInliners(std::vector<ITargetProfilerProxy*> requesters) {
    std::lock_guard<FastMutex> lock(_lock);
    _inlinerRequesters.swap(requesters);
}

void RejitProcessor::MarkCompleted() noexcept {
    std::lock_guard<FastMutex> lock(_lock);
    if (_state != State::InProgress) {
        _state = State::Completed;
    }
}

std::string RejitProcessor::MethodName() const {
    return _metadataHelper ? _metadataHelper->GetMethodName(_moduleId, _methodDef) : UnnamedMethod();
}

HRESULT RejitProcessor::GetReJITParameters(ICorProfilerFunctionControl* pFunctionControl,
                                           FunctionID functionId) {
    _functionId = functionId;
    SetState(State::InProgress);
    try {
        if (IsDebugEnabled()) {
            DumpFunctionILBlocks("Begins of GetReJitParameters");
        }
        HRESULT result = E_FAIL;
        DWORD flags = 0;
        bool anyTookPart = false;
        for (const auto& proxy : _targetProfilers) {
            anyTookPart = RunPendingTarget(*proxy, result, flags) || anyTookPart;
        }
        // With no target called, the IL that the targets still hold must reach the runtime all the same,
        // or it would compile the method's original IL.
        if (SUCCEEDED(result) || !anyTookPart) {
            result = ApplyToRuntime(pFunctionControl, flags);
        }
        EndGetReJITParameters();
        return result;
    } catch (...) {
        // No request may stay queued behind a run that is over.
        SetState(State::Completed);
        throw;
    }
}

void RejitProcessor::EndGetReJITParameters() noexcept {
    SetState(State::Completed);
    if (IsDebugEnabled()) {
        DumpFunctionILBlocks("Ends of GetReJitParameters");
    }
}

bool RejitProcessor::RunPendingTarget(ITargetProfilerProxy& proxy, HRESULT& result, DWORD& flags) {
    try {
        const auto block = proxy.GetFunctionILBlock(_moduleId, _methodDef);
        const bool pending = block && block->IsRejitPending();
        if (pending) {
            block->RejitIsNoLongerPending();
        }
        // A target without ICorProfilerCallback4 has no ReJIT slots to call: it takes no part.
        if (!pending || !proxy.SupportsCallback(FunctionName::GetReJITParameters)) {
            // IL it holds still goes to the runtime, and with it the flags it was set with.
            if (block && block->HasNonEmptyILBlock()) {
                flags |= block->GetCodegenFlags();
            }
            if (IsDebugEnabled()) {
                Debug("RejitProcessor::GetReJITParameters, Skipping profiler: {}, it is not part of IL chain "
                      "for {}",
                      proxy.GetName(), MethodName());
            }
            return false;
        }
        if (proxy.ShouldRevertRejitCallOrder() && !StartCallOrderReverting(proxy, result)) {
            return true;
        }
        if (IsDebugEnabled()) {
            Debug("RejitProcessor::GetReJITParameters calling GetReJITParameters on {} profiler",
                  proxy.GetName());
        }
        const HRESULT hr = proxy.GetTargetProfiler()->GetReJITParameters(
            _moduleId, _methodDef, static_cast<ICorProfilerFunctionControl*>(block.get()));
        if (FAILED(hr)) {
            Error("RejitProcessor::GetReJITParameters calling {} with GetReJITParameters has failed with "
                  "error hr = {:x}",
                  proxy.GetName(), hr);
        } else {
            flags |= block->GetCodegenFlags();
        }
        if (FAILED(result)) {
            result = hr;
        }
    } catch (...) {
        Error("RejitProcessor::GetReJITParameters Unhandled exception when handling {}", MethodName());
        if (result == S_OK) {
            result = E_FAIL;
        }
    }
    return true;
}

bool RejitProcessor::StartCallOrderReverting(ITargetProfilerProxy& proxy, HRESULT& result) {
    if (IsDebugEnabled()) {
        Debug("Profiler: {} => Calling back to ReJITCompilationStarted, to fix it's misbehavior",
              proxy.GetName());
    }
    const HRESULT hr = proxy.GetTargetProfiler()->ReJITCompilationStarted(_functionId, 1, FALSE);
    if (SUCCEEDED(hr)) {
        return true;
    }
    Error("RejitProcessor::GetReJITParameters calling {} with ReJITCompilationStarted has failed with error "
          "hr = {:x}",
          proxy.GetName(), hr);
    result = hr;
    proxy.GetTargetProfiler()->ReJITError(_moduleId, _methodDef, _functionId, hr);
    return false;
}

HRESULT RejitProcessor::ApplyToRuntime(ICorProfilerFunctionControl* pFunctionControl, DWORD flags) {
    std::shared_ptr<IFunctionILBlock> block;
    for (auto proxy = _targetProfilers.rbegin(); proxy != _targetProfilers.rend() && !block; ++proxy) {
        block = (*proxy)->GetNonEmptyILBlock(_moduleId, _methodDef);
    }
    if (!block && ServesInliners()) {
        if (IsDebugEnabled()) {
            Debug("RejitProcessor::GetReJITParameters, could not find an IL block for inliner {}, its own IL "
                  "is compiled",
                  MethodName());
        }
        return S_OK;
    }
    if (!block) {
        if (IsDebugEnabled()) {
            Debug("RejitProcessor::GetReJITParameters, could not find an IL block for {}, reverting IL",
                  MethodName());
        }
        return _pProfilerMultiplexer->RevertFromRejit(_moduleId, _methodDef);
    }
    if (pFunctionControl == nullptr) {
        Error("RejitProcessor::GetReJITParameters, no function control for {}", MethodName());
        return E_POINTER;
    }
    const auto [body, size] = block->GetILFunctionBody();
    if (flags != 0) {
        pFunctionControl->SetCodegenFlags(flags);
    }
    if (IsDebugEnabled()) {
        Debug("*** RejitProcessor::GetReJITParameters, Real SetILFunctionBody for {}, address: {:p}, size: "
              "{:d}",
              MethodName(), static_cast<const void*>(body.get()), size);
    }
    const HRESULT result = pFunctionControl->SetILFunctionBody(size, body.get());
    if (FAILED(result)) {
        Error("RejitProcessor::GetReJITParameters SetILFunctionBody failed when handling {} with error hr = "
              "{:x}",
              MethodName(), result);
        return result;
    }
    ApplyILMap(pFunctionControl);
    return result;
}

void RejitProcessor::ApplyILMap(ICorProfilerFunctionControl* pFunctionControl) {
    // The runtime keeps one map: the targets' maps in chain order, composed when there are several.
    ILMapComposition composition;
    const char* lastTarget = nullptr;
    for (const auto& proxy : _targetProfilers) {
        const auto block = proxy->GetFunctionILBlock(_moduleId, _methodDef);
        if (!block) {
            continue;
        }
        const auto [map, count] = block->GetILInstrumentedCodeMap();
        if (count == 0) {
            continue;
        }
        composition.Then(map.get(), count);
        lastTarget = proxy->GetName();
    }
    if (composition.Steps() == 0) {
        if (IsDebugEnabled()) {
            Debug("RejitProcessor::GetReJITParameters, could not find an IL block map for {}, Ignoring IL "
                  "code map",
                  MethodName());
        }
        return;
    }
    if (IsDebugEnabled()) {
        if (composition.Steps() > 1) {
            Debug("RejitProcessor::GetReJITParameters, setting IL code map for {}, composed of the maps of "
                  "{} profilers",
                  MethodName(), composition.Steps());
        } else {
            Debug("RejitProcessor::GetReJITParameters, setting IL code map for {}, from {} profiler",
                  MethodName(), lastTarget);
        }
    }
    // The one map's entries as they are, or the composition.
    std::vector<COR_IL_MAP>& entries = composition.Entries();
    const HRESULT hr =
        pFunctionControl->SetILInstrumentedCodeMap(static_cast<ULONG>(entries.size()), entries.data());
    if (FAILED(hr)) {
        Error("RejitProcessor::GetReJITParameters SetILInstrumentedCodeMap failed when handling {} with "
              "error hr = {:x}",
              MethodName(), hr);
    }
}

HRESULT RejitProcessor::ReJITCompilationStarted(FunctionID functionId, ReJITID rejitId,
                                                BOOL fIsSafeToBlock) const {
    static const Notification started{
        FunctionName::ReJITCompilationStarted,
        true,
        "RejitProcessor::RejitCompilationStarted, Skipping profiler: {} for {}",
        false,
        "RejitProcessor::RejitCompilationStarted error when calling {} with function id: {:x} for {}",
        "RejitProcessor::RejitCompilationStarted Unhandled exception when handling function id: {:x}, {}"};
    auto call = [&](ICorProfilerCallback9* target) {
        return target->ReJITCompilationStarted(functionId, rejitId, fIsSafeToBlock);
    };
    return Notify(started, functionId, std::ref(call));
}

HRESULT RejitProcessor::ReJITCompilationFinished(FunctionID functionId, ReJITID rejitId, HRESULT hrStatus,
                                                 BOOL fIsSafeToBlock) const {
    static const Notification finished{
        FunctionName::ReJITCompilationFinished,
        false,
        "RejitProcessor::ReJITCompilationFinished, Skipping profiler: {} for functionId {:x} it is not "
        "part of IL chain for {}",
        true,
        "RejitProcessor::ReJITCompilationFinished error when calling {} with function id: {:x}, {}",
        "RejitProcessor::ReJITCompilationFinished Unhandled exception when handling function id: {:x}, {}"};
    auto call = [&](ICorProfilerCallback9* target) {
        return target->ReJITCompilationFinished(functionId, rejitId, hrStatus, fIsSafeToBlock);
    };
    return Notify(finished, functionId, std::ref(call));
}

HRESULT RejitProcessor::ReJITError(ModuleID moduleId, mdMethodDef methodId, FunctionID functionId,
                                   HRESULT hrStatus) const {
    static const Notification error{
        FunctionName::ReJITError,
        false,
        "RejitProcessor::ReJITError, Skipping profiler: {} for functionId {:x} it is not part of IL chain "
        "for {}",
        true,
        "RejitProcessor::ReJITError error when calling {} with function id: {:x}, {}",
        "RejitProcessor::ReJITError Unhandled exception when handling function id: {:x}, {}"};
    auto call = [&](ICorProfilerCallback9* target) {
        return target->ReJITError(moduleId, methodId, functionId, hrStatus);
    };
    return Notify(error, functionId, std::ref(call));
}

HRESULT RejitProcessor::Notify(const Notification& notification, FunctionID functionId,
                               const TargetCall& call) const {
    HRESULT result = E_FAIL;
    std::vector<ITargetProfilerProxy*> inliners;
    {
        std::lock_guard<FastMutex> lock(_lock);
        inliners = _inlinerRequesters;
    }
    for (const auto& proxy : _targetProfilers) {
        try {
            if (SkipsNotification(notification, *proxy, functionId, inliners)) {
                continue;
            }
            const HRESULT hr = call(proxy->GetTargetProfiler());
            if (FAILED(hr)) {
                Error(notification.failureLine, proxy->GetName(), functionId, MethodName());
            }
            if (FAILED(result)) {
                result = hr;
            }
        } catch (...) {
            Error(notification.exceptionLine, functionId, MethodName());
            if (result == S_OK) {
                result = E_FAIL;
            }
        }
    }
    return result;
}

bool RejitProcessor::SkipsNotification(const Notification& notification, ITargetProfilerProxy& proxy,
                                       FunctionID functionId,
                                       const std::vector<ITargetProfilerProxy*>& inliners) const {
    const bool takesPart = proxy.HasNonEmptyILBlock(_moduleId, _methodDef) ||
                           std::find(inliners.begin(), inliners.end(), &proxy) != inliners.end();
    const bool skip = (notification.skipsCallOrderReverting && proxy.ShouldRevertRejitCallOrder()) ||
                      !takesPart || !proxy.SupportsCallback(notification.function);
    if (skip && IsDebugEnabled()) {
        if (notification.skipLineNamesFunction) {
            Debug(notification.skipLine, proxy.GetName(), functionId, MethodName());
        } else {
            Debug(notification.skipLine, proxy.GetName(), MethodName());
        }
    }
    return skip;
}

void RejitProcessor::DumpFunctionILBlocks(const char* title) const {
    if (!IsDebugEnabled()) {
        return;
    }
    try {
        Debug(BuildFunctionILBlocksDump(title));
    } catch (...) {
        Error("Dump target proxies function blocks,  Unhandled exception when dumping information for {}",
              MethodName());
    }
}

std::string RejitProcessor::BuildFunctionILBlocksDump(const char* title) const {
    const std::string stars(66, '*');
    std::string text = '\n' + stars + '\n';
    text.append("*").append(title).append(". Dump target proxies function blocks for: ").append(MethodName());
    text += '\n';
    for (const auto& proxy : _targetProfilers) {
        try {
            text.append("***  ").append(proxy->GetName()).append("   ***\n");
            const auto block = proxy->GetFunctionILBlock(_moduleId, _methodDef);
            if (!block) {
                text += "* No function IL Block exists.\n";
                continue;
            }
            const auto [body, size] = block->GetILFunctionBody();
            if (!body || size == 0) {
                text += "* An empty function IL Block exists\n";
            } else {
                text += fmt::format("* A function IL Block exits, address: {:x} size: {}\n",
                                    reinterpret_cast<uintptr_t>(body.get()), size);
            }
            text += block->IsRejitPending() ? "* A pending rejit flag exists\n"
                                            : "* No pending rejit flag exists\n";
            text.append(66, '-') += '\n';
        } catch (...) {
            Error("Dump target proxies function blocks,  Unhandled exception when dumping information for {}",
                  MethodName());
        }
    }
    text += stars + '\n';
    return text;
}

} // namespace profilermultiplexer
