// The IL offset map of a method that several targets rewrote one after the other: from the original IL
// to the IL of the last rewrite. The runtime keeps one map per method.
#pragma once

#include "platform/CorProfilerTypes.h"

#include <vector>

namespace profilermultiplexer {

class ILMapComposition {
public:
    // Follows the map so far with the map of the next rewrite, which maps the IL that the earlier rewrites
    // made to its own. A rewrite without a map (null or no entries) leaves the offsets as they are.
    void Then(const COR_IL_MAP* entries, ULONG count);
    // How many maps were added.
    ULONG Steps() const noexcept { return _steps; }
    // Original offsets to those of the last rewrite; the entries of the one map when only one was added.
    std::vector<COR_IL_MAP>& Entries() noexcept { return _entries; }

private:
    std::vector<COR_IL_MAP> _entries;
    ULONG _steps = 0;
};

} // namespace profilermultiplexer
