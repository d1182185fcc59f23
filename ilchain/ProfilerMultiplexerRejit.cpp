// ReJIT coordination of ProfilerMultiplexer: the runtime's ReJIT callbacks and the targets' requests.
// TEMPORARY: answers S_OK and does nothing until ReJIT coordination lands.
#include "hosting/ProfilerMultiplexer.h"

#include "hosting/TargetProfilerProxy.h"

namespace profilermultiplexer {

HRESULT ProfilerMultiplexer::GetReJITParameters(ModuleID /*moduleId*/, mdMethodDef /*methodId*/,
                                                ICorProfilerFunctionControl* /*pFunctionControl*/) {
    return S_OK;
}

HRESULT ProfilerMultiplexer::ReJITCompilationStarted(FunctionID /*functionId*/, ReJITID /*rejitId*/,
                                                     BOOL /*fIsSafeToBlock*/) {
    return S_OK;
}

HRESULT ProfilerMultiplexer::ReJITCompilationFinished(FunctionID /*functionId*/, ReJITID /*rejitId*/,
                                                      HRESULT /*hrStatus*/, BOOL /*fIsSafeToBlock*/) {
    return S_OK;
}

HRESULT ProfilerMultiplexer::ReJITError(ModuleID /*moduleId*/, mdMethodDef /*methodId*/,
                                        FunctionID /*functionId*/, HRESULT /*hrStatus*/) {
    return S_OK;
}

HRESULT ProfilerMultiplexer::RequestReJITOrRevert(ITargetProfilerProxy* /*requester*/, ULONG /*count*/,
                                                  ModuleID* /*moduleIds*/, mdMethodDef* /*methodIds*/,
                                                  std::optional<DWORD> /*rejitFlags*/, bool /*revert*/) {
    return E_NOTIMPL;
}

HRESULT ProfilerMultiplexer::RevertFromRejit(ModuleID /*moduleId*/, mdMethodDef /*methodDef*/) {
    return E_NOTIMPL;
}

void ProfilerMultiplexer::AssignTargetProfilersForRejit(
    ITargetProfilerProxy* /*requester*/, ModuleID /*moduleId*/, mdMethodDef /*methodDef*/, bool /*revert*/,
    const std::shared_ptr<RejitProcessor>& /*processor*/) {}

bool ProfilerMultiplexer::HasProfilerRegisteredForRejit(TargetProfilerProxy* /*proxy*/) const {
    return false;
}

void ProfilerMultiplexer::RestartPendingRejitRequests() {}

} // namespace profilermultiplexer
