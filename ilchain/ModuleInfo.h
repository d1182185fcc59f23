// The display names of one module's methods, read from its metadata once each and kept.
#pragma once

#include "platform/ComPtr.h"
#include "platform/CorProfilerInfo.h"
#include "platform/MetaDataImport.h"

#include <map>
#include <string>

namespace profilermultiplexer {

// Not thread-safe: MetadataHelper serialises every use.
class ModuleInfo {
public:
    // Opens the module's metadata; on failure every name of the module is a fallback name.
    ModuleInfo(ICorProfilerInfo10* pCorProfilerInfo, ModuleID moduleId);
    ModuleInfo(const ModuleInfo&) = delete;
    ModuleInfo& operator=(const ModuleInfo&) = delete;

    // "[module] Type::Method", or the fallback name; the reference stays valid as long as this object.
    const std::string& GetMethodName(mdMethodDef methodDef);
    // "(moduleId: 0x..,methodId: 0x..)", stored for the token.
    const std::string& CreateFallbackMethodName(mdMethodDef methodDef);
    // The same text, not stored.
    static std::string FallbackMethodName(ModuleID moduleId, mdMethodDef methodDef);

private:
    // Display name from the metadata into displayName; false when it cannot be read.
    bool ReadDisplayName(mdMethodDef methodDef, std::u16string& displayName) const;

    std::map<mdMethodDef, std::string> _methodNames;
    ComPtr<IMetaDataImport> _pMetaDataImport;
    ModuleID _moduleId;
};

} // namespace profilermultiplexer
