// The runtime's info object for the stress test: knows the stress methods (function ids, IL, metadata),
// and keeps the methods that targets asked to ReJIT until the test's runtime threads take them, each
// method once however often it was asked for, as the runtime does. Safe to call from any thread.
#pragma once

#include "ILFakeRuntime.h"
#include "StressMetaData.h"
#include "StressMethods.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

namespace profilermultiplexer::tests {

class StressRuntime : public ILFakeRuntime {
public:
    explicit StressRuntime(const StressMethods& methods) {
        for (const StressMethod& method : methods.All()) {
            AddFunction(method.functionId, method.moduleId, method.methodDef);
            SetMethodIL(method.moduleId, method.methodDef, StressMethods::BaseIL(method));
            SetModuleMetaData(method.moduleId, &_metaData);
        }
    }

    HRESULT RequestReJIT(ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds) override {
        return Queue(cFunctions, moduleIds, methodIds);
    }
    HRESULT RequestReJITWithInliners(DWORD, ULONG cFunctions, ModuleID* moduleIds,
                                     mdMethodDef* methodIds) override {
        return Queue(cFunctions, moduleIds, methodIds);
    }
    HRESULT RequestRevert(ULONG cFunctions, ModuleID*, mdMethodDef*, HRESULT* status) override {
        ++_reverts;
        for (ULONG index = 0; status != nullptr && index < cFunctions; ++index) {
            status[index] = S_OK;
        }
        return S_OK;
    }

    // A method asked to ReJIT, taken off the list; none when the list is empty.
    std::optional<std::pair<ModuleID, mdMethodDef>> TakeRejit() {
        std::lock_guard<std::mutex> lock(_rejitLock);
        if (_rejits.empty()) {
            return std::nullopt;
        }
        const auto method = *_rejits.begin();
        _rejits.erase(_rejits.begin());
        return method;
    }

    int Requests() const { return _requests.load(); }
    int Reverts() const { return _reverts.load(); }

private:
    HRESULT Queue(ULONG count, const ModuleID* moduleIds, const mdMethodDef* methodIds) {
        ++_requests;
        std::lock_guard<std::mutex> lock(_rejitLock);
        for (ULONG index = 0; index < count; ++index) {
            _rejits.emplace(moduleIds[index], methodIds[index]);
        }
        return S_OK;
    }

    StressMetaData _metaData;
    std::mutex _rejitLock;
    std::set<std::pair<ModuleID, mdMethodDef>> _rejits;
    std::atomic<int> _requests{0};
    std::atomic<int> _reverts{0};
};

} // namespace profilermultiplexer::tests
