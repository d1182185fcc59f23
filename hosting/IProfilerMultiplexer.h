// The multiplexer's own interface, through which proxies and ReJIT processors call back into it.
// Not reachable through QueryInterface.
#pragma once

#include "platform/CorProfilerCallback.h"
#include "platform/CorProfilerTypes.h"

#include <memory>
#include <optional>

namespace profilermultiplexer {

class IFunctionILBlock;
class IMetadataHelper;
class ITargetProfilerProxy;

class IProfilerMultiplexer : public ICorProfilerCallback9 {
public:
    // The IL-body allocator shared by every proxy.
    virtual PVOID Alloc(ULONG size) = 0;
    // 0 for an address that Alloc did not hand out.
    virtual ULONG GetAllocationSize(const BYTE* block) const = 0;
    virtual void FreeAllocation(const BYTE* block) = 0;
    // Sets the union of the targets' masks on the runtime.
    virtual void UpdateEventMask() = 0;
    virtual std::shared_ptr<IMetadataHelper> GetMetadataHelper() const = 0;
    virtual HRESULT RequestReJITOrRevert(ITargetProfilerProxy* requester, ULONG count, ModuleID* moduleIds,
                                         mdMethodDef* methodIds, std::optional<DWORD> rejitFlags,
                                         bool revert) = 0;
    // The IL that the chain offers the asking target for the method.
    virtual HRESULT GetILFunctionBodyForProxy(ITargetProfilerProxy* proxy, ModuleID moduleId,
                                              mdMethodDef methodDef, std::shared_ptr<BYTE[]>* body,
                                              ULONG* size) = 0;
    virtual HRESULT RevertFromRejit(ModuleID moduleId, mdMethodDef methodDef) = 0;
    // Queues memory from Alloc for release after the next JITCompilationFinished.
    virtual void AddPendingDeallocation(const BYTE* block) = 0;
    // Gives the block's IL to the runtime at once when the method was never announced.
    virtual void SetFunctionILIfNewFunction(const std::shared_ptr<IFunctionILBlock>& block, ModuleID moduleId,
                                            mdMethodDef methodDef) = 0;
    // The runtime holds one target's enter/leave hooks: the first in list order that keeps them. Gives the
    // name of that target when it is another than the given one, else null; with claim and no such target,
    // the given one becomes it.
    virtual const char* ClaimEnterLeaveHooks(const ITargetProfilerProxy* proxy, bool claim) = 0;
    virtual ~IProfilerMultiplexer() = default;
};

} // namespace profilermultiplexer
