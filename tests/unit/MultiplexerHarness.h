// A ProfilerMultiplexer over recording targets and a fake runtime, held the way the runtime holds it.
#pragma once

#include "FakeRuntimeInfo.h"
#include "RecordingTarget.h"
#include "TargetHarness.h"

#include <string>
#include <utility>

namespace profilermultiplexer::tests {

class MultiplexerHarness : public TargetHarness<RecordingTarget, FakeRuntimeInfo> {
public:
    explicit MultiplexerHarness(int runtimeVersion = 10) : TargetHarness(runtimeVersion) {}

    // A target in list order; the multiplexer owns it once built.
    RecordingTarget& AddTarget(const std::string& name, DWORD low = 0, DWORD high = 0) {
        RecordingTarget& target = Add(new RecordingTarget, name);
        target.initializeMask = std::make_pair(low, high);
        return target;
    }

    HRESULT BuildAndInitialize() {
        Build();
        return Initialize();
    }
};

} // namespace profilermultiplexer::tests
