// A ProfilerMultiplexer over IL targets and the IL fake runtime, held the way the runtime holds it.
#pragma once

#include "ILFakeRuntime.h"
#include "ILTarget.h"
#include "hosting/ProfilerMultiplexer.h"
#include "hosting/TargetProfilerProxy.h"
#include "logging/Util.h"

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

class ILHarness {
public:
    ILHarness() = default;
    ILHarness(const ILHarness&) = delete;
    ILHarness& operator=(const ILHarness&) = delete;
    ~ILHarness() {
        if (_multiplexer != nullptr) {
            _multiplexer->Release();
        }
        for (auto& [target, name] : _pending) {
            target->Release();
        }
    }

    // A target in list order; the multiplexer owns it once built.
    ILTarget& AddTarget(const std::string& name) {
        auto* target = new ILTarget;
        _pending.emplace_back(target, name);
        return *target;
    }

    ProfilerMultiplexer& Build() {
        std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> targets;
        double priority = 1.0;
        for (auto& [target, name] : _pending) {
            targets.emplace_back(
                target, ProfilerSettings(Util::ToWString(name), u"/lib.so", u"{}", priority++, false));
        }
        _pending.clear();
        _multiplexer = new ProfilerMultiplexer(true, std::move(targets));
        void* held = nullptr;
        _multiplexer->QueryInterface(IID_ICorProfilerCallback9, &held);
        return *_multiplexer;
    }

    ProfilerMultiplexer& BuildAndInitialize() {
        Build().Initialize(static_cast<ICorProfilerInfo10*>(&runtime));
        return *_multiplexer;
    }

    ProfilerMultiplexer& Multiplexer() { return *_multiplexer; }

    // The proxy that the target received as its info object.
    static TargetProfilerProxy& Proxy(const ILTarget& target) {
        return static_cast<TargetProfilerProxy&>(target.Info());
    }

    ILFakeRuntime runtime;

private:
    std::vector<std::pair<ILTarget*, std::string>> _pending;
    ProfilerMultiplexer* _multiplexer = nullptr;
};

} // namespace profilermultiplexer::tests
