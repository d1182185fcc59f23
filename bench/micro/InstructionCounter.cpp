#include "micro/InstructionCounter.h"

namespace pmbench {

std::vector<std::pair<std::string, InstructionCounter::Scenario>>& InstructionCounter::Scenarios() {
    static std::vector<std::pair<std::string, Scenario>> scenarios;
    return scenarios;
}

bool InstructionCounter::Register(std::string name, Scenario scenario) {
    Scenarios().emplace_back(std::move(name), std::move(scenario));
    return true;
}

void InstructionCounter::RunAll(uint64_t iterations, const std::string& filter) {
    for (const auto& [name, scenario] : Scenarios()) {
        if (name.find(filter) != std::string::npos) {
            scenario(name, iterations);
        }
    }
}

} // namespace pmbench
