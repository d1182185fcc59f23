#include "logging/Logging.h"

#include "LogCapture.h"
#include "SyslogRecorder.h"

#include <gtest/gtest.h>

#include <functional>
#include <syslog.h>

using namespace profilermultiplexer;
using namespace profilermultiplexer::tests;

namespace {

constexpr int E_FAIL_CODE = static_cast<int>(0x80004005);

// --- Levels ---

struct LevelRow {
    char const* word;
    std::vector<std::string> written; // of the messages "trace" .. "error", one per level function
};

void PrintTo(LevelRow const& row, std::ostream* out) {
    *out << row.word;
}

class LoggingLevel : public ::testing::TestWithParam<LevelRow> {};

void LogOneOfEach() {
    Trace("trace");
    Debug("debug");
    Info("info");
    Warn("warn");
    Error("error");
}

TEST_P(LoggingLevel, WritesMessagesAtOrAboveTheLevel) {
    LogCapture capture(GetParam().word);
    LogOneOfEach();
    EXPECT_EQ(capture.Messages(), GetParam().written);
    EXPECT_EQ(SyslogRecorder::Texts(), GetParam().written);
}

TEST_P(LoggingLevel, GuardAnswersTheSame) {
    LogCapture capture(GetParam().word);
    std::vector<std::string> enabled;
    std::pair<spdlog::level::level_enum, char const*> const levels[] = {{spdlog::level::trace, "trace"},
                                                                        {spdlog::level::debug, "debug"},
                                                                        {spdlog::level::info, "info"},
                                                                        {spdlog::level::warn, "warn"},
                                                                        {spdlog::level::err, "error"}};
    for (auto const& [level, name] : levels) {
        if (IsLogLevelEnabled(level)) {
            enabled.push_back(name);
        }
    }
    EXPECT_EQ(enabled, GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Table, LoggingLevel,
                         ::testing::Values(LevelRow{"trace", {"trace", "debug", "info", "warn", "error"}},
                                           LevelRow{"debug", {"debug", "info", "warn", "error"}},
                                           LevelRow{"info", {"info", "warn", "error"}},
                                           LevelRow{"warn", {"warn", "error"}}, LevelRow{"err", {"error"}},
                                           LevelRow{"critical", {}}, LevelRow{"off", {}}),
                         [](auto const& info) { return std::string(info.param.word); });

TEST(LoggingLevelLine, NamesLevelAndSystemLogGetsItsPriority) {
    LogCapture capture("trace");
    LogOneOfEach();
    std::vector<std::string> const lines = capture.Lines();
    std::vector<char const*> const names = {"[trace]", "[debug]", "[info]", "[warning]", "[error]"};
    ASSERT_EQ(lines.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_NE(lines[i].find(names[i]), std::string::npos) << lines[i];
    }
    std::vector<int> priorities;
    for (SyslogMessage const& message : SyslogRecorder::Messages()) {
        priorities.push_back(message.priority);
    }
    EXPECT_EQ(priorities, (std::vector<int>{LOG_DEBUG, LOG_DEBUG, LOG_INFO, LOG_WARNING, LOG_ERR}));
}

TEST(LoggingGuard, ValuesOfAGuardedCallAreNotComputedWhenTheLevelIsOff) {
    LogCapture capture("info");
    int computed = 0;
    auto methodName = [&] {
        ++computed;
        return std::string("[mod] Type::Method");
    };
    if (IsLogLevelEnabled(spdlog::level::trace)) {
        Trace("JIT compiled {}", methodName());
    }
    if (IsLogLevelEnabled(spdlog::level::info)) {
        Info("JIT compiled {}", methodName());
    }
    EXPECT_EQ(computed, 1);
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{"JIT compiled [mod] Type::Method"});
}

// --- Formats and values ---

unsigned char s_ilBody[] = "IL{}";

struct FormatRow {
    char const* name;
    std::function<void()> log;
    std::string message;
};

void PrintTo(FormatRow const& row, std::ostream* out) {
    *out << row.name;
}

class LoggingFormat : public ::testing::TestWithParam<FormatRow> {};

TEST_P(LoggingFormat, WritesMessage) {
    LogCapture capture("trace");
    GetParam().log();
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{GetParam().message});
}

