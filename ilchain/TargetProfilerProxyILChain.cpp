// The IL side of TargetProfilerProxy: IL bodies, the IL-body allocator face and the IL-block map.
// TEMPORARY: IL bodies and the allocator face forward to the runtime until the IL chain lands.
#include "hosting/TargetProfilerProxy.h"

#include "ilchain/IFunctionILBlock.h"
#include "ilchain/IMetadataHelper.h"
#include "logging/Logging.h"

namespace profilermultiplexer {

namespace {

// The method's block in a block map, or an empty pointer; adds no entry.
template <class BlockMap>
std::shared_ptr<IFunctionILBlock> FindBlock(const BlockMap& blocks, ModuleID moduleId,
                                            mdMethodDef methodDef) {
    const auto module = blocks.find(moduleId);
    if (module == blocks.end()) {
        return {};
    }
    const auto method = module->second.find(methodDef);
    return method == module->second.end() ? nullptr : method->second;
}

} // namespace

HRESULT TargetProfilerProxy::GetILFunctionBody(ModuleID moduleId, mdMethodDef methodId,
                                               LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize) {
    return _pCorProfilerInfo->GetILFunctionBody(moduleId, methodId, ppMethodHeader, pcbMethodSize);
}

HRESULT TargetProfilerProxy::GetILFunctionBodyAllocator(ModuleID moduleId, IMethodMalloc** ppMalloc) {
    if (IsLogLevelEnabled(spdlog::level::debug)) {
        Debug("GetILFunctionBodyAllocator was called for module id: {:x}", moduleId);
    }
    if (ppMalloc == nullptr) {
        return E_INVALIDARG;
    }
    *ppMalloc = this;
    AddRef();
    return S_OK;
}

HRESULT TargetProfilerProxy::SetILFunctionBody(ModuleID moduleId, mdMethodDef methodid,
                                               LPCBYTE pbNewILMethodHeader) {
    return _pCorProfilerInfo->SetILFunctionBody(moduleId, methodid, pbNewILMethodHeader);
}

PVOID TargetProfilerProxy::Alloc(ULONG cb) {
    return _pProfilerMultiplexer->Alloc(cb);
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
    auto block = IFunctionILBlock::CreateFunctionILBlock(
        moduleId, methodDef, GetName(), _metadataHelper->GetMethodName(moduleId, methodDef), fetchFromChain);
    std::lock_guard<std::recursive_mutex> lock(_ilBlocksLock);
    _functionILBlocks[moduleId][methodDef] = block;
    return block;
}

bool TargetProfilerProxy::HasNonEmptyILBlock(ModuleID moduleId, mdMethodDef methodDef) const {
    std::lock_guard<std::recursive_mutex> lock(_ilBlocksLock);
    const auto block = FindBlock(_functionILBlocks, moduleId, methodDef);
    return block && block->HasNonEmptyILBlock();
}

std::shared_ptr<IFunctionILBlock> TargetProfilerProxy::GetFunctionILBlock(ModuleID moduleId,
                                                                          mdMethodDef methodDef) {
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("{}, targetProfilerProxy::GetFunctionILBlock for {}", GetName(),
              _metadataHelper->GetMethodName(moduleId, methodDef));
    }
    std::lock_guard<std::recursive_mutex> lock(_ilBlocksLock);
    return FindBlock(_functionILBlocks, moduleId, methodDef);
}

ULONG TargetProfilerProxy::DetermineSizeFromIL(const unsigned char* /*pILMethod*/) {
    return 0;
}

} // namespace profilermultiplexer
