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
    // Keeps memory from Alloc that a target set as the IL of a method of the module until the module
    // unloads, as the runtime keeps the IL it is given: the target may still read it.
    virtual void AddPendingDeallocation(ModuleID moduleId, const BYTE* block) = 0;
    // Gives the block's IL to the runtime at once when the method was never announced.
    virtual void SetFunctionILIfNewFunction(const std::shared_ptr<IFunctionILBlock>& block, ModuleID moduleId,
                                            mdMethodDef methodDef) = 0;
    // Before a target sets enter/leave hooks with the given mask of its own: while the targets are being
    // initialised, sets the union of the masks cached so far on the runtime, which checks its flags.
    virtual void UpdateEventMaskBeforeHooks(DWORD targetLow, DWORD targetHigh) = 0;
    virtual ~IProfilerMultiplexer() = default;
};

} // namespace profilermultiplexer
