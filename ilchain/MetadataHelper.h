// Method display names for log text, cached per module until the module unloads.
#pragma once

#include "ilchain/IMetadataHelper.h"
#include "ilchain/ModuleIdSet.h"
#include "platform/ComPtr.h"
#include "platform/CorProfilerInfo.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace profilermultiplexer {

class ModuleInfo;

class MetadataHelper : public IMetadataHelper {
public:
    // Keeps a counted reference to the runtime's info object.
    explicit MetadataHelper(ICorProfilerInfo10* pCorProfilerInfo);
    MetadataHelper(const MetadataHelper&) = delete;
    MetadataHelper& operator=(const MetadataHelper&) = delete;
    ~MetadataHelper() override;

    std::string GetMethodName(ModuleID moduleId, mdMethodDef methodDef) noexcept override;
    void DropModule(ModuleID moduleId) noexcept override;
    void ForgetDroppedModule(ModuleID moduleId) noexcept override;
    // Modules whose names are kept; dropped modules are not among them.
    std::size_t ModuleCount();

private:
    ComPtr<ICorProfilerInfo10> _pCorProfilerInfo;
    std::mutex _modulesLock;
    std::map<ModuleID, std::shared_ptr<ModuleInfo>> _modules;
    // Modules dropped since their ids were last taken.
    ModuleIdSet _droppedModules;
};

} // namespace profilermultiplexer
