// Log front-end: the only header the rest of the system includes to log.
//
// Trace, Debug and Info call sites test the level first and compute their values only when it is on:
//     if (IsLogLevelEnabled(spdlog::level::trace)) Trace("JIT compiled {}", metadata->GetMethodName(id,
//     token));
// Warn, Error, InfoW, WarnW and ErrorW are called without a test. No log call throws.
#pragma once

#include "logging/LoggerManager.h"
#include "logging/PrimitiveLogOutput.h"
#include "logging/Singleton.h"
#include "logging/Util.h"

#include <string>
#include <type_traits>
#include <utility>

namespace profilermultiplexer {

// True when the main logger writes messages of this level. A few loads and a compare.
inline bool IsLogLevelEnabled(spdlog::level::level_enum level) noexcept {
    try {
        return Singleton<LoggerManager>::Instance().IsLevelEnabled(level);
    } catch (...) {
        return false;
    }
}

namespace detail {

template <typename T>
constexpr bool HasOwnFallbackOutput =
    std::is_same_v<T, char const*> || std::is_same_v<T, char*> || std::is_same_v<T, unsigned char*> ||
    std::is_same_v<T, unsigned char const*> || std::is_same_v<T, void*>;

// The value as the system log's fallback writes it: a literal as char const*, other addresses as void*.
template <typename T> auto FallbackValue(T const& value) {
    using Value = std::decay_t<T const&>;
    if constexpr (std::is_pointer_v<Value> && !HasOwnFallbackOutput<Value>) {
        return const_cast<void*>(static_cast<void const*>(value));
    } else {
        static_assert(HasOwnFallbackOutput<Value> || std::is_same_v<Value, std::string> ||
                          std::is_same_v<Value, int> || std::is_same_v<Value, unsigned int> ||
                          std::is_same_v<Value, unsigned long>,
                      "log values are C strings, std::string, int, unsigned int, unsigned long or addresses");
        return static_cast<Value>(value);
    }
}

// Without the logging singleton: the format and each value as a system-log message of its own.
template <typename... Args> void WriteToFallback(Args const&... args) noexcept {
    try {
        (PrimitiveLogOutput(FallbackValue(args)), ...);
    } catch (...) {
    }
}

template <typename Write, typename... Args>
void Log(spdlog::level::level_enum level, Write const& write, Args const&... args) noexcept {
    LoggerManager* manager = nullptr;
    try {
        manager = &Singleton<LoggerManager>::Instance();
    } catch (...) {
        WriteToFallback(args...);
        return;
    }
    if (manager->IsLevelEnabled(level)) {
        manager->WithMainLogger(write);
    }
}

inline std::string ToUtf8Value(std::u16string const& value) {
    return Util::ToString(value);
}

inline int ToUtf8Value(int value) noexcept {
    return value;
}

} // namespace detail

// The format first (a literal, or a finished text without values), then the values.
template <typename... Args> void Trace(Args&&... args) noexcept {
    detail::Log(
        spdlog::level::trace, [&](Logger& logger) { logger.Trace(std::forward<Args>(args)...); }, args...);
}

template <typename... Args> void Debug(Args&&... args) noexcept {
    detail::Log(
        spdlog::level::debug, [&](Logger& logger) { logger.Debug(std::forward<Args>(args)...); }, args...);
}

template <typename... Args> void Info(Args&&... args) noexcept {
    detail::Log(
        spdlog::level::info, [&](Logger& logger) { logger.Info(std::forward<Args>(args)...); }, args...);
}

template <typename... Args> void Warn(Args&&... args) noexcept {
    detail::Log(
        spdlog::level::warn, [&](Logger& logger) { logger.Warn(std::forward<Args>(args)...); }, args...);
}

template <typename... Args> void Error(Args&&... args) noexcept {
    detail::Log(
        spdlog::level::err, [&](Logger& logger) { logger.Error(std::forward<Args>(args)...); }, args...);
}

// UTF-16 format and std::u16string or int values, converted to UTF-8 whatever the level. Text that
// cannot be converted writes nothing.
template <typename... Args> void InfoW(char16_t const* format, Args const&... args) noexcept {
    try {
        Info(Util::ToString(format), detail::ToUtf8Value(args)...);
    } catch (...) {
    }
}

template <typename... Args> void WarnW(char16_t const* format, Args const&... args) noexcept {
    try {
        Warn(Util::ToString(format), detail::ToUtf8Value(args)...);
    } catch (...) {
    }
}

template <typename... Args> void ErrorW(char16_t const* format, Args const&... args) noexcept {
    try {
        Error(Util::ToString(format), detail::ToUtf8Value(args)...);
    } catch (...) {
    }
}

} // namespace profilermultiplexer
