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
        if (_droppedModules.Contains(moduleId)) {
            return ModuleInfo::FallbackMethodName(moduleId, methodDef);
        }
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
        // Only the id stays: the module's names are no longer asked of the runtime.
        _droppedModules.Insert(moduleId);
        const auto found = _modules.find(moduleId);
        if (found != _modules.end()) {
            module = std::move(found->second);
            _modules.erase(found);
        }
    } catch (...) {
        return;
    }
    // The metadata is released outside the lock: it calls into the runtime.
    module.reset();
}

void MetadataHelper::ForgetDroppedModule(ModuleID moduleId) noexcept {
    std::lock_guard<std::mutex> lock(_modulesLock);
    _droppedModules.Erase(moduleId);
}

std::size_t MetadataHelper::ModuleCount() {
    std::lock_guard<std::mutex> lock(_modulesLock);
    return _modules.size();
}

} // namespace profilermultiplexer
