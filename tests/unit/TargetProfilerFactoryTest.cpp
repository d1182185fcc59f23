#include "hosting/TargetProfilerFactory.h"

#include "HostingTestSupport.h"
#include "LogCapture.h"
#include "logging/Util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using namespace profilermultiplexer;
using namespace profilermultiplexer::tests;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr char const* SomeClsid = "{8A8CC829-CCF2-49FE-BBAE-0F022228071A}";
constexpr char const* OtherClsid = "{5D3D6A1E-6C1B-4B8E-9E57-3C8F0E2A4B11}";

std::vector<std::string> Names(std::vector<ProfilerSettings> const& settings) {
    std::vector<std::string> names;
    for (ProfilerSettings const& entry : settings) {
        names.push_back(Util::ToString(entry.name));
    }
    return names;
}

auto RowLabel = [](auto const& info) { return std::string(info.param.label); };

std::vector<std::string> FactoryMessages(LogCapture const& capture) {
    return LeveledMessagesStartingWith(capture, "TargetProfilerFactory");
}

class BuildProfilerSetTest : public ::testing::Test {
protected:
    LogCapture _capture{"info"};
    TargetEnvironment _environment;
};

TEST_F(BuildProfilerSetTest, ReadsEveryFieldAndLogsEachDecision) {
    _environment.SetList("Alpha");
    _environment.SetTarget("Alpha", "/opt/alpha.so", SomeClsid, "7");
    _environment.Set("Alpha", "_REVERT_REJIT_CALL_ORDER", "2");

    std::vector<ProfilerSettings> const settings = TargetProfilerFactory::BuildProfilerSet(true);

    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0].name, u"Alpha");
    EXPECT_EQ(settings[0].path, u"/opt/alpha.so");
    EXPECT_EQ(settings[0].clsid, u"{8A8CC829-CCF2-49FE-BBAE-0F022228071A}");
    EXPECT_EQ(settings[0].priority, 7.0);
    EXPECT_TRUE(settings[0].revertRejitCallOrder);
    EXPECT_THAT(
        FactoryMessages(_capture),
        ElementsAre(
            "info: TargetProfilerFactory: CORECLR_Alpha_ENABLE_PROFILING environment variable is empty",
            "info: TargetProfilerFactory: [CORECLR_Alpha_PROFILER_PATH]=\"/opt/alpha.so\"",
            "info: TargetProfilerFactory: [CORECLR_Alpha_PROFILER]=\"{8A8CC829-CCF2-49FE-BBAE-"
            "0F022228071A}\"",
            "info: TargetProfilerFactory: [CORECLR_Alpha_PRIORITY]=\"7\"",
            "info: TargetProfilerFactory: The environment variable CORECLR_Alpha_REVERT_REJIT_CALL_"
            "ORDER is set for Alpha, it will be treated as a misbehave profiler"));
}

TEST_F(BuildProfilerSetTest, ClrPrefixReadsOnlyCorVariables) {
    TargetEnvironment cor("COR_");
    _environment.SetList("Core");
    _environment.SetTarget("Core", "/core.so", SomeClsid, "1");
    cor.SetList("Desktop");
    cor.SetTarget("Desktop", "/desktop.so", SomeClsid, "1");

    EXPECT_THAT(Names(TargetProfilerFactory::BuildProfilerSet(false)), ElementsAre("Desktop"));
    EXPECT_THAT(Names(TargetProfilerFactory::BuildProfilerSet(true)), ElementsAre("Core"));
}

TEST_F(BuildProfilerSetTest, SortsByAscendingPriority) {
    _environment.SetList("a;b;c;");
    _environment.SetTarget("a", "/a.so", SomeClsid, "10");
    _environment.SetTarget("b", "/b.so", SomeClsid, "2.5");
    _environment.SetTarget("c", "/c.so", SomeClsid, "-4");

    std::vector<ProfilerSettings> const settings = TargetProfilerFactory::BuildProfilerSet(true);

    EXPECT_THAT(Names(settings), ElementsAre("c", "b", "a"));
    EXPECT_EQ(settings[1].path, u"/b.so");
}

TEST_F(BuildProfilerSetTest, EqualPrioritiesKeepListOrder) {
    _environment.SetList("t0;t1;t2;t3;t4;t5;t6;t7;t8;t9");
    for (int i = 0; i < 10; ++i) {
        std::string const name = "t" + std::to_string(i);
        _environment.SetTarget(name, "/" + name + ".so", SomeClsid, i % 2 == 0 ? "1" : "0");
    }

    EXPECT_THAT(Names(TargetProfilerFactory::BuildProfilerSet(true)),
                ElementsAre("t1", "t3", "t5", "t7", "t9", "t0", "t2", "t4", "t6", "t8"));
}

