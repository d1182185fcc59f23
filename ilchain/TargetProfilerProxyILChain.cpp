// The IL side of TargetProfilerProxy: IL bodies, the IL-body allocator and the IL-block map.
#include "hosting/TargetProfilerProxy.h"

#include "hosting/NoThrowEntry.h"
#include "ilchain/IFunctionILBlock.h"
#include "ilchain/IMetadataHelper.h"
#include "ilchain/MethodHeader.h"
#include "logging/Logging.h"

#include <cstring>
#include <memory>

namespace profilermultiplexer {

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
        body = KeepHandedOutIL(moduleId, methodId, std::move(body), size);
        if (ppMethodHeader != nullptr) {
            *ppMethodHeader = body.get();
        }
        if (pcbMethodSize != nullptr) {
            *pcbMethodSize = size;
        }
        return hr;
    });
}

std::shared_ptr<unsigned char[]> TargetProfilerProxy::KeepHandedOutIL(ModuleID moduleId,
                                                                      mdMethodDef methodDef,
                                                                      std::shared_ptr<unsigned char[]> body,
                                                                      ULONG size) {
    // Memory the runtime keeps needs no keeping.
    if (!body || IFunctionILBlock::IsRuntimeKeptIL(body)) {
        return body;
    }
    std::lock_guard<FastMutex> lock(_handedOutILLock);
    auto& kept = _handedOutIL.FindOrAdd(moduleId, methodDef);
    for (const HandedOutIL& earlier : kept) {
        if (earlier.body == body ||
            (earlier.size == size && std::memcmp(earlier.body.get(), body.get(), size) == 0)) {
            return earlier.body;
        }
    }
    kept.push_back({body, size});
    return body;
}

std::size_t TargetProfilerProxy::HandedOutILCount() {
    std::lock_guard<FastMutex> lock(_handedOutILLock);
    std::size_t count = 0;
    _handedOutIL.ForEach([&count](ModuleID, mdMethodDef, const auto& kept) { count += kept.size(); });
    return count;
}

void TargetProfilerProxy::DropModule(ModuleID moduleId) noexcept {
    NoThrowEntry([&] {
        {
            std::lock_guard<FastRecursiveMutex> lock(_ilBlocksLock);
            _functionILBlocks.EraseModule(moduleId);
            _lastBlockLookup.valid = false;
        }
        std::lock_guard<FastMutex> lock(_handedOutILLock);
        _handedOutIL.EraseModule(moduleId);
        return S_OK;
    });
}

HRESULT TargetProfilerProxy::GetILFunctionBodyAllocator(ModuleID moduleId, IMethodMalloc** ppMalloc) {
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug("GetILFunctionBodyAllocator was called for module id: {:x}", moduleId);
    }
    if (ppMalloc == nullptr) {
        return E_INVALIDARG;
    }
    const HRESULT hr = _pProfilerMultiplexer->PrepareILBodyAllocator(_pCorProfilerInfo, moduleId);
    if (FAILED(hr)) {
        return hr;
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
        const ULONG allocated = _pProfilerMultiplexer->TakeAllocationSize(pbNewILMethodHeader);
        // The body's own length, as the runtime reads it, not the allocation's.
        const ULONG size = allocated != 0 ? MethodBodySizeWithin(pbNewILMethodHeader, allocated)
                                          : DetermineSizeFromIL(pbNewILMethodHeader);
        if (allocated == 0 && IsLogLevelEnabled(spdlog::level::info)) {
            Info("IL size of {} is {} taken from its IL header",
                 _metadataHelper->GetMethodName(moduleId, methodid), size);
        }
        const auto* found = LookUpBlock(moduleId, methodid);
        const bool hadBlock = found != nullptr;
        const auto block = hadBlock ? *found : CreateFunctionILBlock(moduleId, methodid);
        // A piece of the runtime's allocator stays as it is for the process's life: the block refers to it
        // and the runtime gets it as it is. Other memory is copied: the target may free it.
        HRESULT result =
            allocated != 0 && size != 0
                ? block->SetILFunctionBody(size, IFunctionILBlock::RuntimeKeptIL(pbNewILMethodHeader))
                : block->SetILFunctionBody(size, pbNewILMethodHeader);
        if (SUCCEEDED(result)) {
            result = hadBlock && size == 0 ? E_FAIL : S_OK;
            _pProfilerMultiplexer->SetFunctionILIfNewFunction(block, moduleId, methodid);
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
