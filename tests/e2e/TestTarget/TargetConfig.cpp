#include "TargetConfig.h"

#include <algorithm>
#include <cstdlib>

namespace e2e {
namespace {

std::optional<std::string> Variable(int number, const char* suffix) {
    const std::string name = "E2E_TARGET_" + std::to_string(number) + "_" + suffix;
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) {
            parts.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

// Decimal, or hexadecimal with 0x.
uint64_t Number(const std::string& text) {
    return std::strtoull(text.c_str(), nullptr, 0);
}

} // namespace

TargetConfig TargetConfig::FromEnvironment(int number) {
    TargetConfig config;
    config.number = number;
    if (auto value = Variable(number, "MASK_LOW")) {
        config.maskLow = static_cast<DWORD>(Number(*value));
    }
    if (auto value = Variable(number, "MASK_HIGH")) {
        config.maskHigh = static_cast<DWORD>(Number(*value));
    }
    if (auto value = Variable(number, "USE_SETEVENTMASK2")) {
        config.useSetEventMask2 = Number(*value) != 0;
    }
    if (auto value = Variable(number, "OUT")) {
        config.out = *value;
    }
    if (auto value = Variable(number, "INFO_VERSION")) {
        config.infoVersion = static_cast<int>(Number(*value));
    }
    if (auto value = Variable(number, "INIT_RESULT")) {
        config.initResult = static_cast<HRESULT>(static_cast<uint32_t>(Number(*value)));
    }
    if (auto value = Variable(number, "INIT_DELAY_MS")) {
        config.initDelayMs = static_cast<int>(Number(*value));
    }
    if (auto value = Variable(number, "PROXY_THREAD_MS")) {
        config.proxyThreadMs = static_cast<int>(Number(*value));
    }
    if (auto value = Variable(number, "NEW_MASK_ON_MODULELOAD")) {
        config.newMaskOnModuleLoad = Number(*value);
    }
    if (auto value = Variable(number, "NEW_MASK_RESULT")) {
        config.newMaskResult = static_cast<HRESULT>(static_cast<uint32_t>(Number(*value)));
    }
    if (auto value = Variable(number, "IL_METHODS")) {
        config.ilMethods = Split(*value, ',');
    }
    if (auto value = Variable(number, "IL_REWRITE")) {
        config.ilRewrite = *value;
    }
    if (auto value = Variable(number, "IL_EXPECT")) {
        config.ilExpect = static_cast<int>(Number(*value));
    }
    if (auto value = Variable(number, "IL_NOPS")) {
        config.ilNops = static_cast<int>(Number(*value));
    }
    if (auto value = Variable(number, "IL_AT_LOAD")) {
        config.ilAtLoad = Number(*value) != 0;
    }
    if (auto value = Variable(number, "REJIT_METHOD")) {
        config.rejitMethod = *value;
    }
    if (auto value = Variable(number, "REJIT_STEPS")) {
        for (const std::string& step : Split(*value, ',')) {
            const size_t equals = step.find('=');
            config.rejitSteps[step.substr(0, equals)] =
                equals == std::string::npos ? "" : step.substr(equals + 1);
        }
    }
    if (auto value = Variable(number, "THROW_IN")) {
        config.throwIn = *value;
    }
    if (auto value = Variable(number, "REJIT_IN_CALLBACK")) {
        config.rejitInCallback = *value;
    }
    if (auto value = Variable(number, "UNLOAD_READ")) {
        config.unloadRead = Split(*value, ',');
    }
    if (auto value = Variable(number, "REJIT_INLINERS")) {
        config.rejitInliners = static_cast<DWORD>(Number(*value));
    }
    if (auto value = Variable(number, "REJIT_REWRITE_INLINERS")) {
        config.rejitRewritesInliners = Number(*value) != 0;
    }
    if (auto value = Variable(number, "ENTER_LEAVE_HOOKS")) {
        config.enterLeaveHooks = Number(*value) != 0;
    }
    if (auto value = Variable(number, "DETACH_AFTER_JIT")) {
        config.detachAfterJit = static_cast<int>(Number(*value));
    }
    if (auto value = Variable(number, "FUNCTION_ID_MAPPER")) {
        config.functionIdMapper = Number(*value) != 0;
    }
    if (auto value = Variable(number, "WAIT_IN")) {
        const size_t equals = value->find('=');
        config.waitIn = value->substr(0, equals);
        config.waitAction = equals == std::string::npos ? "" : value->substr(equals + 1);
    }
    if (auto value = Variable(number, "WAIT_METHOD")) {
        config.waitMethod = *value;
    }
    return config;
}

} // namespace e2e