TEST_F(BuildProfilerSetTest, PriorityThatIsNotANumberSortsLast) {
    _environment.SetList("n1;one;n2;minus;inf");
    _environment.SetTarget("n1", "/n1.so", SomeClsid, "nan");
    _environment.SetTarget("one", "/one.so", SomeClsid, "1");
    _environment.SetTarget("n2", "/n2.so", SomeClsid, "NAN");
    _environment.SetTarget("minus", "/minus.so", SomeClsid, "-1");
    _environment.SetTarget("inf", "/inf.so", SomeClsid, "inf");

    std::vector<ProfilerSettings> const settings = TargetProfilerFactory::BuildProfilerSet(true);

    EXPECT_THAT(Names(settings), ElementsAre("minus", "one", "inf", "n1", "n2"));
    EXPECT_TRUE(std::isnan(settings[3].priority));
}

TEST_F(BuildProfilerSetTest, Path64WinsOverPath) {
    _environment.SetList("a");
    _environment.SetTarget("a", "/plain.so", SomeClsid, "1");
    _environment.Set("a", "_PROFILER_PATH_64", "  /wide.so ");

    std::vector<ProfilerSettings> const settings = TargetProfilerFactory::BuildProfilerSet(true);

    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0].path, u"/wide.so");
    EXPECT_THAT(
        FactoryMessages(_capture),
        ::testing::Contains("info: TargetProfilerFactory: [CORECLR_a_PROFILER_PATH_64]=\"/wide.so\""));
}

std::string Warning(std::string const& text) {
    return "warning: TargetProfilerFactory: " + text;
}

// The target list's value, the names it gives and the warnings on the way. Every name given is configured
// completely (a library of its own), or those named in configured.
struct ListRow {
    char const* label;
    std::optional<std::string> list;
    std::vector<std::string> names;
    std::vector<std::string> warnings = {};
    std::vector<std::string> configured = {};
};

void PrintTo(const ListRow& row, std::ostream* os) {
    *os << row.label;
}

class TargetListTest : public BuildProfilerSetTest, public ::testing::WithParamInterface<ListRow> {};

