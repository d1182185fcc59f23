#include "logging/Util.h"

#include "LoggingEnvironment.h"

#include <gtest/gtest.h>

#include <climits>
#include <codecvt>
#include <locale>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace profilermultiplexer;
using profilermultiplexer::tests::LoggingEnvironment;

namespace {

// --- UTF-16 to UTF-8 ---

struct ToUtf8Row {
    char const* name;
    std::u16string units;
    std::optional<std::string> bytes; // none: the conversion throws
};

void PrintTo(ToUtf8Row const& row, std::ostream* out) {
    *out << row.name;
}

class UtilUtf16ToUtf8 : public ::testing::TestWithParam<ToUtf8Row> {};

TEST_P(UtilUtf16ToUtf8, ConvertsOrThrows) {
    ToUtf8Row const& row = GetParam();
    if (row.bytes) {
        EXPECT_EQ(Util::utf16_to_utf8(row.units), *row.bytes);
    } else {
        try {
            Util::utf16_to_utf8(row.units);
            FAIL() << "no exception";
        } catch (std::range_error const& e) {
            EXPECT_STREQ(e.what(), "wstring_convert::to_bytes");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, UtilUtf16ToUtf8,
    ::testing::Values(ToUtf8Row{"Empty", u"", std::string()}, ToUtf8Row{"Ascii", u"abc", std::string("abc")},
                      ToUtf8Row{"EmbeddedZero", std::u16string{u'a', 0, u'b'}, std::string("a\0b", 3)},
                      ToUtf8Row{"TwoBytes", u"\u00e9", std::string("\xc3\xa9")},
                      ToUtf8Row{"SurrogatePair", std::u16string{0xD83D, 0xDE00},
                                std::string("\xf0\x9f\x98\x80")},
                      ToUtf8Row{"HighSurrogateThenLetter", std::u16string{0xD800, u'a'}, std::nullopt},
                      ToUtf8Row{"HighSurrogateAtEndDropped", std::u16string{u'a', 0xD800}, std::string("a")},
                      ToUtf8Row{"LoneLowSurrogate", std::u16string{0xDC00}, std::nullopt},
                      ToUtf8Row{"LowSurrogateInside", std::u16string{u'a', 0xDC00, u'b'}, std::nullopt}),
    [](auto const& info) { return std::string(info.param.name); });

// --- UTF-8 to UTF-16 ---

struct ToUtf16Row {
    char const* name;
    std::string bytes;
    std::optional<std::u16string> units; // none: the conversion throws
};

void PrintTo(ToUtf16Row const& row, std::ostream* out) {
    *out << row.name;
}

class UtilUtf8ToUtf16 : public ::testing::TestWithParam<ToUtf16Row> {};

TEST_P(UtilUtf8ToUtf16, ConvertsOrThrows) {
    ToUtf16Row const& row = GetParam();
    if (row.units) {
        EXPECT_EQ(Util::utf8_to_utf16(row.bytes), *row.units);
    } else {
        try {
            Util::utf8_to_utf16(row.bytes);
            FAIL() << "no exception";
        } catch (std::range_error const& e) {
            EXPECT_STREQ(e.what(), "wstring_convert::from_bytes");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, UtilUtf8ToUtf16,
    ::testing::Values(ToUtf16Row{"Ascii", "abc", std::u16string(u"abc")},
                      ToUtf16Row{"FourBytesToPair", "\xf0\x9f\x98\x80", std::u16string{0xD83D, 0xDE00}},
                      ToUtf16Row{"ByteOrderMarkKept",
                                 "\xef\xbb\xbf"
                                 "a",
                                 std::u16string{0xFEFF, u'a'}},
                      ToUtf16Row{"InvalidContinuation", "\xc3\x28", std::nullopt},
                      ToUtf16Row{"InvalidLeadByte", "a\xff", std::nullopt},
                      ToUtf16Row{"AboveLastCodePoint", "\xf4\x90\x80\x80", std::nullopt},
                      ToUtf16Row{"CutShortAtEndDropped", "a\xc3", std::u16string(u"a")},
                      ToUtf16Row{"CutShortThreeBytesDropped", "a\xe2\x82", std::u16string(u"a")}),
    [](auto const& info) { return std::string(info.param.name); });

// Every text of up to three units drawn from the boundaries of each UTF-8 length and of the surrogate
// ranges converts as the standard library's converter converts it, or fails where that one fails.
TEST(UtilConversion, Utf16ToUtf8AgreesWithStandardConverter) {
    const char16_t units[] = {0,      u'a',   0x7F,   0x80,   0x7FF,  0x800,  0xD7FF,
                              0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFEFF, 0xFFFF};
    std::vector<std::u16string> texts{u""};
    for (std::size_t begin = 0, length = 0; length < 3; ++length) {
        const std::size_t end = texts.size();
        for (std::size_t index = begin; index < end; ++index) {
            for (char16_t unit : units) {
                texts.push_back(texts[index] + unit);
            }
        }
        begin = end;
    }
    for (const std::u16string& text : texts) {
        std::optional<std::string> expected;
        try {
            expected = std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t>().to_bytes(text);
        } catch (const std::range_error&) {
        }
        std::optional<std::string> converted;
        try {
            converted = Util::utf16_to_utf8(text);
        } catch (const std::range_error& e) {
            EXPECT_STREQ(e.what(), "wstring_convert::to_bytes");
        }
        EXPECT_EQ(converted, expected)
            << ::testing::PrintToString(std::vector<int>(text.begin(), text.end()));
    }
}

TEST(UtilConversion, RoundTripOfSurrogatePair) {
    std::u16string const units{0xD83D, 0xDE00};
    EXPECT_EQ(Util::utf8_to_utf16(Util::utf16_to_utf8(units)), units);
}

// --- Trim ---

struct TrimRow {
    char const* name;
    std::u16string text;
    std::u16string trimmed;
};

void PrintTo(TrimRow const& row, std::ostream* out) {
    *out << row.name;
}

class UtilTrim : public ::testing::TestWithParam<TrimRow> {};

TEST_P(UtilTrim, RemovesOnlyOuterWhiteSpace) {
    EXPECT_EQ(Util::Trim(GetParam().text), GetParam().trimmed);
}

INSTANTIATE_TEST_SUITE_P(Table, UtilTrim,
                         ::testing::Values(TrimRow{"Empty", u"", u""}, TrimRow{"OnlyBlanks", u"   ", u""},
                                           TrimRow{"AllSixSpaces", u" \t\n\v\f\rx \t\n\v\f\r", u"x"},
                                           TrimRow{"InnerBlanksStay", u"  a b  ", u"a b"},
                                           TrimRow{"NoBreakSpaceKept", u"\u00a0x\u00a0", u"\u00a0x\u00a0"},
                                           TrimRow{"WideSpaceKept", u"\u2003x", u"\u2003x"},
                                           // 0x120 would be a blank if its low byte were tested.
                                           TrimRow{"UnitAboveByteKept", u"\u0120x\u0109", u"\u0120x\u0109"}),
                         [](auto const& info) { return std::string(info.param.name); });

// --- Environment ---

constexpr char const* TestVariable = "PM_UTIL_TEST_VARIABLE";

struct EnvironmentRow {
    char const* name;
    std::optional<std::string> value; // none: unset
    std::u16string expected;
};

void PrintTo(EnvironmentRow const& row, std::ostream* out) {
    *out << row.name;
}

class UtilGetEnvironmentValue : public ::testing::TestWithParam<EnvironmentRow> {};

TEST_P(UtilGetEnvironmentValue, GivesTrimmedValue) {
    LoggingEnvironment environment;
    if (GetParam().value) {
        environment.Set(TestVariable, *GetParam().value);
    } else {
        environment.Unset(TestVariable);
    }
    EXPECT_EQ(Util::GetEnvironmentValue(u"PM_UTIL_TEST_VARIABLE"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UtilGetEnvironmentValue,
    ::testing::Values(EnvironmentRow{"Unset", std::nullopt, u""},
                      EnvironmentRow{"Empty", std::string(""), u""},
                      EnvironmentRow{"ThreeBlanks", std::string("   "), u""},
                      EnvironmentRow{"TabWordLineFeed", std::string("\tinfo\n"), u"info"},
                      EnvironmentRow{"InnerBlankStays", std::string(" a b "), u"a b"},
                      EnvironmentRow{"Utf8Value", std::string("\xc3\xa9t\xc3\xa9"), u"\u00e9t\u00e9"}),
    [](auto const& info) { return std::string(info.param.name); });

TEST(UtilEnvironment, ValueThatIsNotUtf8Throws) {
    LoggingEnvironment environment;
    environment.Set(TestVariable, "\xc3\x28");
    EXPECT_THROW(Util::GetEnvironmentValue(u"PM_UTIL_TEST_VARIABLE"), std::range_error);
}

TEST(UtilEnvironment, NameEndsAtItsFirstZeroUnit) {
    LoggingEnvironment environment;
    environment.Set(TestVariable, "value");
    EXPECT_EQ(Util::GetEnvironmentValue(std::u16string(u"PM_UTIL_TEST_VARIABLE\0X", 23)), u"value");
}

// --- ToString and ToWString ---

TEST(UtilToString, EmbeddedZeroEndsTheText) {
    EXPECT_EQ(Util::ToString(std::u16string{u'a', 0, u'b'}), "a");
    EXPECT_EQ(Util::ToWString(std::string("a\0b", 3)), u"a");
}

TEST(UtilToString, PointerFormConvertsUpToTerminator) {
    EXPECT_EQ(Util::ToString(u"profiler \u00e9"), "profiler \xc3\xa9");
    char16_t const* const null = nullptr;
    EXPECT_THROW(Util::ToString(null), std::logic_error);
}

TEST(UtilToString, BrokenSurrogateThrows) {
    EXPECT_THROW(Util::ToString(std::u16string{0xD800, u'a'}), std::range_error);
}

TEST(UtilToString, WStringOfInvalidUtf8Throws) {
    EXPECT_THROW(Util::ToWString(std::string("\xc3\x28")), std::range_error);
}

class UtilIntToString : public ::testing::TestWithParam<std::pair<int, std::string>> {};

TEST_P(UtilIntToString, SignedDecimal) {
    EXPECT_EQ(Util::ToString(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Table, UtilIntToString,
                         ::testing::Values(std::make_pair(-1, "-1"), std::make_pair(0, "0"),
                                           std::make_pair(INT_MAX, "2147483647"),
                                           std::make_pair(INT_MIN, "-2147483648"),
                                           std::make_pair(static_cast<int>(0x80004005), "-2147467259")));

} // namespace
