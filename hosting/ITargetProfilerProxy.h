// The multiplexer's view of one target's proxy.
#pragma once

#include "hosting/ProfilerCallbackFunctionFilter.h"
#include "platform/CorProfilerCallback.h"
#include "platform/CorProfilerTypes.h"

#include <memory>

namespace profilermultiplexer {

class IFunctionILBlock;

class ITargetProfilerProxy {
public:
    virtual ICorProfilerCallback9* GetTargetProfiler() const = 0;
    // UTF-8, valid as long as the proxy.
    virtual const char* GetName() const = 0;
    virtual double GetPriority() const = 0;
    // Marks the target's block for the method as taking part in the next ReJIT.
    virtual void RequestRejit(ModuleID moduleId, mdMethodDef methodDef, bool createIfMissing) = 0;
    virtual bool HasNonEmptyILBlock(ModuleID moduleId, mdMethodDef methodDef) const = 0;
    virtual void RemoveFunctionILBlock(ModuleID moduleId, mdMethodDef methodDef) = 0;
    virtual bool ShouldRevertRejitCallOrder() const = 0;
    // Empty when the target has no block for the method.
    virtual std::shared_ptr<IFunctionILBlock> GetFunctionILBlock(ModuleID moduleId,
                                                                 mdMethodDef methodDef) = 0;
    // The block when it holds IL, else empty.
    virtual std::shared_ptr<IFunctionILBlock> GetNonEmptyILBlock(ModuleID moduleId,
                                                                 mdMethodDef methodDef) = 0;
    // False for a callback beyond the newest callback interface that the target's object answers.
    virtual bool SupportsCallback(ProfilerCallbackFunctionFilter::FunctionName function) const noexcept = 0;
    // Drops the blocks of the module's methods and the IL handed out for them: the module has unloaded.
    virtual void DropModule(ModuleID moduleId) noexcept = 0;
    virtual ~ITargetProfilerProxy() = default;
};

} // namespace profilermultiplexer
