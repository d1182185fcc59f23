// The calls a fake received, in order, each as its name and argument bits. Safe from any thread.
#pragma once

#include "DistinctArgs.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {

class CallLog {
public:
    void Append(std::string name, std::vector<uint64_t> args) {
        std::lock_guard<std::mutex> lock(_lock);
        _calls.push_back({std::move(name), std::move(args)});
    }

    std::vector<RecordedCall> Calls() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _calls;
    }
    std::vector<std::string> CallNames() const {
        std::vector<std::string> names;
        for (const auto& call : Calls()) {
            names.push_back(call.name);
        }
        return names;
    }

private:
    mutable std::mutex _lock;
    std::vector<RecordedCall> _calls;
};

} // namespace profilermultiplexer::tests