TEST_P(TargetListTest, GivesTheNamesInListOrder) {
    ListRow const& row = GetParam();
    if (row.list) {
        _environment.SetList(*row.list);
    }
    int priority = 0;
    for (std::string const& name : row.configured.empty() ? row.names : row.configured) {
        _environment.SetTarget(name, "/" + name + ".so", SomeClsid, std::to_string(priority++));
    }

    EXPECT_EQ(Names(TargetProfilerFactory::BuildProfilerSet(true)), row.names);
    if (row.names.empty()) {
        EXPECT_THAT(FactoryMessages(_capture), IsEmpty());
    }
    std::vector<std::string> warnings;
    for (std::string const& message : FactoryMessages(_capture)) {
        if (message.rfind("warning: ", 0) == 0) {
            warnings.push_back(message);
        }
    }
    EXPECT_EQ(warnings, row.warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, TargetListTest,
    ::testing::Values(ListRow{"Unset", std::nullopt, {}}, ListRow{"Empty", "", {}},
                      ListRow{"Blank", "  \t ", {}}, ListRow{"One", "a", {"a"}},
                      ListRow{"FinalSeparatorDropped", "a;b;", {"a", "b"}},
                      ListRow{"EmptyNameInside", "a;;b", {"a", "", "b"}},
                      ListRow{"EmptyNameFirst", ";a", {"", "a"}}, ListRow{"OnlySeparator", ";", {""}},
                      ListRow{"BlanksKept", "a ; b", {"a ", " b"}},
                      ListRow{"BlankAfterSeparatorKept",
                              "a; b",
                              {"a"},
                              {Warning("profiler path is not set for  b, it will be skipped")},
                              {"a", "b"}},
                      ListRow{"SameNameTwice",
                              "a;b;a",
                              {"a", "b"},
                              {Warning("a has the same profiler path and class id as a, it "
                                       "will be skipped")}}),
    RowLabel);

// One variable of a target "t", and the targets given: t and u, which has t's library and another class id,
// or one of them.
struct VariableRow {
    char const* label;
    char const* suffix;
    std::optional<std::string> value; // unset when empty
    std::vector<std::string> names;
    std::vector<std::string> messages; // the messages about the variable or the target, in order
};

std::vector<std::string> const Kept{"t", "u"};
std::vector<std::string> const Dropped{"u"};

void PrintTo(VariableRow const& row, std::ostream* os) {
    *os << row.label;
}

class TargetVariableTest : public BuildProfilerSetTest, public ::testing::WithParamInterface<VariableRow> {};

TEST_P(TargetVariableTest, DecidesTheTarget) {
    VariableRow const& row = GetParam();
    _environment.SetList("t;u");
    _environment.SetTarget("t", "/t.so", SomeClsid, "1");
    _environment.SetTarget("u", "/t.so", OtherClsid, "2");
    if (row.value) {
        _environment.Set("t", row.suffix, *row.value);
    } else {
        _environment.Unset("t", row.suffix);
    }

    std::vector<ProfilerSettings> const settings = TargetProfilerFactory::BuildProfilerSet(true);

    EXPECT_EQ(Names(settings), row.names);
    std::string const variable = std::string("CORECLR_t") + row.suffix;
    std::vector<std::string> aboutVariable;
    for (std::string const& message : FactoryMessages(_capture)) {
        bool const namesVariable = message.find(variable + " ") != std::string::npos ||
                                   message.find(variable + "]") != std::string::npos;
        if (namesVariable || message.find("profiler path is not set for t,") != std::string::npos ||
            message.find("same profiler path") != std::string::npos) {
            aboutVariable.push_back(message);
        }
    }
    EXPECT_EQ(aboutVariable, row.messages);
}

std::string Line(std::string const& text) {
    return "info: TargetProfilerFactory: " + text;
}

std::string ValueLine(std::string const& suffix, std::string const& value) {
    return Line("[CORECLR_t" + suffix + "]=\"" + value + "\"");
}

std::string NotANumberLine(std::string const& suffix) {
    return Warning("The environment variable CORECLR_t" + suffix +
                   " is not a valid number for t, it will be skipped");
}

std::string const EnableEmpty = Line("CORECLR_t_ENABLE_PROFILING environment variable is empty");
std::string const EnableZero =
    Line("CORECLR_t_ENABLE_PROFILING environment variable is set to zero, t will be skipped");
std::string const RevertUnset =
    Line("The environment variable CORECLR_t_REVERT_REJIT_CALL_ORDER does not exist for t, "
         "it will be treated as a well-behave profiler");
std::string const RevertSet =
    Line("The environment variable CORECLR_t_REVERT_REJIT_CALL_ORDER is set for t, it will be "
         "treated as a misbehave profiler");

std::string NotSetLine(std::string const& suffix) {
    return Warning("The environment variable CORECLR_t" + suffix + " is not set for t, it will be skipped");
}

INSTANTIATE_TEST_SUITE_P(
    Enable, TargetVariableTest,
    ::testing::Values(
        VariableRow{"Unset", "_ENABLE_PROFILING", std::nullopt, Kept, {EnableEmpty}},
        VariableRow{"Blank", "_ENABLE_PROFILING", "   ", Kept, {EnableEmpty}},
        VariableRow{"Zero", "_ENABLE_PROFILING", "0", Dropped, {EnableZero}},
        VariableRow{"DoubleZero", "_ENABLE_PROFILING", "00", Dropped, {EnableZero}},
        VariableRow{"HexReadsAsZero", "_ENABLE_PROFILING", "0x10", Dropped, {EnableZero}},
        VariableRow{"One", "_ENABLE_PROFILING", "1", Kept, {ValueLine("_ENABLE_PROFILING", "1")}},
        VariableRow{"TrailingTextIgnored",
                    "_ENABLE_PROFILING",
                    "1abc",
                    Kept,
                    {ValueLine("_ENABLE_PROFILING", "1abc")}},
        VariableRow{"Negative", "_ENABLE_PROFILING", "-3", Kept, {ValueLine("_ENABLE_PROFILING", "-3")}},
        VariableRow{"NotANumber", "_ENABLE_PROFILING", "abc", Dropped, {NotANumberLine("_ENABLE_PROFILING")}},
        VariableRow{"OutOfRange",
                    "_ENABLE_PROFILING",
                    "99999999999",
                    Dropped,
                    {NotANumberLine("_ENABLE_PROFILING")}}),
    RowLabel);

INSTANTIATE_TEST_SUITE_P(
    Required, TargetVariableTest,
    ::testing::Values(
        VariableRow{"NoPath",
                    "_PROFILER_PATH",
                    std::nullopt,
                    Dropped,
                    {Warning("profiler path is not set for t, it will be skipped")}},
        VariableRow{"NoClassId", "_PROFILER", "", Dropped, {NotSetLine("_PROFILER")}},
        VariableRow{"NoPriority", "_PRIORITY", std::nullopt, Dropped, {NotSetLine("_PRIORITY")}},
        VariableRow{"SameLibraryAndClassIdAsAnother",
                    "_PROFILER",
                    OtherClsid,
                    {"t"},
                    {ValueLine("_PROFILER", OtherClsid),
                     Warning("u has the same profiler path and class id as t, it will be skipped")}},
        VariableRow{"SameClassIdInOtherCase",
                    "_PROFILER",
                    "{5d3d6a1e-6c1b-4b8e-9e57-3c8f0e2a4b11}",
                    {"t"},
                    {ValueLine("_PROFILER", "{5d3d6a1e-6c1b-4b8e-9e57-3c8f0e2a4b11}"),
                     Warning("u has the same profiler path and class id as t, it will be skipped")}}),
    RowLabel);

INSTANTIATE_TEST_SUITE_P(
    Priority, TargetVariableTest,
    ::testing::Values(VariableRow{"NotANumber",
                                  "_PRIORITY",
                                  "abc",
                                  Dropped,
                                  {ValueLine("_PRIORITY", "abc"), NotANumberLine("_PRIORITY")}},
                      VariableRow{"Underflow",
                                  "_PRIORITY",
                                  "1e-400",
                                  Dropped,
                                  {ValueLine("_PRIORITY", "1e-400"), NotANumberLine("_PRIORITY")}},
                      VariableRow{"Overflow",
                                  "_PRIORITY",
                                  "1e400",
                                  Dropped,
                                  {ValueLine("_PRIORITY", "1e400"), NotANumberLine("_PRIORITY")}}),
    RowLabel);

INSTANTIATE_TEST_SUITE_P(
    Revert, TargetVariableTest,
    ::testing::Values(VariableRow{"Unset", "_REVERT_REJIT_CALL_ORDER", std::nullopt, Kept, {RevertUnset}},
                      VariableRow{"Zero", "_REVERT_REJIT_CALL_ORDER", "0", Kept, {}},
                      VariableRow{"Two", "_REVERT_REJIT_CALL_ORDER", "2", Kept, {RevertSet}},
                      VariableRow{"NotANumber",
                                  "_REVERT_REJIT_CALL_ORDER",
                                  "yes",
                                  Dropped,
                                  {NotANumberLine("_REVERT_REJIT_CALL_ORDER")}},
                      VariableRow{"OutOfRange",
                                  "_REVERT_REJIT_CALL_ORDER",
                                  "-99999999999",
                                  Dropped,
                                  {NotANumberLine("_REVERT_REJIT_CALL_ORDER")}}),
    RowLabel);

// A priority value and the number it gives.
struct PriorityRow {
    char const* label;
    char const* value;
    double priority;
};

void PrintTo(const PriorityRow& row, std::ostream* os) {
    *os << row.label;
}

class PriorityValueTest : public BuildProfilerSetTest, public ::testing::WithParamInterface<PriorityRow> {};

TEST_P(PriorityValueTest, ParsesLikeTheStandardConversion) {
    _environment.SetList("t");
    _environment.SetTarget("t", "/t.so", SomeClsid, GetParam().value);

    std::vector<ProfilerSettings> const settings = TargetProfilerFactory::BuildProfilerSet(true);

    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0].priority, GetParam().priority);
}