std::string HexAddress(void const* address) {
    return fmt::format("{}", address);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoggingFormat,
    ::testing::Values(
        FormatRow{"TextAndNumber",
                  [] { Error("TargetProfilerFactory: profiler path is not set for {}, {}", "prof", 7u); },
                  "TargetProfilerFactory: profiler path is not set for prof, 7"},
        FormatRow{"StdStringValue", [] { Debug("name {}", std::string("[m] T::M")); }, "name [m] T::M"},
        FormatRow{"MutableCStringValue",
                  [] {
                      char text[] = "no such file";
                      Error("dlopen: {}", static_cast<char*>(text));
                  },
                  "dlopen: no such file"},
        FormatRow{"HresultHex", [] { Error("hr: {:x}", E_FAIL_CODE); }, "hr: -7fffbffb"},
        FormatRow{"HresultHexWithPrefix", [] { Error("hr: 0x{:x}", E_FAIL_CODE); }, "hr: 0x-7fffbffb"},
        FormatRow{"UnsignedLongHex", [] { Trace("function id: {:x}", 0x7ff012abcdul); },
                  "function id: 7ff012abcd"},
        FormatRow{"UnsignedDecimal", [] { Trace("Alloc with size: {:d}", 4096u); }, "Alloc with size: 4096"},
        FormatRow{"Binary", [] { Info("returning local mask: {:b}", 5u); }, "returning local mask: 101"},
        FormatRow{"BytePointerIsAnAddress",
                  [] { Trace("IL body {:p}", static_cast<unsigned char*>(s_ilBody)); },
                  "IL body " + HexAddress(s_ilBody)},
        FormatRow{"ConstBytePointerIsAnAddress",
                  [] { Info("IL body {:p}", static_cast<unsigned char const*>(s_ilBody)); },
                  "IL body " + HexAddress(s_ilBody)},
        FormatRow{"VoidPointer", [] { Trace("info {:p}", reinterpret_cast<void*>(0xabc0ul)); },
                  "info 0xabc0"},
        FormatRow{"Positional",
                  [] {
                      Error("Profiler: {0} => Result is {1} from calling {2}", "prof", E_FAIL_CODE,
                            "Initialize");
                  },
                  "Profiler: prof => Result is -2147467259 from calling Initialize"},
        FormatRow{"LiteralWithoutValuesKeepsBraces", [] { Error("text {} {:x} { }"); }, "text {} {:x} { }"},
        FormatRow{"RuntimeCStringWithoutValues",
                  [] {
                      char const* name = "ModuleLoadFinished {}";
                      Trace(name);
                  },
                  "ModuleLoadFinished {}"},
        FormatRow{"RuntimeStringWithoutValues", [] { Debug(std::string("IL_0000: ldarg {0}")); },
                  "IL_0000: ldarg {0}"},
        FormatRow{"ValueBracesNotParsed", [] { Warn("value {}", std::string("{:x} {0}")); },
                  "value {:x} {0}"},
        FormatRow{"InfoWConverts",
                  [] { InfoW(u"Loading {} from {}", std::u16string(u"pr\u00f6f"), std::u16string(u"/p")); },
                  "Loading pr\xc3\xb6"
                  "f from /p"},
        FormatRow{"ErrorWKeepsIntAsNumber",
                  [] { ErrorW(u"Target {} failed: {:x}", std::u16string(u"prof"), E_FAIL_CODE); },
                  "Target prof failed: -7fffbffb"}),
    [](auto const& info) { return std::string(info.param.name); });

TEST(LoggingFormat, MismatchedFormatWritesNothingAndLoggingGoesOn) {
    LogCapture capture("trace");
    ::testing::internal::CaptureStderr();
    Error("size {:d}", "not a number");
    Error("two fields {} {}", 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "nothing on the host's standard error";
    Error("after");
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{"after"});
    std::vector<std::string> const texts = SyslogRecorder::Texts();
    ASSERT_EQ(texts.size(), 2u) << "one fallback message for the burst";
    EXPECT_EQ(texts[0].rfind("Profiler Multiplexer: Logger Handler: ", 0), 0u) << texts[0];
    EXPECT_EQ(texts[1], "after");
}

TEST(LoggingFormat, UnconvertibleWideTextWritesNothing) {
    LogCapture capture("trace");
    std::u16string const broken{0xD800, u'a'};
    InfoW(u"value {}", broken);
    ErrorW(broken.c_str());
    ErrorW(nullptr);
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_TRUE(SyslogRecorder::Texts().empty());
}

TEST(LoggingFallback, MainLoggerInfoStillReachesSystemLogAfterAFallbackMessage) {
    LogCapture capture("info");
    PrimitiveLogOutput<char const*>("fallback");
    Info("info after fallback");
    Debug("not at this level");
    EXPECT_EQ(SyslogRecorder::Texts(),
              (std::vector<std::string>{"Profiler Multiplexer: fallback", "info after fallback"}));
}

TEST(LoggingMainLogger, WithoutSpdlogLoggerNothingIsWrittenAtAnyLevel) {
    LoggingEnvironment environment;
    environment.Unset("Tarnix_Agent_LogsFolder");
    environment.Set("CORECLR_PROFILER_HOME", "\xc3\x28"); // not UTF-8: the logger cannot be built
    environment.Set("Tarnix_Agent_LogLevel", "trace");
    LoggerManager& manager = Singleton<LoggerManager>::Instance();
    manager.SetLogLevel();
    SyslogRecorder::Clear();
    manager.InitiateMainLogger(true);
    SyslogRecorder::Clear();
    EXPECT_FALSE(IsLogLevelEnabled(spdlog::level::trace));
    EXPECT_FALSE(IsLogLevelEnabled(spdlog::level::err));
    Error("nothing {}", 1);
    Info("nothing");
    EXPECT_TRUE(SyslogRecorder::Texts().empty());
}

} // namespace
