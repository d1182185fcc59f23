// A ProfilerMultiplexer over test targets and a fake runtime, held the way the runtime holds it: one
// reference, released before the runtime goes. Targets added but never built are released too. A derived
// harness's own members are gone by then: targets must not use them when they are destroyed.
#pragma once

#include "hosting/ProfilerMultiplexer.h"
#include "hosting/TargetProfilerProxy.h"
#include "logging/Util.h"

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

template <typename Target, typename Runtime> class TargetHarness {
public:
    TargetHarness(const TargetHarness&) = delete;
    TargetHarness& operator=(const TargetHarness&) = delete;
    ~TargetHarness() {
        if (_multiplexer != nullptr) {
            _multiplexer->Release();
        }
        for (const Pending& pending : _pending) {
            pending.target->Release();
        }
    }

    // The multiplexer over the targets added so far, in list order, with the runtime's reference.
    ProfilerMultiplexer& Build() {
        std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> targets;
        double priority = 1.0;
        for (const Pending& pending : _pending) {
            targets.emplace_back(pending.target,
                                 ProfilerSettings(Util::ToWString(pending.name), u"/lib.so", u"{}",
                                                  priority++, pending.revertRejitCallOrder));
        }
        _pending.clear();
        _multiplexer = new ProfilerMultiplexer(true, std::move(targets));
        void* held = nullptr;
        _multiplexer->QueryInterface(IID_ICorProfilerCallback9, &held);
        return *_multiplexer;
    }

    HRESULT Initialize() { return Multiplexer().Initialize(static_cast<ICorProfilerInfo10*>(&runtime)); }

    ProfilerMultiplexer& Multiplexer() { return *_multiplexer; }

    // Releases the runtime's reference now, as its last Release would.
    void Destroy() { std::exchange(_multiplexer, nullptr)->Release(); }

    // The proxy that the target received as its info object.
    static TargetProfilerProxy& Proxy(const Target& target) {
        return static_cast<TargetProfilerProxy&>(target.Info());
    }

    Runtime runtime;

protected:
    template <typename... RuntimeArgs>
    explicit TargetHarness(RuntimeArgs&&... runtimeArgs)
        : runtime(std::forward<RuntimeArgs>(runtimeArgs)...) {}

    // Takes a new target in list order; the multiplexer owns it once built.
    Target& Add(Target* target, std::string name, bool revertRejitCallOrder = false) {
        _pending.push_back({target, std::move(name), revertRejitCallOrder});
        return *target;
    }

private:
    struct Pending {
        Target* target;
        std::string name;
        bool revertRejitCallOrder;
    };

    std::vector<Pending> _pending;
    ProfilerMultiplexer* _multiplexer = nullptr;
};

} // namespace profilermultiplexer::tests
