// Display names of methods for log text.
#pragma once

#include "platform/CorProfilerTypes.h"

#include <string>

namespace profilermultiplexer {

class IMetadataHelper {
public:
    virtual ~IMetadataHelper() = default;

    // "[module] Type::Method", or "(moduleId: 0x..,methodId: 0x..)" when the metadata cannot tell. A
    // copy: the module may unload on another thread while the caller still uses it.
    virtual std::string GetMethodName(ModuleID moduleId, mdMethodDef methodDef) noexcept = 0;

    // Forgets the module's names and releases its metadata: the module has unloaded. Until a module takes
    // the id, its methods get fallback names without a word to the runtime, which may have freed it.
    virtual void DropModule(ModuleID moduleId) noexcept = 0;
    // A module takes the id of one dropped: its names are read from the runtime again.
    virtual void ForgetDroppedModule(ModuleID moduleId) noexcept = 0;
};

} // namespace profilermultiplexer
