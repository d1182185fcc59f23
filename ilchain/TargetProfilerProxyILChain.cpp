// The IL side of TargetProfilerProxy: IL bodies, the IL-body allocator and the IL-block map.
#include "hosting/TargetProfilerProxy.h"

#include "hosting/NoThrowEntry.h"
#include "ilchain/IFunctionILBlock.h"
#include "ilchain/IMetadataHelper.h"
#include "ilchain/MethodHeader.h"
#include "logging/Logging.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace profilermultiplexer {

namespace {

// Slots of the set of handed-out IL addresses when it is first made.
constexpr std::size_t FirstHandedOutILSlots = 64;

// The set of handed-out IL addresses is at most three quarters full.
bool HandedOutILSlotsTooFew(std::size_t kept, std::size_t slots) {
    return 4 * kept > 3 * slots;
}

} // namespace

HRESULT TargetProfilerProxy::GetILFunctionBody(ModuleID moduleId, mdMethodDef methodId,
                                               LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize) {
    return NoThrowEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("{}, targetProfilerProxy::GetILFunctionBody for {}", GetName(),
                  _metadataHelper->GetMethodName(moduleId, methodId));
        }
        std::shared_ptr<unsigned char[]> body;
        ULONG size = 0;
        HRESULT hr = S_OK;
        bool hasBlock = false;
        {
            std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
            if (const auto* block = LookUpBlock(moduleId, methodId)) {
                hasBlock = true;
                hr = (*block)->GetOrFetchILFunctionBody(&body, &size);
            }
        }
        if (!hasBlock) {
            // No block of its own: the IL of an earlier target's block or of the IL cache.
            hr = _pProfilerMultiplexer->GetILFunctionBodyForProxy(this, moduleId, methodId, &body, &size);
            if (FAILED(hr)) {
                Error("TargetProfilerProxy::GetILFunctionBody Error GetILFunctionBodyForProxy, hr = {:x}",
                      hr);
            }
        }
        if (FAILED(hr)) {
            return hr;
        }
        KeepHandedOutIL(moduleId, body);
        if (ppMethodHeader != nullptr) {
            *ppMethodHeader = body.get();
        }
        if (pcbMethodSize != nullptr) {
            *pcbMethodSize = size;
        }
        return hr;
    });
}

void TargetProfilerProxy::KeepHandedOutIL(ModuleID moduleId, const std::shared_ptr<unsigned char[]>& body) {
    if (!body) {
        return;
    }
    std::lock_guard<FastMutex> lock(_handedOutILLock);
    if (!_handedOutILSlots.empty() && _handedOutILSlots[HandedOutILSlot(body.get())] != nullptr) {
        return;
    }
    _handedOutIL.emplace_back(moduleId, body);
    if (HandedOutILSlotsTooFew(_handedOutIL.size(), _handedOutILSlots.size())) {
        // Twice the slots, refilled; should that fail, the buffer stays kept, only found no more.
        RefillHandedOutILSlots(
            std::vector<const unsigned char*>(std::max(FirstHandedOutILSlots, 2 * _handedOutILSlots.size())));
        return;
    }
    _handedOutILSlots[HandedOutILSlot(body.get())] = body.get();
}

void TargetProfilerProxy::RefillHandedOutILSlots(std::vector<const unsigned char*>&& slots) noexcept {
    _handedOutILSlots.swap(slots);
    if (_handedOutILSlots.empty()) {
        return;
    }
    for (const auto& kept : _handedOutIL) {
        _handedOutILSlots[HandedOutILSlot(kept.second.get())] = kept.second.get();
    }
}

