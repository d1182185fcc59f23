// The IL side of TargetProfilerProxy: IL bodies, the IL-body allocator face and the IL-block map.
// TEMPORARY: forwards to the runtime and keeps no blocks until the IL chain lands.
#include "hosting/TargetProfilerProxy.h"

#include "ilchain/IFunctionILBlock.h"

namespace profilermultiplexer {

HRESULT TargetProfilerProxy::GetILFunctionBody(ModuleID moduleId, mdMethodDef methodId,
                                               LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize) {
    return _pCorProfilerInfo->GetILFunctionBody(moduleId, methodId, ppMethodHeader, pcbMethodSize);
}

HRESULT TargetProfilerProxy::GetILFunctionBodyAllocator(ModuleID moduleId, IMethodMalloc** ppMalloc) {
    return _pCorProfilerInfo->GetILFunctionBodyAllocator(moduleId, ppMalloc);
}

HRESULT TargetProfilerProxy::SetILFunctionBody(ModuleID moduleId, mdMethodDef methodid,
                                               LPCBYTE pbNewILMethodHeader) {
    return _pCorProfilerInfo->SetILFunctionBody(moduleId, methodid, pbNewILMethodHeader);
}

PVOID TargetProfilerProxy::Alloc(ULONG cb) {
    return _pProfilerMultiplexer->Alloc(cb);
}

std::shared_ptr<IFunctionILBlock> TargetProfilerProxy::CreateFunctionILBlock(ModuleID /*moduleId*/,
                                                                             mdMethodDef /*methodDef*/) {
    return {};
}

bool TargetProfilerProxy::HasNonEmptyILBlock(ModuleID /*moduleId*/, mdMethodDef /*methodDef*/) const {
    return false;
}

std::shared_ptr<IFunctionILBlock> TargetProfilerProxy::GetFunctionILBlock(ModuleID /*moduleId*/,
                                                                          mdMethodDef /*methodDef*/) {
    return {};
}

ULONG TargetProfilerProxy::DetermineSizeFromIL(const unsigned char* /*pILMethod*/) {
    return 0;
}

} // namespace profilermultiplexer
