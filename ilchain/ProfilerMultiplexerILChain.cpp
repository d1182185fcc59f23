// The IL chain of ProfilerMultiplexer: JIT callbacks, the IL-body allocator and IL application.
// TEMPORARY: plain fan-out and empty operations until the IL chain lands.
#include "hosting/ProfilerMultiplexer.h"

#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IFunctionILBlock.h"

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

PVOID ProfilerMultiplexer::Alloc(ULONG /*size*/) {
    return nullptr;
}

ULONG ProfilerMultiplexer::GetAllocationSize(const BYTE* /*block*/) const {
    return 0;
}

void ProfilerMultiplexer::FreeAllocation(const BYTE* /*block*/) {}

void ProfilerMultiplexer::AddPendingDeallocation(const BYTE* /*block*/) {}

void ProfilerMultiplexer::FreePendingDeallocation() {}

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
