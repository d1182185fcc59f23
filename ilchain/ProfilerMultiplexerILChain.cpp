// The IL chain of ProfilerMultiplexer: JIT callbacks, the IL-body allocator and IL application.
// TEMPORARY: plain fan-out of the JIT callbacks and empty IL operations until the IL chain lands.
#include "hosting/ProfilerMultiplexer.h"

#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IFunctionILBlock.h"
#include "logging/Logging.h"

#include <memory>
#include <mutex>

namespace profilermultiplexer {

HRESULT ProfilerMultiplexer::JITCompilationStarted(FunctionID functionId, BOOL fIsSafeToBlock) {
    return RuntimeEntry([&] {
        auto call = [&](ICorProfilerCallback9* target) {
            return target->JITCompilationStarted(functionId, fIsSafeToBlock);
        };
        return ForAllTargetProfilers(FunctionName::JITCompilationStarted, std::ref(call));
    });
}

HRESULT ProfilerMultiplexer::JITCompilationFinished(FunctionID functionId, HRESULT hrStatus,
                                                    BOOL fIsSafeToBlock) {
    return RuntimeEntry([&] {
        auto call = [&](ICorProfilerCallback9* target) {
            return target->JITCompilationFinished(functionId, hrStatus, fIsSafeToBlock);
        };
        return ForAllTargetProfilers(FunctionName::JITCompilationFinished, std::ref(call));
    });
}

PVOID ProfilerMultiplexer::Alloc(ULONG size) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("Alloc with size: {:d}", size);
    }
    try {
        std::lock_guard<std::recursive_mutex> lock(_allocationLock);
        // Never empty: a header read from an empty piece stays inside it and finds no method.
        std::unique_ptr<BYTE[]> memory(size == 0 ? new BYTE[1]() : new BYTE[size]);
        _allocations.emplace(memory.get(), size);
        _totalAllocatedBytes += size;
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("Alloc with size: {:d} in address {:p}  Total allocated memory: {} bytes", size,
                  static_cast<const void*>(memory.get()), _totalAllocatedBytes);
        }
        return memory.release();
    } catch (...) {
        Error("ProfilerMultiplexer::Alloc, could not allocate {:d} bytes", size);
        return nullptr;
    }
}

ULONG ProfilerMultiplexer::GetAllocationSize(const BYTE* block) const {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("GetAllocationSize for address {:p}", static_cast<const void*>(block));
    }
    std::lock_guard<std::recursive_mutex> lock(_allocationLock);
    const auto found = _allocations.find(block);
    if (found == _allocations.end()) {
        Error("Can't find allocation size for: {:p}", static_cast<const void*>(block));
        return 0;
    }
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("GetAllocationSize for address {:p} returns: {:d}", static_cast<const void*>(block),
              found->second);
    }
    return found->second;
}

void ProfilerMultiplexer::FreeAllocation(const BYTE* block) {
    std::lock_guard<std::recursive_mutex> lock(_allocationLock);
    const auto found = _allocations.find(block);
    if (found == _allocations.end()) {
        if (IsLogLevelEnabled(spdlog::level::info)) {
            Info("ProfilerMultiplexer::FreeAllocation: Can't find allocation for: {:p}",
                 static_cast<const void*>(block));
        }
        return;
    }
    _totalAllocatedBytes -= found->second;
    _allocations.erase(found);
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("FreeAllocation for address {:p}  Remained allocated memory: {} bytes",
              static_cast<const void*>(block), _totalAllocatedBytes);
    }
    delete[] block;
}

void ProfilerMultiplexer::AddPendingDeallocation(const BYTE* block) {
    try {
        std::lock_guard<std::recursive_mutex> lock(_allocationLock);
        _pendingDeallocations.push_back(block);
    } catch (...) {
        // Stays recorded: released with the multiplexer.
        Error("ProfilerMultiplexer::AddPendingDeallocation, could not queue {:p}",
              static_cast<const void*>(block));
    }
}

void ProfilerMultiplexer::FreePendingDeallocation() {
    std::lock_guard<std::recursive_mutex> lock(_allocationLock);
    while (!_pendingDeallocations.empty()) {
        FreeAllocation(_pendingDeallocations.back());
        _pendingDeallocations.pop_back();
    }
}

void ProfilerMultiplexer::ReleaseAllAllocations() noexcept {
    for (const auto& [block, size] : _allocations) {
        delete[] block;
    }
    _allocations.clear();
    _pendingDeallocations.clear();
    _totalAllocatedBytes = 0;
}

HRESULT ProfilerMultiplexer::GetILFunctionBodyForProxy(ITargetProfilerProxy* /*proxy*/, ModuleID /*moduleId*/,
                                                       mdMethodDef /*methodDef*/,
                                                       std::shared_ptr<BYTE[]>* /*body*/, ULONG* /*size*/) {
    return E_NOTIMPL;
}

void ProfilerMultiplexer::SetFunctionILIfNewFunction(const std::shared_ptr<IFunctionILBlock>& /*block*/,
                                                     ModuleID /*moduleId*/, mdMethodDef /*methodDef*/) {}

HRESULT ProfilerMultiplexer::SetILFunctionBody(const std::shared_ptr<IFunctionILBlock>& /*block*/,
                                               ModuleID /*moduleId*/, mdMethodDef /*methodDef*/) {
    return E_NOTIMPL;
}

void ProfilerMultiplexer::ClearMethodILBlocksAfterJitCompilation(ModuleID /*moduleId*/,
                                                                 mdMethodDef /*methodDef*/) {}

} // namespace profilermultiplexer