INSTANTIATE_TEST_SUITE_P(Values, PriorityValueTest,
                         ::testing::Values(PriorityRow{"Fraction", "2.5", 2.5},
                                           PriorityRow{"Negative", "-3", -3.0},
                                           PriorityRow{"Hexadecimal", "0x10", 16.0},
                                           PriorityRow{"Exponent", "1e2", 100.0},
                                           PriorityRow{"TrailingTextIgnored", "4abc", 4.0}),
                         RowLabel);

TEST_F(BuildProfilerSetTest, ZeroEnableReadsNoOtherVariable) {
    _environment.SetList("t");
    _environment.Set("t", "_ENABLE_PROFILING", "0");
    _environment.Set("t", "_PROFILER_PATH", "/t.so");

    EXPECT_THAT(TargetProfilerFactory::BuildProfilerSet(true), IsEmpty());
    EXPECT_THAT(
        FactoryMessages(_capture),
        ElementsAre("info: TargetProfilerFactory: CORECLR_t_ENABLE_PROFILING environment variable is set to "
                    "zero, t will be skipped"));
}

TEST_F(BuildProfilerSetTest, ValueThatIsNotUtf8Throws) {
    _environment.SetList("t");
    _environment.SetTarget("t", "/t.so", SomeClsid, "\xC3\x28");

    EXPECT_THROW(TargetProfilerFactory::BuildProfilerSet(true), std::range_error);
}

} // namespace
