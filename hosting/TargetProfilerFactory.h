// Reads the target profilers from the environment and creates their callback objects.
#pragma once

#include "hosting/ProfilerSettings.h"
#include "platform/CorProfilerCallback.h"

#include <vector>

namespace profilermultiplexer {

class TargetProfilerFactory {
public:
    // The configured targets, sorted by ascending priority, each library path and class id once (the first
    // in that order kept). Throws when a value is not UTF-8.
    static std::vector<ProfilerSettings> BuildProfilerSet(bool isCoreClr);

    // Creates the target's object from its library. On success *ppCallback holds the one reference its
    // creation gave; on failure it is null and nothing of the target is kept but its loaded library.
    static HRESULT CreateProfiler(ProfilerSettings const& settings,
                                  ICorProfilerCallback9** ppCallback) noexcept;
};

} // namespace profilermultiplexer
