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

std::string MetadataHelper::GetMethodName(ModuleID moduleId, mdMethodDef methodDef) noexcept {
    try {
        std::lock_guard<std::mutex> lock(_modulesLock);
        std::shared_ptr<ModuleInfo>& module = _modules[moduleId];
        if (!module) {
            module = std::make_shared<ModuleInfo>(_pCorProfilerInfo.Get(), moduleId);
        }
        // Copied under the lock: a drop of the module on another thread waits for it.
        return module->GetMethodName(methodDef);
    } catch (...) {
        // Only when memory runs out: short enough to need none, never empty.
        return "(unknown)";
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
