// Which callbacks a target receives for a given event mask, and each callback's name for log lines.
#pragma once

#include "platform/ComBase.h"
#include "platform/CorProfilerCallbackList.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace profilermultiplexer {

class ProfilerCallbackFunctionFilter {
public:
    // None, then every callback of ICorProfilerCallback9 in vtable order: Initialize is 1,
    // DynamicMethodUnloaded 92.
    enum class FunctionName : uint8_t {
        None,
#define PM_FUNCTION_NAME(kind, name, params, args) name,
        PM_ALL_CORPROFILERCALLBACK_METHODS(PM_FUNCTION_NAME)
#undef PM_FUNCTION_NAME
    };

    static constexpr std::size_t FunctionCount =
        static_cast<std::size_t>(FunctionName::DynamicMethodUnloaded) + 1;
    // Required mask of a callback that goes to every target whatever its mask.
    static constexpr uint64_t Always = ~uint64_t{0};

    // The last callback of each interface version, for targets that implement an older one.
    static constexpr FunctionName LastOfCallback2 = FunctionName::HandleDestroyed;
    static constexpr FunctionName LastOfCallback3 = FunctionName::ProfilerDetachSucceeded;
    static constexpr FunctionName LastOfCallback4 = FunctionName::SurvivingReferences2;
    static constexpr FunctionName LastOfCallback5 = FunctionName::ConditionalWeakTableElementReferences;
    static constexpr FunctionName LastOfCallback6 = FunctionName::GetAssemblyReferences;
    static constexpr FunctionName LastOfCallback7 = FunctionName::ModuleInMemorySymbolsUpdated;
    static constexpr FunctionName LastOfCallback8 = FunctionName::DynamicMethodJITCompilationFinished;
    static constexpr FunctionName LastOfCallback9 = FunctionName::DynamicMethodUnloaded;

    ProfilerCallbackFunctionFilter() noexcept;

    // True when the row is Always or shares a bit with high << 32 | low.
    bool IsCallbackEnabled(FunctionName function, DWORD low, DWORD high) const noexcept {
        const uint64_t required = _callbackMasks[static_cast<std::size_t>(function)];
        return required == Always || (required & (uint64_t{high} << 32 | low)) != 0;
    }

    const char* GetCallbackName(FunctionName function) const noexcept {
        return _callbackNames[static_cast<std::size_t>(function)];
    }

    uint64_t GetRequiredMask(FunctionName function) const noexcept {
        return _callbackMasks[static_cast<std::size_t>(function)];
    }

    // At trace level: a header line for the mask, then the name of every callback it lets through.
    void LogNonMaskedCallbackFunctions(const char* name, DWORD low, DWORD high) const noexcept;

private:
    std::array<uint64_t, FunctionCount> _callbackMasks;
    std::array<const char*, FunctionCount> _callbackNames;
};

} // namespace profilermultiplexer
