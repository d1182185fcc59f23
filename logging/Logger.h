// One logger of the system: hands messages to its spdlog logger, or does nothing when it has none.
#pragma once

#include <spdlog/logger.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

namespace profilermultiplexer {

class Logger {
public:
    explicit Logger(std::shared_ptr<spdlog::logger> logger) noexcept : _logger(std::move(logger)) {}

    // The format first, then the values. A format without values is the finished message: its braces
    // are written unchanged.
    template <typename... Args> void Trace(Args&&... args) noexcept {
        Log(spdlog::level::trace, std::forward<Args>(args)...);
    }

    template <typename... Args> void Debug(Args&&... args) noexcept {
        Log(spdlog::level::debug, std::forward<Args>(args)...);
    }

    template <typename... Args> void Info(Args&&... args) noexcept {
        Log(spdlog::level::info, std::forward<Args>(args)...);
    }

    template <typename... Args> void Warn(Args&&... args) noexcept {
        Log(spdlog::level::warn, std::forward<Args>(args)...);
    }

    template <typename... Args> void Error(Args&&... args) noexcept {
        Log(spdlog::level::err, std::forward<Args>(args)...);
    }

    bool HasSpdLogger() const noexcept { return _logger != nullptr; }

    // The spdlog logger's level; off when there is none.
    spdlog::level::level_enum Level() const noexcept {
        return _logger ? _logger->level() : spdlog::level::off;
    }

private:
    template <typename Format, typename... Args>
    void Log(spdlog::level::level_enum level, Format const& format, Args&&... args) noexcept {
        spdlog::logger* logger = _logger.get();
        if (logger == nullptr || !logger->should_log(level)) {
            return;
        }
        try {
            if constexpr (sizeof...(Args) == 0) {
                logger->log(spdlog::source_loc{}, level, View(format));
            } else {
                logger->log(spdlog::source_loc{}, level, fmt::runtime(View(format)),
                            FormatValue(std::forward<Args>(args))...);
            }
        } catch (...) {
        }
    }

    static spdlog::string_view_t View(char const* text) noexcept { return text != nullptr ? text : ""; }
    static spdlog::string_view_t View(std::string const& text) noexcept { return text; }

    // fmt formats no object pointer but void's and char's: other addresses go as void const*.
    template <typename T> static decltype(auto) FormatValue(T&& value) noexcept {
        using Value = std::decay_t<T>;
        if constexpr (std::is_pointer_v<Value> && !std::is_same_v<Value, char*> &&
                      !std::is_same_v<Value, char const*>) {
            return static_cast<void const*>(value);
        } else {
            return std::forward<T>(value);
        }
    }

    std::shared_ptr<spdlog::logger> _logger;
};

} // namespace profilermultiplexer
