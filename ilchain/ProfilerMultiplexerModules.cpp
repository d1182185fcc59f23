// Module unloads in ProfilerMultiplexer: what is kept per module goes with the module.
#include "hosting/ProfilerMultiplexer.h"

#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IMetadataHelper.h"
#include "ilchain/RejitProcessor.h"

#include <functional>
#include <mutex>

namespace profilermultiplexer {

HRESULT ProfilerMultiplexer::ModuleUnloadFinished(ModuleID moduleId, HRESULT hrStatus) {
    return RuntimeEntry([&] {
        auto call = [&](ICorProfilerCallback9* target) {
            return target->ModuleUnloadFinished(moduleId, hrStatus);
        };
        const HRESULT result = ForAllTargetProfilers(FunctionName::ModuleUnloadFinished, std::ref(call));
        if (SUCCEEDED(hrStatus)) {
            DropModule(moduleId);
        }
        return result;
    });
}

void ProfilerMultiplexer::DropModule(ModuleID moduleId) {
    {
        std::lock_guard<FastRecursiveMutex> lock(_rejitLock);
        _rejitProcessors.erase(moduleId);
        const auto [first, last] = InitializedProxyInterfaces();
        for (auto proxy = first; proxy != last; ++proxy) {
            (*proxy)->DropModule(moduleId);
        }
    }
    {
        std::lock_guard<FastMutex> lock(_methodsLock);
        _methods.EraseModule(moduleId);
    }
    // After the blocks: a line of theirs would open the module's metadata again.
    if (_metadataHelper) {
        _metadataHelper->DropModule(moduleId);
    }
    // Last, as the only step that allocates: a queued request would otherwise reach a new module that
    // takes the id.
    std::lock_guard<FastRecursiveMutex> lock(_rejitLock);
    for (auto count = _pendingRejitRequests.size(); count != 0; --count) {
        if (std::get<1>(_pendingRejitRequests.front()) != moduleId) {
            _pendingRejitRequests.push(_pendingRejitRequests.front());
        }
        _pendingRejitRequests.pop();
    }
}

} // namespace profilermultiplexer
