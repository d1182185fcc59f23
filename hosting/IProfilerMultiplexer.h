// The multiplexer's own interface, through which proxies and ReJIT processors call back into it.
// Not reachable through QueryInterface.
#pragma once

#include "platform/CorProfilerCallback.h"
#include "platform/CorProfilerInfo.h"
#include "platform/CorProfilerTypes.h"

#include <memory>
#include <optional>

namespace profilermultiplexer {

class IFunctionILBlock;
class IMetadataHelper;
class ITargetProfilerProxy;
class TargetProfilerProxy;

class IProfilerMultiplexer : public ICorProfilerCallback9 {
public:
    // Fetches the runtime's IL-body allocator once (the runtime has one for the process) from its info
    // object through the module; the runtime's error when it gives none.
    virtual HRESULT PrepareILBodyAllocator(ICorProfilerInfo10* info, ModuleID moduleId) = 0;
    // The IL-body allocator shared by every proxy: the runtime's memory, which it never frees, recorded
    // with its size until it is set as a method's IL. Null before PrepareILBodyAllocator succeeded.
    virtual PVOID Alloc(ULONG size) = 0;
    // The size of a piece from Alloc not yet set as IL, which is then forgotten; 0 for other memory.
    virtual ULONG TakeAllocationSize(const BYTE* block) = 0;
    // Sets the union of the targets' masks on the runtime.
    virtual void UpdateEventMask() = 0;
    // Once the targets are initialised: caches the target's new mask and sets the new union on the runtime,
    // in the order of other mask changes; when the runtime refuses the union, the target's old mask is cached
    // again and the runtime's answer returned. Empty before: the caller caches the mask as during
    // initialisation.
    virtual std::optional<HRESULT> ChangeEventMaskAfterInitialization(TargetProfilerProxy& proxy, DWORD low,
                                                                      DWORD high) = 0;
    virtual std::shared_ptr<IMetadataHelper> GetMetadataHelper() const = 0;
    virtual HRESULT RequestReJITOrRevert(ITargetProfilerProxy* requester, ULONG count, ModuleID* moduleIds,
                                         mdMethodDef* methodIds, std::optional<DWORD> rejitFlags,
                                         bool revert) = 0;
    // The IL that the chain offers the asking target for the method.
    virtual HRESULT GetILFunctionBodyForProxy(ITargetProfilerProxy* proxy, ModuleID moduleId,
                                              mdMethodDef methodDef, std::shared_ptr<BYTE[]>* body,
                                              ULONG* size) = 0;
    // A map the runtime accepted from the target: kept while the function's JITCompilationStarted runs on
    // this thread, for the maps of the chain composed after it.
    virtual void KeepILInstrumentedCodeMap(ITargetProfilerProxy* proxy, FunctionID functionId, ULONG count,
                                           const COR_IL_MAP* entries) noexcept = 0;
    virtual HRESULT RevertFromRejit(ModuleID moduleId, mdMethodDef methodDef) = 0;
    // Gives the block's IL to the runtime at once when the method was never announced.
    virtual void SetFunctionILIfNewFunction(const std::shared_ptr<IFunctionILBlock>& block, ModuleID moduleId,
                                            mdMethodDef methodDef) = 0;
    // Whether a target other than the proxy's is served: its Initialize succeeded, or, while the targets are
    // being initialised, it may still.
    virtual bool ServesOtherTargets(const ITargetProfilerProxy* proxy) const noexcept = 0;
    // The runtime holds one target's enter/leave hooks: the first in list order that keeps them. Gives the
    // name of that target when it is another than the given one, else null; with claim and no such target,
    // the given one becomes it.
    virtual const char* ClaimEnterLeaveHooks(const ITargetProfilerProxy* proxy, bool claim) = 0;
    virtual ~IProfilerMultiplexer() = default;
};

} // namespace profilermultiplexer
