#include "ilchain/MethodHeader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

using namespace profilermultiplexer;

namespace {

FatMethodHeader MakeHeader(unsigned flags, uint16_t maxStack, uint32_t codeSize, uint32_t localSig) {
    FatMethodHeader header{};
    header.SetFlags(flags);
    header.MaxStack = maxStack;
    header.CodeSize = codeSize;
    header.LocalVarSigTok = localSig;
    return header;
}

FatEHClause SmallClause(uint32_t flags = COR_ILEXCEPTION_CLAUSE_EXCEPTION) {
    return FatEHClause{flags, 0x10, 0x20, 0x30, 0x40, 0x01000002};
}

// A 4-byte aligned buffer, filled with bytes that would look like further sections if ever read.
struct Body {
    alignas(8) std::array<BYTE, 1024> bytes;
    Body() { bytes.fill(0xFF); }
    BYTE* At(size_t offset) { return bytes.data() + offset; }
};

// --- Header size and emission ---

struct HeaderSizeRow {
    const char* name;
    FatMethodHeader header;
    BOOL moreSections;
    unsigned expected;
};

void PrintTo(const HeaderSizeRow& row, std::ostream* os) {
    *os << row.name;
}

class MethodHeaderSizeTest : public testing::TestWithParam<HeaderSizeRow> {};

TEST_P(MethodHeaderSizeTest, ChoosesTinyOnlyWithinAllLimits) {
    EXPECT_EQ(IlmethodSize(&GetParam().header, GetParam().moreSections), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(MethodHeader, MethodHeaderSizeTest,
                         testing::Values(HeaderSizeRow{"AtTinyLimits", MakeHeader(0, 8, 63, 0), FALSE, 1},
                                         HeaderSizeRow{"FormatBitsOnly", MakeHeader(7, 0, 0, 0), FALSE, 1},
                                         HeaderSizeRow{"CodeSize64", MakeHeader(0, 8, 64, 0), FALSE, 12},
                                         HeaderSizeRow{"MaxStack9", MakeHeader(0, 9, 63, 0), FALSE, 12},
                                         HeaderSizeRow{"InitLocals", MakeHeader(0x10, 8, 63, 0), FALSE, 12},
                                         HeaderSizeRow{"LocalSig", MakeHeader(0, 8, 63, 0x11000001), FALSE,
                                                       12},
                                         HeaderSizeRow{"MoreSections", MakeHeader(0, 8, 63, 0), TRUE, 12}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MethodHeaderEmit, TinyWritesOneByte) {
    const FatMethodHeader header = MakeHeader(0, 8, 5, 0);
    std::array<BYTE, 2> out{0xAA, 0xAA};
    EXPECT_EQ(IlmethodEmit(1, &header, FALSE, out.data()), 1u);
    EXPECT_EQ(out, (std::array<BYTE, 2>{0x16, 0xAA}));
}

TEST(MethodHeaderEmit, FatSetsFormatMoreSectsAndSize) {
    const FatMethodHeader header = MakeHeader(0x10, 0x1234, 0x05060708, 0x11000002);
    std::array<BYTE, 12> out{};
    EXPECT_EQ(IlmethodEmit(12, &header, TRUE, out.data()), 12u);
    EXPECT_EQ(out,
              (std::array<BYTE, 12>{0x1B, 0x30, 0x34, 0x12, 0x08, 0x07, 0x06, 0x05, 0x02, 0x00, 0x00, 0x11}));
}

TEST(MethodHeaderEmit, FatKeepsExistingMoreSects) {
    const FatMethodHeader header = MakeHeader(CorILMethod_MoreSects, 8, 100, 0);
    std::array<BYTE, 12> out{};
    IlmethodEmit(12, &header, FALSE, out.data());
    EXPECT_EQ(out[0], 0x0B);
    EXPECT_EQ(out[1], 0x30);
}

// --- Decoding and on-disk size ---

TEST(MethodHeaderDecoder, TinyHeader) {
    const BYTE body[8] = {0x1A};
    MethodHeaderDecoder decoder;
    DecoderInit(&decoder, body);
    EXPECT_EQ(decoder.Header.CodeSize, 6u);
    EXPECT_EQ(decoder.Header.MaxStack, 8u);
    EXPECT_EQ(decoder.Header.Flags(), CorILMethod_TinyFormat);
    EXPECT_EQ(decoder.Code, body + 1);
    EXPECT_EQ(DecoderGetOnDiskSize(&decoder, body), 7u);
    EXPECT_EQ(MethodBodySize(body), 7u);
}

class MethodHeaderUnrecognisedTest : public testing::TestWithParam<BYTE> {};

TEST_P(MethodHeaderUnrecognisedTest, LeavesRecordCleared) {
    const BYTE body[16] = {GetParam(), 0x30};
    MethodHeaderDecoder decoder;
    std::memset(&decoder, 0xAB, sizeof(decoder));
    DecoderInit(&decoder, body);
    const std::array<BYTE, sizeof(decoder)> zeros{};
    EXPECT_EQ(std::memcmp(&decoder, zeros.data(), sizeof(decoder)), 0);
    EXPECT_EQ(DecoderGetOnDiskSize(&decoder, body), 0u);
    EXPECT_EQ(MethodBodySize(body), 0u);
}

INSTANTIATE_TEST_SUITE_P(MethodHeader, MethodHeaderUnrecognisedTest,
                         testing::Values(0x00, 0x01, 0x05, 0x07, 0xFF));

TEST(MethodHeaderDecoder, FatWithoutMoreSectsHasNoSections) {
    Body body;
    const FatMethodHeader header = MakeHeader(0, 8, 100, 0);
    IlmethodEmit(12, &header, FALSE, body.At(0));
    MethodHeaderDecoder decoder;
    DecoderInit(&decoder, body.At(0));
    EXPECT_EQ(decoder.Code, body.At(12));
    EXPECT_EQ(decoder.EH, nullptr);
    EXPECT_EQ(decoder.Sect, nullptr);
    EXPECT_EQ(DecoderGetOnDiskSize(&decoder, body.At(0)), 112u);
}

TEST(MethodHeaderDecoder, ShortFatHeaderLooksForNoSections) {
    Body body;
    FatMethodHeader header = MakeHeader(CorILMethod_FatFormat | CorILMethod_MoreSects, 8, 10, 0);
    header.SetSize(2);
    std::memcpy(body.At(0), &header, sizeof(header));
    MethodHeaderDecoder decoder;
    DecoderInit(&decoder, body.At(0));
    EXPECT_EQ(decoder.Code, body.At(8));
    EXPECT_EQ(decoder.Sect, nullptr);
    EXPECT_EQ(MethodBodySize(body.At(0)), 18u);
}

TEST(MethodHeaderDecoder, RoundTripFatHeaderCodeAndFatSection) {
    Body body;
    const FatMethodHeader header = MakeHeader(0, 4, 10, 0);
    std::vector<FatEHClause> clauses{SmallClause(), SmallClause()};
    clauses[1].HandlerLength = 256;
    const unsigned ehSize = SectEH_SizeExact(2, clauses.data());
    ASSERT_EQ(ehSize, 52u);
    IlmethodEmit(IlmethodSize(&header, TRUE), &header, TRUE, body.At(0));
    std::memset(body.At(12), 0x00, 12); // code and padding
    SectEH_Emit(ehSize, 2, clauses.data(), FALSE, body.At(24), nullptr);

    MethodHeaderDecoder decoder;
    DecoderInit(&decoder, body.At(0));
    EXPECT_EQ(decoder.EH, body.At(24));
    EXPECT_EQ(decoder.Sect, nullptr);
    EXPECT_EQ(DecoderGetOnDiskSize(&decoder, body.At(0)), 24 + ehSize);
    FatEHClause buffer{};
    EXPECT_EQ(SectEH_EHClause(const_cast<BYTE*>(decoder.EH), 1, &buffer)->HandlerLength, 256u);
}

TEST(MethodHeaderDecoder, WalksEveryChainedSection) {
    Body body;
    const FatMethodHeader header = MakeHeader(0, 4, 2, 0);
    const FatEHClause clause = SmallClause();
    IlmethodEmit(12, &header, TRUE, body.At(0));
    SectEH_Emit(16, 1, &clause, TRUE, body.At(16), nullptr);
    const BYTE other[] = {0x82, 0x00, 0x00, 0x00, 0x02, 0x06, 0x00, 0x00}; // DataSize 0, then DataSize 6
    std::memcpy(body.At(32), other, sizeof(other));

    MethodHeaderDecoder decoder;
    DecoderInit(&decoder, body.At(0));
    EXPECT_EQ(decoder.EH, body.At(16));
    EXPECT_EQ(decoder.Sect, body.At(32));
    EXPECT_EQ(MethodBodySize(body.At(0)), 42u);
}

TEST(MethodHeaderDecoder, NonExceptionFirstSectionIsSect) {
    Body body;
    const FatMethodHeader header = MakeHeader(0, 4, 1, 0);
    IlmethodEmit(12, &header, TRUE, body.At(0));
    const BYTE section[] = {0x02, 0x09};
    std::memcpy(body.At(16), section, sizeof(section));
    MethodHeaderDecoder decoder;
    DecoderInit(&decoder, body.At(0));
    EXPECT_EQ(decoder.EH, nullptr);
    EXPECT_EQ(decoder.Sect, body.At(16));
    EXPECT_EQ(MethodBodySize(body.At(0)), 25u);
}

struct DataSizeRow {
    const char* name;
    BYTE kind;
    uint32_t dataSize;
    ULONG expectedSectionSize;
};

void PrintTo(const DataSizeRow& row, std::ostream* os) {
    *os << row.name;
}

class MethodHeaderDataSizeTest : public testing::TestWithParam<DataSizeRow> {};

TEST_P(MethodHeaderDataSizeTest, CountsWholeClausesPlusHeader) {
    Body body;
    const FatMethodHeader header = MakeHeader(0, 4, 4, 0);
    IlmethodEmit(12, &header, TRUE, body.At(0));
    body.bytes[16] = GetParam().kind;
    body.bytes[17] = static_cast<BYTE>(GetParam().dataSize);
    body.bytes[18] = static_cast<BYTE>(GetParam().dataSize >> 8);
    body.bytes[19] = static_cast<BYTE>(GetParam().dataSize >> 16);
    EXPECT_EQ(MethodBodySize(body.At(0)), 16 + GetParam().expectedSectionSize);
}

INSTANTIATE_TEST_SUITE_P(MethodHeader, MethodHeaderDataSizeTest,
                         testing::Values(DataSizeRow{"SmallCorrect", 0x01, 3 * 12 + 4, 40},
                                         DataSizeRow{"SmallHeaderLeftOut", 0x01, 3 * 12, 40},
                                         DataSizeRow{"FatCorrect", 0x41, 3 * 24 + 4, 76},
                                         DataSizeRow{"FatHeaderLeftOut", 0x41, 3 * 24, 76},
                                         DataSizeRow{"FatOtherKind", 0x42, 0x10203, 0x10203}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Exception sections ---

struct SectionRow {
    const char* name;
    unsigned count;
    FatEHClause lastClause;
    unsigned expectedSize;
    BYTE expectedKind;
};

void PrintTo(const SectionRow& row, std::ostream* os) {
    *os << row.name;
}

FatEHClause Widened(uint32_t tryOffset, uint32_t tryLength, uint32_t handlerOffset, uint32_t handlerLength) {
    return FatEHClause{0, tryOffset, tryLength, handlerOffset, handlerLength, 0};
}

class MethodHeaderSectionTest : public testing::TestWithParam<SectionRow> {};

TEST_P(MethodHeaderSectionTest, SizeAndEmitAgreeOnForm) {
    const SectionRow& row = GetParam();
    std::vector<FatEHClause> clauses(row.count, SmallClause());
    clauses.back() = row.lastClause;
    EXPECT_EQ(SectEH_SizeExact(row.count, clauses.data()), row.expectedSize);

    std::vector<BYTE> out(row.expectedSize + 8, 0xEE);
    EXPECT_EQ(SectEH_Emit(row.expectedSize, row.count, clauses.data(), FALSE, out.data(), nullptr),
              row.expectedSize);
    EXPECT_EQ(out[0], row.expectedKind);
    const uint32_t dataSize = row.expectedKind == 0x01 ? out[1] : out[1] | (out[2] << 8) | (out[3] << 16);
    EXPECT_EQ(dataSize, row.expectedSize);
    EXPECT_EQ(out[row.expectedSize], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(
    MethodHeader, MethodHeaderSectionTest,
    testing::Values(SectionRow{"TwentyFit", 20, SmallClause(), 244, 0x01},
                    SectionRow{"TwentyOne", 21, SmallClause(), 508, 0x41},
                    SectionRow{"SmallLimits", 1, Widened(0xFFFF, 0xFF, 0xFFFF, 0xFF), 16, 0x01},
                    SectionRow{"TryOffsetWide", 2, Widened(0x10000, 1, 1, 1), 52, 0x41},
                    SectionRow{"TryLengthWide", 2, Widened(1, 0x100, 1, 1), 52, 0x41},
                    SectionRow{"HandlerOffsetWide", 2, Widened(1, 1, 0x10000, 1), 52, 0x41},
                    SectionRow{"HandlerLength256", 3, Widened(1, 1, 1, 256), 76, 0x41}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MethodHeaderSection, WorstCaseSizes) {
    EXPECT_EQ(SectEH_SizeExact(0, nullptr), 0u);
    EXPECT_EQ(SectEH_SizeWorst(0), 0u);
    EXPECT_EQ(SectEH_SizeWorst(3), 76u);
    EXPECT_EQ(SectEH_SizeWithCode(0, 100), 0u);
    EXPECT_EQ(SectEH_SizeWithCode(3, 100000), 76u);
}

TEST(MethodHeaderSection, EmitsSmallClauseBytes) {
    const FatEHClause clause{0x12345, 0x0102, 0x03, 0x0405, 0x06, 0x0A0B0C0D};
    std::array<BYTE, 16> out{};
    SectEH_Emit(16, 1, &clause, TRUE, out.data(), nullptr);
    EXPECT_EQ(out, (std::array<BYTE, 16>{0x81, 0x10, 0, 0, 0x45, 0x23, 0x02, 0x01, 0x03, 0x05, 0x04, 0x06,
                                         0x0D, 0x0C, 0x0B, 0x0A}));
}

TEST(MethodHeaderSection, EmitsFatClausesUnchanged) {
    std::vector<FatEHClause> clauses{Widened(1, 2, 3, 0x1000), FatEHClause{2, 5, 6, 7, 8, 9}};
    std::vector<BYTE> out(52);
    SectEH_Emit(52, 2, clauses.data(), TRUE, out.data(), nullptr);
    EXPECT_EQ(out[0], 0xC1);
    EXPECT_EQ(out[1], 52);
    EXPECT_EQ(std::memcmp(out.data() + 4, clauses.data(), 48), 0);
}

TEST(MethodHeaderSection, ReportsTypeTokenOffsetsOfTypedCatches) {
    std::vector<FatEHClause> clauses{SmallClause(0), SmallClause(2), SmallClause(0)};
    std::vector<BYTE> out(76);
    std::array<ULONG, 3> offsets{};
    SectEH_Emit(40, 3, clauses.data(), FALSE, out.data(), offsets.data());
    EXPECT_EQ(offsets, (std::array<ULONG, 3>{12, 0xFFFFFFFF, 36}));
    EXPECT_EQ(out[12], 0x02); // the class token's first byte
    clauses[1].TryOffset = 0x10000;
    SectEH_Emit(76, 3, clauses.data(), FALSE, out.data(), offsets.data());
    EXPECT_EQ(offsets, (std::array<ULONG, 3>{24, 0xFFFFFFFF, 72}));
    EXPECT_EQ(out[24], 0x02);
}

TEST(MethodHeaderSection, ReturnsCallerSizeForSmallerForm) {
    const FatEHClause clause = SmallClause();
    std::vector<BYTE> out(28);
    EXPECT_EQ(SectEH_Emit(SectEH_SizeWorst(1), 1, &clause, FALSE, out.data(), nullptr), 28u);
    EXPECT_EQ(out[0], 0x01);
}

TEST(MethodHeaderSection, WritesNothingWhenEmptyOrTooSmall) {
    std::vector<FatEHClause> clauses{Widened(1, 1, 1, 256)};
    std::array<BYTE, 28> out;
    out.fill(0xEE);
    std::array<ULONG, 1> offsets{7};
    EXPECT_EQ(SectEH_Emit(0, 1, clauses.data(), FALSE, out.data(), offsets.data()), 0u);
    EXPECT_EQ(SectEH_Emit(28, 0, clauses.data(), FALSE, out.data(), offsets.data()), 0u);
    EXPECT_EQ(SectEH_Emit(16, 1, clauses.data(), FALSE, out.data(), offsets.data()), 0u);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(offsets[0], 7u);
}

TEST(MethodHeaderSection, WidensSmallClauseWithoutSignExtension) {
    const BYTE section[] = {0x01, 28, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                            0,    0,  0xFF, 0xFF, 0xFE, 0xFF, 0xFD, 0xFC, 0xFF, 0xFB, 0xF1, 0xF2, 0xF3, 0xF4};
    FatEHClause buffer{};
    FatEHClause* clause = SectEH_EHClause(const_cast<BYTE*>(section), 1, &buffer);
    ASSERT_EQ(clause, &buffer);
    EXPECT_EQ(clause->Flags, 0x0000FFFFu);
    EXPECT_EQ(clause->TryOffset, 0x0000FFFEu);
    EXPECT_EQ(clause->TryLength, 0x000000FDu);
    EXPECT_EQ(clause->HandlerOffset, 0x0000FFFCu);
    EXPECT_EQ(clause->HandlerLength, 0x000000FBu);
    EXPECT_EQ(clause->ClassToken, 0xF4F3F2F1u);
}

TEST(MethodHeaderSection, FatClauseIsReadInPlace) {
    alignas(4) std::array<BYTE, 52> section{0x41, 52};
    FatEHClause buffer{};
    EXPECT_EQ(SectEH_EHClause(section.data(), 1, &buffer),
              reinterpret_cast<FatEHClause*>(section.data() + 28));
    EXPECT_EQ(buffer.ClassToken, 0u);
}

} // namespace
