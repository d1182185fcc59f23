// The ReJIT side of TargetProfilerProxy: the target's ReJIT and revert requests go to the multiplexer,
// which prepares the targets' IL blocks for them.
#include "hosting/TargetProfilerProxy.h"

#include "hosting/NoThrowEntry.h"
#include "ilchain/IFunctionILBlock.h"
#include "ilchain/IMetadataHelper.h"
#include "logging/Logging.h"

namespace profilermultiplexer {

HRESULT TargetProfilerProxy::CheckRejitAllowed(bool withCallback4) const noexcept {
    if (withCallback4 && !SupportsCallback(ProfilerCallbackFunctionFilter::LastOfCallback4)) {
        return CORPROF_E_CALLBACK4_REQUIRED;
    }
    if ((_eventMaskLow.load(std::memory_order_relaxed) & COR_PRF_ENABLE_REJIT) == 0) {
        Error("Profiler {} is asking for rejit but it's event mask is masking this request", GetName());
        return CORPROF_E_REJIT_NOT_ENABLED;
    }
    return S_OK;
}

HRESULT TargetProfilerProxy::RequestReJIT(ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds) {
    return NoThrowEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::debug)) {
            Debug("{} calls to targetProfilerProxy::RequestReJITOrRevert with {:d} functions", GetName(),
                  cFunctions);
        }
        if (const HRESULT allowed = CheckRejitAllowed(true); FAILED(allowed)) {
            return allowed;
        }
        if (cFunctions != 0 && (moduleIds == nullptr || methodIds == nullptr)) {
            return E_INVALIDARG;
        }
        return _pProfilerMultiplexer->RequestReJITOrRevert(this, cFunctions, moduleIds, methodIds,
                                                           std::nullopt, false);
    });
}

HRESULT TargetProfilerProxy::RequestReJITWithInliners(DWORD dwRejitFlags, ULONG cFunctions,
                                                      ModuleID* moduleIds, mdMethodDef* methodIds) {
    return NoThrowEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("{} calls to targetProfilerProxy::RequestReJITWithInliners with {:d} functions", GetName(),
                  cFunctions);
        }
        if (const HRESULT allowed = CheckRejitAllowed(true); FAILED(allowed)) {
            return allowed;
        }
        if (cFunctions != 0 && (moduleIds == nullptr || methodIds == nullptr)) {
            return E_INVALIDARG;
        }
        return _pProfilerMultiplexer->RequestReJITOrRevert(this, cFunctions, moduleIds, methodIds,
                                                           dwRejitFlags, false);
    });
}

HRESULT TargetProfilerProxy::RequestRevert(ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds,
                                           HRESULT* status) {
    return NoThrowEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("{} calls to targetProfilerProxy::RequestRevert", GetName());
        }
        if (const HRESULT allowed = CheckRejitAllowed(false); FAILED(allowed)) {
            return allowed;
        }
        if (moduleIds == nullptr || methodIds == nullptr) {
            Error("{} calls to targetProfilerProxy::RequestRevert, moduleIds or methodIds is null",
                  GetName());
            return E_INVALIDARG;
        }
        // Only a method the target holds a block for, empty or not, can be reverted for it.
        auto revertStatus = [this](ModuleID moduleId, mdMethodDef methodDef) {
            std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
            const bool found = LookUpBlock(moduleId, methodDef) != nullptr;
            if (found && IsLogLevelEnabled(spdlog::level::debug)) {
                Debug("{} calls to targetProfilerProxy::RequestRevert going to revert function:{}", GetName(),
                      _metadataHelper->GetMethodName(moduleId, methodDef));
            } else if (!found && IsLogLevelEnabled(spdlog::level::debug)) {
                Debug("{} calls to targetProfilerProxy::RequestRevert function:{} was not rejitted and "
                      "can't be reverted.",
                      GetName(), _metadataHelper->GetMethodName(moduleId, methodDef));
            }
            return found ? S_OK : CORPROF_E_ACTIVE_REJIT_REQUEST_NOT_FOUND;
        };
        for (ULONG index = 0; index < cFunctions; ++index) {
            const HRESULT methodStatus = revertStatus(moduleIds[index], methodIds[index]);
            if (status != nullptr) {
                status[index] = methodStatus;
            }
        }
        return _pProfilerMultiplexer->RequestReJITOrRevert(this, cFunctions, moduleIds, methodIds,
                                                           std::nullopt, true);
    });
}

void TargetProfilerProxy::RequestRejit(ModuleID moduleId, mdMethodDef methodDef, bool createIfMissing) {
    std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
    const auto* block = LookUpBlock(moduleId, methodDef);
    if (block != nullptr && (*block)->HasNonEmptyILBlock()) {
        if (IsLogLevelEnabled(spdlog::level::debug)) {
            Debug("Asking {} to be ready to rejit {}", GetName(),
                  _metadataHelper->GetMethodName(moduleId, methodDef));
        }
        (*block)->ClearILFunctionBody();
        (*block)->RequestRejit();
        return;
    }
    if (createIfMissing) {
        CreateFunctionILBlock(moduleId, methodDef)->RequestRejit();
    }
}

void TargetProfilerProxy::RemoveFunctionILBlock(ModuleID moduleId, mdMethodDef methodDef) {
    std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{} calls to targetProfilerProxy::RemoveFunctionILBlock with {}", GetName(),
              _metadataHelper->GetMethodName(moduleId, methodDef));
    }
    if (LookUpBlock(moduleId, methodDef) == nullptr) {
        return;
    }
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug("{}, targetProfilerProxy::RemoveFunctionILBlock with {}, removing the ILBlock from the map",
              GetName(), _metadataHelper->GetMethodName(moduleId, methodDef));
    }
    _functionILBlocks.Erase(moduleId, methodDef);
    _lastBlockLookup.valid = false;
}

} // namespace profilermultiplexer
