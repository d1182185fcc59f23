#include "logging/LoggerManager.h"

#include "logging/NoFollowRotatingFileSink.h"
#include "logging/PrimitiveLogOutput.h"
#include "logging/Util.h"

#include <spdlog/sinks/syslog_sink.h>
#include <spdlog/spdlog.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace profilermultiplexer {

namespace {

namespace fs = std::filesystem;

constexpr char const* MainLoggerName = "profiler_multiplexer";
constexpr char16_t const* MainLoggerFileName = u"profiler_multiplexer";
constexpr char const* MainLoggerPattern = "[%Y-%m-%d %T.%e] [%l] [thread %t] %v";
constexpr std::size_t MaxLogFileSize = 52428800;
constexpr std::size_t MaxLogFiles = 3;
constexpr int NoLevelEnabled = spdlog::level::n_levels;
constexpr auto CallsInFlightWait = std::chrono::seconds(1);

bool s_isCoreClr = false;

// One fallback message made of the parts (C strings or strings).
template <typename... Parts> void ReportToSystemLog(Parts const&... parts) noexcept {
    try {
        std::string text;
        (text.append(parts), ...);
        PrimitiveLogOutput(std::move(text));
    } catch (...) {
    }
}

// A folder made here becomes writable by everyone, with the sticky bit so that no one removes or replaces
// another user's files; an existing one keeps its permissions.
void CreateSharedFolder(fs::path const& dir) {
    if (fs::create_directory(dir)) {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace, ignored);
    }
}

// Whether a folder the library names itself is a real folder of this user's or root's; reports why not.
bool IsTrustedFolder(fs::path const& dir) {
    struct stat info {};
    char const* reason = nullptr;
    if (::lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        reason = "folder is a symbolic link or not a folder";
    } else if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        reason = "folder is owned by another user";
    }
    if (reason != nullptr) {
        ReportToSystemLog("Error ", reason, " when creating logs folder ", dir.native());
    }
    return reason == nullptr;
}

// Writes and removes a probe file of its own, so that no existing file is touched.
bool CanWriteIn(fs::path const& dir) {
    std::string probe = (dir / ".profiler_multiplexer_probeXXXXXX").native();
    int const file = ::mkostemp(probe.data(), O_CLOEXEC);
    if (file < 0) {
        return false;
    }
    static constexpr char Text[] = "test\n";
    bool const written = ::write(file, Text, sizeof(Text) - 1) == static_cast<ssize_t>(sizeof(Text) - 1);
    ::close(file);
    ::unlink(probe.c_str());
    return written;
}

void ErrorHandler(std::string const& message) {
    ReportToSystemLog("Logger Handler: ", message);
}

} // namespace

LoggerManager::LoggerManager() : _logLevel(spdlog::level::trace), _enabledLevel(NoLevelEnabled) {
    SetLogLevel();
    spdlog::set_error_handler(ErrorHandler);
}

LoggerManager::~LoggerManager() {
    _enabledLevel.store(NoLevelEnabled, std::memory_order_relaxed);
    _closing.store(true);
    bool const drained = WaitForCallsInFlight();
    _currentLogger.store(nullptr);
    try {
        spdlog::drop_all();
    } catch (...) {
    }
    if (!drained) {
        // A call still writes through one of them: leave the loggers to the end of the process.
        try {
            _retiredLoggers.push_back(std::move(_mainLogger));
            (void)new std::vector<std::shared_ptr<Logger>>(std::move(_retiredLoggers));
        } catch (...) {
        }
    }
}

