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

} // namespace profilermultiplexer
