// A set of module ids kept as a sorted array: eight bytes a module, for the ids of the many modules that
// unload in a long-running process.
#pragma once

#include "platform/CorProfilerTypes.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace profilermultiplexer {

class ModuleIdSet {
public:
    bool Contains(ModuleID moduleId) const noexcept {
        return !_ids.empty() && std::binary_search(_ids.begin(), _ids.end(), moduleId);
    }

    void Insert(ModuleID moduleId) {
        const auto position = std::lower_bound(_ids.begin(), _ids.end(), moduleId);
        if (position == _ids.end() || *position != moduleId) {
            _ids.insert(position, moduleId);
        }
    }

    void Erase(ModuleID moduleId) noexcept {
        const auto position = std::lower_bound(_ids.begin(), _ids.end(), moduleId);
        if (position != _ids.end() && *position == moduleId) {
            _ids.erase(position);
        }
    }

    std::size_t Size() const noexcept { return _ids.size(); }

private:
    std::vector<ModuleID> _ids;
};

} // namespace profilermultiplexer
