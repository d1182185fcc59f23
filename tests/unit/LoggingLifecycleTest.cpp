// The logging singleton's life: before it exists, when it cannot be built, while the main logger is
// replaced, and after it is destroyed at exit. Cases that need a process without a logging singleton
// run in a fresh child process.
#include "logging/Logging.h"

#include "LogCapture.h"
#include "LoggingEnvironment.h"
#include "SyslogRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace profilermultiplexer;
using namespace profilermultiplexer::tests;

namespace {

// Ends the child process: 0 when every check held, 1 otherwise, without running static destructors.
[[noreturn]] void ExitWith(bool ok, char const* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
    }
    std::fflush(stderr);
    ::_exit(ok ? 0 : 1);
}

class LoggingLifecycleDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// --- No singleton yet ---

void LogBeforeTheMainLogger() {
    SyslogRecorder::Clear();
    bool const guard = IsLogLevelEnabled(spdlog::level::err);
    Error("before the main logger {}", 1);
    ExitWith(!guard && SyslogRecorder::Texts().empty(), "nothing written before the main logger");
}

TEST_F(LoggingLifecycleDeathTest, BeforeTheMainLoggerNothingIsWritten) {
    EXPECT_EXIT(LogBeforeTheMainLogger(), ::testing::ExitedWithCode(0), "");
}

// --- The singleton cannot be built ---

void LogWithoutTheSingleton() {
    LoggingEnvironment environment;
    environment.Set("Tarnix_Agent_LogLevel", "\xc3\x28"); // not UTF-8: the manager cannot be built
    SyslogRecorder::Clear();

    Error("Profiler: {} failed with {:x}", "prof", static_cast<int>(0x80004005));
    bool const guard = IsLogLevelEnabled(spdlog::level::err);
    if (guard) {
        Debug("guarded {}", 1);
    }
    ErrorW(u"Target {} failed", std::u16string(u"w"));
    std::vector<std::string> const expected = {
        "Profiler Multiplexer: Profiler: {} failed with {:x}", "Profiler Multiplexer: prof",
        "Profiler Multiplexer: -2147467259", "Profiler Multiplexer: Target {} failed",
        "Profiler Multiplexer: w"};
    bool const fellBack = SyslogRecorder::Texts() == expected && !guard;

    environment.Set("Tarnix_Agent_LogLevel", "info"); // the next call builds it
    bool built = false;
    try {
        Singleton<LoggerManager>::Instance();
        built = true;
    } catch (...) {
    }
    ExitWith(fellBack && built, "fallback messages, then a retry that builds the singleton");
}

TEST_F(LoggingLifecycleDeathTest, WithoutTheSingletonEachArgumentGoesToTheSystemLog) {
    EXPECT_EXIT(LogWithoutTheSingleton(), ::testing::ExitedWithCode(0), "");
}

// --- Destruction at exit ---

std::atomic<bool> s_lateCallWrote{false};

void LogAfterTheSingletonIsGone() {
    SyslogRecorder::Clear();
    bool const guard = IsLogLevelEnabled(spdlog::level::err);
    Error("after destruction {}", 1);
    InfoW(u"after destruction");
    ExitWith(!guard && SyslogRecorder::Texts().empty(), "late calls write nothing");
}

void ExitWhileThreadsLog() {
    std::atexit(LogAfterTheSingletonIsGone); // registered first: runs after the singleton's destructor
    static LogCapture capture("trace");
    for (int t = 0; t < 3; ++t) {
        std::thread([t] {
            for (unsigned i = 0;; ++i) {
                if (IsLogLevelEnabled(spdlog::level::debug)) {
                    Debug("thread {} message {}", t, i);
                }
                Error("thread {} error {}", t, i);
            }
        }).detach();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::exit(0);
}

TEST_F(LoggingLifecycleDeathTest, CallsDuringAndAfterDestructionAtExitAreSafeAndWriteNothing) {
    EXPECT_EXIT(ExitWhileThreadsLog(), ::testing::ExitedWithCode(0), "");
}

// --- Replacement while other threads log ---

TEST(LoggingLifecycle, MainLoggerReplacedWhileThreadsLog) {
    LogCapture capture("info");
    std::atomic<bool> stop{false};
    std::atomic<unsigned> written{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (unsigned i = 0; !stop.load(); ++i) {
                if (IsLogLevelEnabled(spdlog::level::info)) {
                    Info("thread {} message {}", t, i);
                }
                Warn("thread {} warning {}", t, std::to_string(i));
                written.fetch_add(1);
            }
        });
    }
    LoggerManager& manager = Singleton<LoggerManager>::Instance();
    for (int replacement = 0; replacement < 5; ++replacement) {
        unsigned const before = written.load();
        while (written.load() < before + 20) {
            std::this_thread::yield();
        }
        manager.InitiateMainLogger(true);
    }
    stop.store(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    Info("after the replacements");
    EXPECT_EQ(capture.Messages().back(), "after the replacements");
}

} // namespace