bool LoggerManager::WaitForCallsInFlight() const noexcept {
    auto const deadline = std::chrono::steady_clock::now() + CallsInFlightWait;
    while (_callsInFlight.load() != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void LoggerManager::SetLogLevel() {
    static std::map<std::string, spdlog::level::level_enum> const spdlogLogLevelMap{
        {"trace", spdlog::level::trace}, {"debug", spdlog::level::debug},
        {"info", spdlog::level::info},   {"warn", spdlog::level::warn},
        {"err", spdlog::level::err},     {"critical", spdlog::level::critical},
        {"off", spdlog::level::off}};

    std::u16string value = Util::GetEnvironmentValue(LogLevel);
    for (char16_t& unit : value) {
        if (unit <= 0xFF) {
            unit = static_cast<char16_t>(std::tolower(static_cast<unsigned char>(unit)));
        }
    }
    auto const found = spdlogLogLevelMap.find(Util::ToString(value));
    _logLevel = found != spdlogLogLevelMap.end() ? found->second
                                                 : spdlogLogLevelMap.at(Util::ToString(DefaultLogLevelName));
}

void LoggerManager::InitiateMainLogger(bool isCoreClr) {
    std::lock_guard<std::mutex> lock(_replaceLock);
    s_isCoreClr = isCoreClr;
    PublishMainLogger(CreateLogger(MainLoggerFileName, MainLoggerPattern, true));
}

void LoggerManager::PublishMainLogger(std::shared_ptr<Logger> logger) {
    if (_mainLogger != nullptr) {
        _retiredLoggers.push_back(std::move(_mainLogger));
    }
    _mainLogger = std::move(logger);
    _currentLogger.store(_mainLogger.get(), std::memory_order_release);
    int const level = _mainLogger->HasSpdLogger() ? _mainLogger->Level() : NoLevelEnabled;
    _enabledLevel.store(level, std::memory_order_relaxed);
}

std::shared_ptr<Logger> LoggerManager::CreateLogger(std::u16string const& name, std::string const& pattern,
                                                    bool appendProcessId) const {
    try {
        std::vector<spdlog::sink_ptr> sinks;
        fs::path const dir = GetLogPath();
        if (!dir.empty()) {
            try {
                std::string fileName = Util::ToString(name);
                if (appendProcessId) {
                    fileName += std::to_string(::getpid());
                }
                fileName += ".log";
                auto sink = std::make_shared<NoFollowRotatingFileSink>((dir / fileName).string(),
                                                                       MaxLogFileSize, MaxLogFiles, true);
                sink->set_level(_logLevel);
                sink->set_pattern(pattern);
                sinks.push_back(std::move(sink));
            } catch (std::exception const& e) {
                ReportToSystemLog("No log file: ", e.what());
            } catch (...) {
            }
        }
        sinks.push_back(std::make_shared<spdlog::sinks::syslog_sink<std::mutex>>("", 0, LOG_USER, false));
        auto logger = std::make_shared<spdlog::logger>(MainLoggerName, sinks.begin(), sinks.end());
        logger->set_level(_logLevel);
        logger->flush_on(_logLevel);
        return std::make_shared<Logger>(std::move(logger));
    } catch (...) {
        try {
            ReportToSystemLog("Error creating logger: ", Util::ToString(name));
        } catch (...) {
            ReportToSystemLog("Error creating logger: ");
        }
        return std::make_shared<Logger>(nullptr);
    }
}

fs::path LoggerManager::GetLogPath() {
    std::u16string const folder = Util::GetEnvironmentValue(TarnixLogsFolder);
    if (!folder.empty()) {
        fs::path const dir(Util::ToString(folder));
        return CreateLogFolder(dir, u"") ? dir : fs::path();
    }
    std::u16string const home =
        Util::GetEnvironmentValue(s_isCoreClr ? CORECLR_PROFILER_HOME : COR_PROFILER_HOME);
    if (!home.empty()) {
        fs::path const base = fs::path(Util::ToString(home)) / "Tarnix";
        if (CreateLogFolder(base, u"Logs")) {
            return base / "Logs";
        }
    }
    fs::path const base = fs::temp_directory_path() / "Tarnix";
    return CreateLogFolder(base, u"Logs") ? base / "Logs" : fs::path();
}

bool LoggerManager::CreateLogFolder(fs::path const& folder, std::u16string const& subFolder) {
    fs::path dir = folder;
    try {
        CreateSharedFolder(dir);
        if (!subFolder.empty()) {
            if (!IsTrustedFolder(dir)) {
                return false;
            }
            dir = folder / Util::ToString(subFolder);
            CreateSharedFolder(dir);
            if (!IsTrustedFolder(dir)) {
                return false;
            }
        }
        return CanWriteIn(dir);
    } catch (std::exception const& e) {
        ReportToSystemLog("Error ", e.what(), " when creating logs folder ", dir.native());
    } catch (...) {
        ReportToSystemLog("Error when creating logs folder ", dir.native());
    }
    return false;
}

} // namespace profilermultiplexer
