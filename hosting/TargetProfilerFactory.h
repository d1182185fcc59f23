// Reads the target profilers from the environment and creates their callback objects.
#pragma once

#include "hosting/ProfilerSettings.h"

#include <vector>

namespace profilermultiplexer {

class TargetProfilerFactory {
public:
    // The configured targets, sorted by ascending priority. Throws when a value is not UTF-8.
    static std::vector<ProfilerSettings> BuildProfilerSet(bool isCoreClr);
};

} // namespace profilermultiplexer
