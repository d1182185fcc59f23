// What the stress test's participants found wrong, collected from every thread: a count and the first
// few descriptions.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {

class StressChecks {
public:
    void Fail(const std::string& what) {
        ++_failures;
        std::lock_guard<std::mutex> lock(_lock);
        if (_first.size() < 10) {
            _first.push_back(what);
        }
    }

    int Failures() const { return _failures.load(); }

    std::string Report() const {
        std::lock_guard<std::mutex> lock(_lock);
        std::string report;
        for (const std::string& what : _first) {
            report += what + "\n";
        }
        return report;
    }

private:
    std::atomic<int> _failures{0};
    mutable std::mutex _lock;
    std::vector<std::string> _first;
};

} // namespace profilermultiplexer::tests
