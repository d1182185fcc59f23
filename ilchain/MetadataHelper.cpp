#include "ilchain/MetadataHelper.h"

#include "ilchain/ModuleInfo.h"

namespace profilermultiplexer {

MetadataHelper::MetadataHelper(ICorProfilerInfo10* pCorProfilerInfo) {
    if (pCorProfilerInfo != nullptr) {
        pCorProfilerInfo->AddRef();
        _pCorProfilerInfo.Attach(pCorProfilerInfo);
    }
}

MetadataHelper::~MetadataHelper() = default;

const std::string& MetadataHelper::GetMethodName(ModuleID moduleId, mdMethodDef methodDef) noexcept {
    // Only when memory runs out: never empty, never thrown.
    static const std::string unknownName = "(unknown method)";
    try {
        std::lock_guard<std::mutex> lock(_modulesLock);
        std::shared_ptr<ModuleInfo>& module = _modules[moduleId];
        if (!module) {
            module = std::make_shared<ModuleInfo>(_pCorProfilerInfo.Get(), moduleId);
        }
        return module->GetMethodName(methodDef);
    } catch (...) {
        return unknownName;
    }
}

void MetadataHelper::DropModule(ModuleID moduleId) noexcept {
    std::shared_ptr<ModuleInfo> module;
    try {
        std::lock_guard<std::mutex> lock(_modulesLock);
        const auto found = _modules.find(moduleId);
        if (found == _modules.end()) {
            return;
        }
        module = std::move(found->second);
        _modules.erase(found);
    } catch (...) {
        return;
    }
    // The metadata is released outside the lock: it calls into the runtime.
    module.reset();
}

} // namespace profilermultiplexer
