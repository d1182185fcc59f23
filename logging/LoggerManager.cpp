#include "logging/LoggerManager.h"

#include "logging/NoFollowRotatingFileSink.h"
#include "logging/PrimitiveLogOutput.h"
#include "logging/Util.h"

#include <spdlog/sinks/syslog_sink.h>
#include <spdlog/spdlog.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <sys/resource.h>
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
constexpr auto ErrorReportInterval = std::chrono::milliseconds(1000);

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

void ReportFolderError(char const* reason, fs::path const& dir) {
    ReportToSystemLog("Error ", reason, " when creating logs folder ", dir.native());
}

// Why a folder the library names itself must not be used: one that others may change without the sticky bit,
// or another user's that is not shared by all with the sticky bit; nullptr when it may.
char const* UntrustedReason(int folder) {
    struct stat info {};
    if (::fstat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) {
        return "folder is a symbolic link or not a folder";
    }
    bool const sticky = (info.st_mode & S_ISVTX) != 0;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !sticky) {
        return "folder is writable by others without the sticky bit";
    }
    // Shared by all as the temporary directory is: its files are opened without following links and checked.
    bool const sharedByAll = (info.st_mode & S_IWOTH) != 0 && sticky;
    if (info.st_uid != ::geteuid() && info.st_uid != 0 && !sharedByAll) {
        return "folder is owned by another user";
    }
    return nullptr;
}

// Opens name in parent (a path, or a name relative to parent's descriptor), making it first when missing.
// A folder made here is made for this user alone, checked, then made writable by everyone, with the sticky
// bit so that no one removes or replaces another user's files; an existing one keeps its permissions.
// follow: the user named it, links included.
FileDescriptor OpenFolder(int parent, char const* name, fs::path const& dir, bool follow) {
    bool const created = ::mkdirat(parent, name, 0700) == 0;
    if (!created && errno != EEXIST) {
        ReportFolderError(std::strerror(errno), dir);
        return {};
    }
    int const noFollow = follow && !created ? 0 : O_NOFOLLOW;
    FileDescriptor folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
    char const* reason =
        !folder.IsOpen() ? (errno == ENOTDIR || errno == ELOOP ? "folder is a symbolic link or not a folder"
                                                               : std::strerror(errno))
        : follow && !created ? nullptr
                             : UntrustedReason(folder.Get());
    if (reason == nullptr && created && ::fchmod(folder.Get(), 01777) != 0) {
        reason = std::strerror(errno);
    }
    if (reason != nullptr) {
        ReportFolderError(reason, dir);
        return {};
    }
    return folder;
}