void TargetProfilerProxy::DropHandedOutIL(ModuleID moduleId) {
    std::lock_guard<FastMutex> lock(_handedOutILLock);
    const auto ofModule = [moduleId](const auto& kept) { return kept.first == moduleId; };
    const auto dropped =
        static_cast<std::size_t>(std::count_if(_handedOutIL.begin(), _handedOutIL.end(), ofModule));
    if (dropped == 0) {
        return;
    }
    const std::size_t remaining = _handedOutIL.size() - dropped;
    if (remaining == 0) {
        decltype(_handedOutIL)().swap(_handedOutIL);
        RefillHandedOutILSlots({});
        return;
    }
    std::size_t slotCount = FirstHandedOutILSlots;
    while (HandedOutILSlotsTooFew(remaining, slotCount)) {
        slotCount *= 2;
    }
    // The only allocation, before anything changes: the set never names a buffer let go.
    std::vector<const unsigned char*> slots(slotCount);
    _handedOutIL.erase(std::remove_if(_handedOutIL.begin(), _handedOutIL.end(), ofModule),
                       _handedOutIL.end());
    RefillHandedOutILSlots(std::move(slots));
}

void TargetProfilerProxy::DropModule(ModuleID moduleId) noexcept {
    NoThrowEntry([&] {
        {
            std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
            _functionILBlocks.EraseModule(moduleId);
            _lastBlockLookup.valid = false;
        }
        DropHandedOutIL(moduleId);
        return S_OK;
    });
}

std::size_t TargetProfilerProxy::HandedOutILSlot(const unsigned char* address) const noexcept {
    const std::size_t mask = _handedOutILSlots.size() - 1;
    // Heap addresses differ in their middle bits: multiplied, the high bits spread them over the slots.
    std::size_t slot = static_cast<std::size_t>(
        (reinterpret_cast<std::uintptr_t>(address) * UINT64_C(0x9E3779B97F4A7C15)) >> 32);
    while (_handedOutILSlots[slot & mask] != nullptr && _handedOutILSlots[slot & mask] != address) {
        ++slot;
    }
    return slot & mask;
}

HRESULT TargetProfilerProxy::GetILFunctionBodyAllocator(ModuleID moduleId, IMethodMalloc** ppMalloc) {
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug("GetILFunctionBodyAllocator was called for module id: {:x}", moduleId);
    }
    if (ppMalloc == nullptr) {
        return E_INVALIDARG;
    }
    *ppMalloc = &_ilBodyAllocator;
    AddRef();
    return S_OK;
}

HRESULT TargetProfilerProxy::SetILFunctionBody(ModuleID moduleId, mdMethodDef methodid,
                                               LPCBYTE pbNewILMethodHeader) {
    return NoThrowEntry([&] {
        if (IsLogLevelEnabled(spdlog::level::trace)) {
            Trace("{}, targetProfilerProxy::SetILFunctionBody for {}", GetName(),
                  _metadataHelper->GetMethodName(moduleId, methodid));
        }
        if (pbNewILMethodHeader == nullptr) {
            return E_INVALIDARG;
        }
        std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
        const ULONG allocated = _pProfilerMultiplexer->GetAllocationSize(pbNewILMethodHeader);
        const ULONG size = allocated != 0 ? allocated : DetermineSizeFromIL(pbNewILMethodHeader);
        if (allocated == 0 && IsLogLevelEnabled(spdlog::level::info)) {
            Info("IL size of {} is {} taken from its IL header",
                 _metadataHelper->GetMethodName(moduleId, methodid), size);
        }
        const auto* found = LookUpBlock(moduleId, methodid);
        const bool hadBlock = found != nullptr;
        const auto block = hadBlock ? *found : CreateFunctionILBlock(moduleId, methodid);
        HRESULT result = block->SetILFunctionBody(size, pbNewILMethodHeader);
        if (SUCCEEDED(result)) {
            result = hadBlock && size == 0 ? E_FAIL : S_OK;
            _pProfilerMultiplexer->SetFunctionILIfNewFunction(block, moduleId, methodid);
        }
        // Copied into the block by now: the target's memory from the allocator goes after the next JIT.
        if (allocated != 0) {
            _pProfilerMultiplexer->AddPendingDeallocation(pbNewILMethodHeader);
        }
        return result;
    });
}

