// Owner of the system's one main logger: reads the level, prepares the log folder, builds the logger.
#pragma once

#include "logging/FileDescriptor.h"
#include "logging/Logger.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace profilermultiplexer {

const std::u16string DefaultLogLevelName = u"info";
const std::u16string LogLevel = u"Tarnix_Agent_LogLevel";
const std::u16string TarnixLogsFolder = u"Tarnix_Agent_LogsFolder";
const std::u16string CORECLR_PROFILER_HOME = u"CORECLR_PROFILER_HOME";
const std::u16string COR_PROFILER_HOME = u"COR_PROFILER_HOME";

class LoggerManager {
public:
    // Reads the level; throws when its variable is not UTF-8.
    LoggerManager();
    // Refuses new log calls, waits a bounded time for those in flight, then releases the loggers.
    ~LoggerManager();

    LoggerManager(LoggerManager const&) = delete;
    LoggerManager& operator=(LoggerManager const&) = delete;

    void SetLogLevel();

    // Builds the main logger and publishes it in place of the previous one. The previous one stays
    // alive until the manager is destroyed, so calls still using it on other threads are safe.
    void InitiateMainLogger(bool isCoreClr);

    // Never empty: on failure the logger holds no spdlog logger and writes nothing.
    std::shared_ptr<Logger> CreateLogger(std::u16string const& name, std::string const& pattern,
                                         bool appendProcessId) const;

    // A log folder held open, and its path for messages.
    struct LogFolder {
        FileDescriptor descriptor;
        std::filesystem::path path;
    };

    // The log folder, made ready and held open; none when none can be used.
    static LogFolder OpenLogFolder();
    // Its path; empty when none can be used.
    static std::filesystem::path GetLogPath();

    // Creates folder (and folder / subFolder when subFolder is not empty), a folder made here writable by
    // everyone, and checks that a new file can be written in the last one, which it returns open. With a
    // subFolder, each is opened from its parent's descriptor without following a link; it and folder's
    // parent must be folders of this user's or root's that only they can write to, or that have the sticky
    // bit, or anyone's shared by all with the sticky bit; the system log says why one is not.
    static FileDescriptor OpenLogFolder(std::filesystem::path const& folder, std::u16string const& subFolder);
    static bool CreateLogFolder(std::filesystem::path const& folder, std::u16string const& subFolder);

    // Whether the main logger writes messages of this level; false without a main spdlog logger and
    // from the start of the manager's destruction.
    bool IsLevelEnabled(spdlog::level::level_enum level) const noexcept {
        return static_cast<int>(level) >= _enabledLevel.load(std::memory_order_relaxed);
    }

    // Calls write(Logger&) with the main logger, unless there is none or the manager is being destroyed.
    template <typename Write> void WithMainLogger(Write const& write) noexcept {
        if (Logger* logger = EnterMainLogger()) {
            write(*logger);
            _callsInFlight.fetch_sub(1, std::memory_order_release);
        }
    }

private:
    // Counts the call in flight when it returns a logger.
    Logger* EnterMainLogger() noexcept {
        _callsInFlight.fetch_add(1);
        Logger* logger = _closing.load() ? nullptr : _currentLogger.load(std::memory_order_acquire);
        if (logger == nullptr) {
            _callsInFlight.fetch_sub(1, std::memory_order_release);
        }
        return logger;
    }

    void PublishMainLogger(std::shared_ptr<Logger> logger);
    bool WaitForCallsInFlight() const noexcept;

    spdlog::level::level_enum _logLevel;
    std::shared_ptr<Logger> _mainLogger;

    std::mutex _replaceLock; // serialises InitiateMainLogger
    std::vector<std::shared_ptr<Logger>> _retiredLoggers;
    std::atomic<Logger*> _currentLogger{nullptr};
    std::atomic<int> _enabledLevel; // lowest level the main logger writes; above every level when none
    std::atomic<bool> _closing{false};
    std::atomic<int> _callsInFlight{0};
};

} // namespace profilermultiplexer
