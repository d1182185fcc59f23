#include "hosting/FakeComUtil.h"

#include "KnownGuids.h"
#include "logging/Util.h"
#include "platform/CorProfilerCallback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string>

using namespace profilermultiplexer;

namespace {

std::string GuidText(GUID const& id) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.Data1,
                  id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4],
                  id.Data4[5], id.Data4[6], id.Data4[7]);
    return text;
}

struct TextRow {
    char const* label;
    std::u16string text;
    std::optional<GUID> parsed; // nothing: CO_E_CLASSSTRING
};

void PrintTo(TextRow const& row, std::ostream* os) {
    *os << row.label;
}

class IIDFromStringTextTest : public ::testing::TestWithParam<TextRow> {};

TEST_P(IIDFromStringTextTest, AcceptsOnlyTheBracedForm) {
    TextRow const& row = GetParam();
    GUID out{};

    HRESULT const hr = IIDFromString(row.text.c_str(), &out);

    if (row.parsed) {
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(GuidText(out), GuidText(*row.parsed));
    } else {
        EXPECT_EQ(hr, CO_E_CLASSSTRING);
    }
}

std::u16string const Callback2Text = u"{8A8CC829-CCF2-49FE-BBAE-0F022228071A}";

std::u16string WithUnit(std::size_t position, char16_t unit) {
    std::u16string text = Callback2Text;
    text[position] = unit;
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IIDFromStringTextTest,
    ::testing::Values(
        TextRow{"UpperCase", Callback2Text, IID_ICorProfilerCallback2},
        TextRow{"MixedCase", u"{8A8CC829-CCF2-49fe-bbae-0F022228071A}", IID_ICorProfilerCallback2},
        TextRow{"AllDigits", u"{01234567-89ab-cdef-0123-456789ABCDEF}",
                GUID{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}},
        TextRow{"NoBraces", u"8A8CC829-CCF2-49FE-BBAE-0F022228071A", std::nullopt},
        TextRow{"NoClosingBrace", u"{8A8CC829-CCF2-49FE-BBAE-0F022228071A", std::nullopt},
        TextRow{"BlankAfterBrace", Callback2Text + u" ", std::nullopt},
        TextRow{"BlankBefore", u" " + Callback2Text, std::nullopt},
        TextRow{"TextAfterBrace", Callback2Text + u"}", std::nullopt},
        TextRow{"DigitMissing", u"{8A8CC829-CCF2-49FE-BBAE-0F022228071}", std::nullopt},
        TextRow{"DigitMissingInData1", u"{8A8CC82-CCF2-49FE-BBAE-0F022228071A}", std::nullopt},
        TextRow{"DigitTooMany", u"{8A8CC8290-CCF2-49FE-BBAE-0F022228071A}", std::nullopt},
        TextRow{"DashesMoved", u"{8A8CC829-CCF249FE--BBAE-0F022228071A}", std::nullopt},
        TextRow{"NoDashBeforeNode", u"{8A8CC829-CCF2-49FE-BBAE0-F022228071A}", std::nullopt},
        TextRow{"NotHex", WithUnit(5, u'G'), std::nullopt},
        TextRow{"HexLetterAboveByteRange", WithUnit(5, char16_t(0x0141)), std::nullopt},
        TextRow{"WideDigit", WithUnit(30, char16_t(0xFF10)), std::nullopt},
        TextRow{"BraceAboveByteRange", WithUnit(0, char16_t(0x017B)), std::nullopt},
        TextRow{"EndsEarlyAtNul", std::u16string(u"{8A8CC829\0-CCF2-49FE-BBAE-0F022228071A}", 39),
                std::nullopt},
        TextRow{"Empty", u"", std::nullopt}),
    [](auto const& info) { return std::string(info.param.label); });

TEST(IIDFromStringTest, NullTextFailsWithoutTouchingOut) {
    GUID out{0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};

    EXPECT_EQ(IIDFromString(nullptr, &out), CO_E_CLASSSTRING);
    EXPECT_EQ(GuidText(out), "{11111111-2222-3333-0404-040404040404}");
}

TEST(IIDFromStringTest, NullOutIsRefused) {
    EXPECT_EQ(IIDFromString(Callback2Text.c_str(), nullptr), E_INVALIDARG);
}

TEST(IIDFromStringTest, RoundTripsEveryKnownId) {
    for (KnownGuid const& known : KnownGuids()) {
        std::string lower = known.text;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        for (std::string const& text : {std::string(known.text), lower}) {
            GUID out{};
            ASSERT_EQ(IIDFromString(Util::utf8_to_utf16(text).c_str(), &out), S_OK) << text;
            EXPECT_TRUE(out == *known.id) << known.name << " from " << text;
        }
    }
}

} // namespace