HRESULT TargetProfilerProxy::SetILInstrumentedCodeMap(FunctionID functionId, BOOL fStartJit,
                                                      ULONG cILMapEntries, COR_IL_MAP* rgILMapEntries) {
    const HRESULT hr =
        _pCorProfilerInfo->SetILInstrumentedCodeMap(functionId, fStartJit, cILMapEntries, rgILMapEntries);
    // The runtime keeps one map per method: when several targets rewrite it, the chain's maps go composed.
    if (SUCCEEDED(hr) && cILMapEntries != 0 && rgILMapEntries != nullptr) {
        _pProfilerMultiplexer->KeepILInstrumentedCodeMap(this, functionId, cILMapEntries, rgILMapEntries);
    }
    return hr;
}

std::shared_ptr<IFunctionILBlock> TargetProfilerProxy::CreateFunctionILBlock(ModuleID moduleId,
                                                                             mdMethodDef methodDef) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{}, targetProfilerProxy::CreateFunctionILBlock for {}", GetName(),
              _metadataHelper->GetMethodName(moduleId, methodDef));
    }
    auto fetchFromChain = [this](ModuleID module, mdMethodDef method, std::shared_ptr<unsigned char[]>* body,
                                 ULONG* size) {
        return _pProfilerMultiplexer->GetILFunctionBodyForProxy(this, module, method, body, size);
    };
    auto block = IFunctionILBlock::CreateFunctionILBlock(moduleId, methodDef, GetName(),
                                                         _metadataHelper.get(), fetchFromChain);
    std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
    auto& entry = _functionILBlocks.FindOrAdd(moduleId, methodDef);
    entry = block;
    _lastBlockLookup = {moduleId, methodDef, &entry, true};
    return block;
}

const std::shared_ptr<IFunctionILBlock>* TargetProfilerProxy::LookUpBlock(ModuleID moduleId,
                                                                          mdMethodDef methodDef) const {
    BlockLookup& last = _lastBlockLookup;
    if (!last.valid || last.moduleId != moduleId || last.methodDef != methodDef) {
        last = {moduleId, methodDef, nullptr, true};
        last.entry = _functionILBlocks.Find(moduleId, methodDef);
    }
    return last.entry != nullptr && *last.entry ? last.entry : nullptr;
}

bool TargetProfilerProxy::HasNonEmptyILBlock(ModuleID moduleId, mdMethodDef methodDef) const {
    std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
    const auto* block = LookUpBlock(moduleId, methodDef);
    return block != nullptr && (*block)->HasNonEmptyILBlock();
}

std::shared_ptr<IFunctionILBlock> TargetProfilerProxy::GetFunctionILBlock(ModuleID moduleId,
                                                                          mdMethodDef methodDef) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{}, targetProfilerProxy::GetFunctionILBlock for {}", GetName(),
              _metadataHelper->GetMethodName(moduleId, methodDef));
    }
    std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
    const auto* block = LookUpBlock(moduleId, methodDef);
    return block != nullptr ? *block : nullptr;
}

std::shared_ptr<IFunctionILBlock> TargetProfilerProxy::GetNonEmptyILBlock(ModuleID moduleId,
                                                                          mdMethodDef methodDef) {
    std::shared_ptr<IFunctionILBlock> block;
    {
        std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
        const auto* found = LookUpBlock(moduleId, methodDef);
        if (found == nullptr || !(*found)->HasNonEmptyILBlock()) {
            return nullptr;
        }
        block = *found;
    }
    // The line of GetFunctionILBlock, which this lookup stands for.
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{}, targetProfilerProxy::GetFunctionILBlock for {}", GetName(),
              _metadataHelper->GetMethodName(moduleId, methodDef));
    }
    return block;
}

ULONG TargetProfilerProxy::DetermineSizeFromIL(const unsigned char* pILMethod) {
    return MethodBodySize(pILMethod);
}

} // namespace profilermultiplexer
