// The ReJIT side of TargetProfilerProxy: the target's ReJIT and revert requests.
// TEMPORARY: forwards to the runtime until ReJIT coordination lands.
#include "hosting/TargetProfilerProxy.h"

namespace profilermultiplexer {

HRESULT TargetProfilerProxy::RequestReJIT(ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds) {
    return _pCorProfilerInfo->RequestReJIT(cFunctions, moduleIds, methodIds);
}

HRESULT TargetProfilerProxy::RequestRevert(ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds,
                                           HRESULT* status) {
    return _pCorProfilerInfo->RequestRevert(cFunctions, moduleIds, methodIds, status);
}

HRESULT TargetProfilerProxy::RequestReJITWithInliners(DWORD dwRejitFlags, ULONG cFunctions,
                                                      ModuleID* moduleIds, mdMethodDef* methodIds) {
    return _pCorProfilerInfo->RequestReJITWithInliners(dwRejitFlags, cFunctions, moduleIds, methodIds);
}

void TargetProfilerProxy::RequestRejit(ModuleID /*moduleId*/, mdMethodDef /*methodDef*/,
                                       bool /*createIfMissing*/) {}

void TargetProfilerProxy::RemoveFunctionILBlock(ModuleID /*moduleId*/, mdMethodDef /*methodDef*/) {}

} // namespace profilermultiplexer
