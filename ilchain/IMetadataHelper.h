// Display names of methods for log text.
#pragma once

#include "platform/CorProfilerTypes.h"

#include <string>

namespace profilermultiplexer {

class IMetadataHelper {
public:
    virtual ~IMetadataHelper() = default;

    // "[module] Type::Method", or "(moduleId: 0x..,methodId: 0x..)" when the metadata cannot tell.
    // The reference stays valid as long as the helper lives and the module is not dropped.
    virtual const std::string& GetMethodName(ModuleID moduleId, mdMethodDef methodDef) noexcept = 0;

    // Forgets the module's names and releases its metadata: the module has unloaded.
    virtual void DropModule(ModuleID moduleId) noexcept = 0;
};

} // namespace profilermultiplexer
