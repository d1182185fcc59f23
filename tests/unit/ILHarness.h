// A ProfilerMultiplexer over IL targets and the IL fake runtime, held the way the runtime holds it.
#pragma once

#include "ILFakeRuntime.h"
#include "ILTarget.h"
#include "TargetHarness.h"

#include <string>

namespace profilermultiplexer::tests {

class ILHarness : public TargetHarness<ILTarget, ILFakeRuntime> {
public:
    // A target in list order; the multiplexer owns it once built.
    ILTarget& AddTarget(const std::string& name) { return Add(new ILTarget, name); }

    ProfilerMultiplexer& BuildAndInitialize() {
        Build();
        Initialize();
        return Multiplexer();
    }
};

} // namespace profilermultiplexer::tests