// The temporary directory as std::filesystem::temp_directory_path names it, an empty variable counted as
// unset.
fs::path TemporaryDirectory() {
    for (char const* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        char const* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "/tmp";
}

// Writes and removes a probe file of its own, so that no existing file is touched; within the process's
// file-size limit, as a write beyond it ends the process. Why it cannot be written, or nullptr.
char const* CannotWriteReason(int folder) {
    struct rlimit limit {};
    static constexpr char Text[] = "test\n";
    std::size_t size = sizeof(Text) - 1;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < size) {
        size = static_cast<std::size_t>(limit.rlim_cur);
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string const probe =
            ".profiler_multiplexer_probe" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
        FileDescriptor const file(
            ::openat(folder, probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file.IsOpen()) {
            if (errno == EEXIST) {
                continue;
            }
            return std::strerror(errno);
        }
        ssize_t const written = ::write(file.Get(), Text, size);
        int const error = errno;
        ::unlinkat(folder, probe.c_str(), 0);
        return written == static_cast<ssize_t>(size) ? nullptr
               : written < 0                         ? std::strerror(error)
                                                     : "nothing written";
    }
    return "no free name for a probe file";
}

void ErrorHandler(std::string const& message) {
    ReportToSystemLog("Logger Handler: ", message);
}

// The main logger's own errors: a full disk fails every message, so at most one report a second.
spdlog::err_handler ThrottledErrorHandler() {
    constexpr std::int64_t Never = std::numeric_limits<std::int64_t>::min();
    auto last = std::make_shared<std::atomic<std::int64_t>>(Never);
    return [last](std::string const& message) {
        std::int64_t const now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        std::int64_t previous = last->load();
        if ((previous == Never || now - previous >= ErrorReportInterval.count()) &&
            last->compare_exchange_strong(previous, now)) {
            ErrorHandler(message);
        }
    };
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
        LogFolder folder = OpenLogFolder();
        if (folder.descriptor.IsOpen()) {
            try {
                std::string fileName = Util::ToString(name);
                if (appendProcessId) {
                    fileName += std::to_string(::getpid());
                }
                fileName += ".log";
                auto sink = std::make_shared<NoFollowRotatingFileSink>(std::move(folder.descriptor),
                                                                       folder.path.string(), fileName,
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
        logger->set_error_handler(ThrottledErrorHandler());
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

LoggerManager::LogFolder LoggerManager::OpenLogFolder() {
    std::u16string const folder = Util::GetEnvironmentValue(TarnixLogsFolder);
    if (!folder.empty()) {
        fs::path dir(Util::ToString(folder));
        FileDescriptor descriptor = OpenLogFolder(dir, u"");
        return descriptor.IsOpen() ? LogFolder{std::move(descriptor), std::move(dir)} : LogFolder{};
    }
    std::u16string const home =
        Util::GetEnvironmentValue(s_isCoreClr ? CORECLR_PROFILER_HOME : COR_PROFILER_HOME);
    if (!home.empty()) {
        fs::path const base = fs::path(Util::ToString(home)) / "Tarnix";
        if (FileDescriptor descriptor = OpenLogFolder(base, u"Logs"); descriptor.IsOpen()) {
            return {std::move(descriptor), base / "Logs"};
        }
    }
    fs::path const base = TemporaryDirectory() / "Tarnix";
    FileDescriptor descriptor = OpenLogFolder(base, u"Logs");
    return descriptor.IsOpen() ? LogFolder{std::move(descriptor), base / "Logs"} : LogFolder{};
}

fs::path LoggerManager::GetLogPath() {
    return OpenLogFolder().path;
}

FileDescriptor LoggerManager::OpenLogFolder(fs::path const& folder, std::u16string const& subFolder) {
    fs::path dir = folder;
    try {
        FileDescriptor opened;
        if (subFolder.empty()) {
            opened = OpenFolder(AT_FDCWD, dir.c_str(), dir, true);
        } else {
            // The parent is the user's (a home or the temporary directory): links there are theirs, but
            // others must not be able to swap what is made in it.
            fs::path const parentPath = folder.parent_path();
            FileDescriptor const parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!parent.IsOpen()) {
                ReportFolderError(std::strerror(errno), dir);
                return {};
            }
            if (char const* reason = UntrustedReason(parent.Get())) {
                ReportFolderError(reason, parentPath);
                return {};
            }
            FileDescriptor const tarnix = OpenFolder(parent.Get(), folder.filename().c_str(), dir, false);
            if (!tarnix.IsOpen()) {
                return {};
            }
            dir = folder / Util::ToString(subFolder);
            opened = OpenFolder(tarnix.Get(), dir.filename().c_str(), dir, false);
        }
        if (!opened.IsOpen()) {
            return {};
        }
        if (char const* reason = CannotWriteReason(opened.Get())) {
            ReportFolderError(reason, dir);
            return {};
        }
        return opened;
    } catch (std::exception const& e) {
        ReportFolderError(e.what(), dir);
    } catch (...) {
        ReportToSystemLog("Error when creating logs folder ", dir.native());
    }
    return {};
}

bool LoggerManager::CreateLogFolder(fs::path const& folder, std::u16string const& subFolder) {
    return OpenLogFolder(folder, subFolder).IsOpen();
}

} // namespace profilermultiplexer
