// A ProfilerMultiplexer over recording targets and a fake runtime, held the way the runtime holds it.
#pragma once

#include "FakeRuntimeInfo.h"
#include "RecordingTarget.h"
#include "hosting/ProfilerMultiplexer.h"
#include "logging/Util.h"

#include <string>
#include <tuple>
#include <vector>

namespace profilermultiplexer::tests {

class MultiplexerHarness {
public:
    explicit MultiplexerHarness(int runtimeVersion = 10) : runtime(runtimeVersion) {}
    ~MultiplexerHarness() {
        if (_multiplexer != nullptr) {
            _multiplexer->Release();
        }
        for (auto& [target, name] : _pending) {
            target->Release();
        }
    }
    MultiplexerHarness(const MultiplexerHarness&) = delete;
    MultiplexerHarness& operator=(const MultiplexerHarness&) = delete;

    // A target in list order; the multiplexer owns it once built.
    RecordingTarget& AddTarget(const std::string& name, DWORD low = 0, DWORD high = 0) {
        auto* target = new RecordingTarget;
        target->initializeMask = std::make_pair(low, high);
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
        auto* multiplexer = new ProfilerMultiplexer(true, std::move(targets));
        void* held = nullptr;
        multiplexer->QueryInterface(IID_ICorProfilerCallback9, &held);
        _multiplexer = multiplexer;
        return *multiplexer;
    }

    HRESULT BuildAndInitialize() { return Build().Initialize(static_cast<ICorProfilerInfo10*>(&runtime)); }

    ProfilerMultiplexer& Multiplexer() { return *_multiplexer; }

    // Releases the runtime's reference now, as its last Release would.
    void Destroy() { std::exchange(_multiplexer, nullptr)->Release(); }

    FakeRuntimeInfo runtime;

private:
    std::vector<std::pair<RecordingTarget*, std::string>> _pending;
    ProfilerMultiplexer* _multiplexer = nullptr;
};

} // namespace profilermultiplexer::tests
