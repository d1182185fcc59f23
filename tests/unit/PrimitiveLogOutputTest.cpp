#include "logging/PrimitiveLogOutput.h"

#include "SyslogRecorder.h"

#include <gtest/gtest.h>

#include <functional>
#include <syslog.h>
#include <thread>
#include <vector>

using namespace profilermultiplexer;
using profilermultiplexer::tests::SyslogMessage;
using profilermultiplexer::tests::SyslogRecorder;

namespace {

class PrimitiveLogOutputTest : public ::testing::Test {
protected:
    void SetUp() override { SyslogRecorder::Clear(); }
};

// --- How each value type is written ---

unsigned char s_bytes[] = "AB%s";

struct ValueRow {
    char const* name;
    std::function<void()> write;
    char const* text; // after the prefix
};

void PrintTo(ValueRow const& row, std::ostream* out) {
    *out << row.name;
}

class PrimitiveLogOutputValue : public PrimitiveLogOutputTest,
                                public ::testing::WithParamInterface<ValueRow> {};

TEST_P(PrimitiveLogOutputValue, WritesPrefixAndValue) {
    GetParam().write();
    std::vector<std::string> const texts = SyslogRecorder::Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], std::string("Profiler Multiplexer: ") + GetParam().text);
}

char s_mutableText[] = "dlopen failed";

INSTANTIATE_TEST_SUITE_P(
    Table, PrimitiveLogOutputValue,
    ::testing::Values(
        ValueRow{"CString", [] { PrimitiveLogOutput<char const*>("profiler {} failed"); },
                 "profiler {} failed"},
        ValueRow{"NullCString", [] { PrimitiveLogOutput<char const*>(nullptr); }, ""},
        ValueRow{"MutableCString", [] { PrimitiveLogOutput<char*>(s_mutableText); }, "dlopen failed"},
        ValueRow{"NullMutableCString", [] { PrimitiveLogOutput<char*>(nullptr); }, ""},
        ValueRow{"PercentUnchanged", [] { PrimitiveLogOutput<std::string>("100% {:x} %s %n"); },
                 "100% {:x} %s %n"},
        ValueRow{"Utf8Unchanged", [] { PrimitiveLogOutput<std::string>("caf\xc3\xa9"); }, "caf\xc3\xa9"},
        ValueRow{"FailureHresult", [] { PrimitiveLogOutput<int>(static_cast<int>(0x80004005)); },
                 "-2147467259"},
        ValueRow{"UnsignedInt", [] { PrimitiveLogOutput<unsigned int>(4294967295u); }, "4294967295"},
        ValueRow{"ModuleIdInDecimal", [] { PrimitiveLogOutput<unsigned long>(0x7f00123456ul); },
                 "545462039638"},
        ValueRow{"NullVoidPointer", [] { PrimitiveLogOutput<void*>(nullptr); }, "0"},
        ValueRow{"VoidPointer", [] { PrimitiveLogOutput<void*>(reinterpret_cast<void*>(0x1234abcdul)); },
                 "0x1234abcd"},
        ValueRow{"NullBytePointer", [] { PrimitiveLogOutput<unsigned char*>(nullptr); }, "0"},
        ValueRow{"BytePointerIsAnAddress",
                 [] { PrimitiveLogOutput<unsigned char*>(reinterpret_cast<unsigned char*>(0xabcdef0ul)); },
                 "0xabcdef0"},
        ValueRow{"NullConstBytePointer", [] { PrimitiveLogOutput<unsigned char const*>(nullptr); }, "0"},
        ValueRow{
            "ConstBytePointerIsAnAddress",
            [] { PrimitiveLogOutput<unsigned char const*>(reinterpret_cast<unsigned char const*>(0x10ul)); },
            "0x10"}),
    [](auto const& info) { return std::string(info.param.name); });

TEST_F(PrimitiveLogOutputTest, BytePointerNeverWritesTheBytes) {
    PrimitiveLogOutput<unsigned char*>(s_bytes);
    std::string const text = SyslogRecorder::Texts().at(0);
    EXPECT_EQ(text.find("AB"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("Profiler Multiplexer: 0x", 0), 0u) << text;
}

// --- System-log settings ---

TEST_F(PrimitiveLogOutputTest, OneEmergencyMessageOnLocal1WithItsIdentBetweenOpenAndClose) {
    PrimitiveLogOutput<int>(7);
    std::vector<SyslogMessage> const messages = SyslogRecorder::Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].priority, LOG_EMERG);
    EXPECT_EQ(messages[0].facility, LOG_LOCAL1);
    EXPECT_EQ(messages[0].ident, "ProfilerMultiplexer");
    EXPECT_EQ(messages[0].options, LOG_PID | LOG_CONS | LOG_NDELAY);
    EXPECT_TRUE(messages[0].opened);
    EXPECT_FALSE(SyslogRecorder::IsOpen());
}

TEST_F(PrimitiveLogOutputTest, RestoresTheMaskAfterEachMessage) {
    int const original = setlogmask(LOG_UPTO(LOG_DEBUG));
    PrimitiveLogOutput<char const*>("first");
    EXPECT_EQ(SyslogRecorder::Mask(), LOG_UPTO(LOG_DEBUG));
    syslog(LOG_INFO, "%s", "info after the fallback");
    EXPECT_EQ(SyslogRecorder::Texts().back(), "info after the fallback");
    setlogmask(original);
}

TEST_F(PrimitiveLogOutputTest, WritesEvenWhenTheMaskExcludedEmergencies) {
    int const original = setlogmask(LOG_MASK(LOG_INFO));
    PrimitiveLogOutput<char const*>("through");
    EXPECT_EQ(SyslogRecorder::Texts(), std::vector<std::string>{"Profiler Multiplexer: through"});
    EXPECT_EQ(SyslogRecorder::Mask(), LOG_MASK(LOG_INFO));
    setlogmask(original);
}

TEST_F(PrimitiveLogOutputTest, ConcurrentMessagesAllArriveAndLeaveTheMaskAlone) {
    int const original = setlogmask(LOG_UPTO(LOG_DEBUG));
    constexpr int Threads = 4;
    constexpr int PerThread = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i) {
                PrimitiveLogOutput<int>(t * PerThread + i);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<SyslogMessage> const messages = SyslogRecorder::Messages();
    EXPECT_EQ(messages.size(), static_cast<std::size_t>(Threads * PerThread));
    for (SyslogMessage const& message : messages) {
        ASSERT_EQ(message.ident, "ProfilerMultiplexer");
    }
    EXPECT_EQ(SyslogRecorder::Mask(), LOG_UPTO(LOG_DEBUG));
    setlogmask(original);
}

} // namespace
