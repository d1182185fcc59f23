// Defines every interface and class id of the system, each from its registry text form.

#include "ComBase.h"
#include "CorProfilerCallback.h"
#include "CorProfilerInfo.h"
#include "KnownGuids.h"
#include "MetaDataImport.h"
#include "ProfilerMultiplexerIds.h"

#include <cstring>
#include <stdexcept>

namespace {

constexpr std::size_t kGuidTextLength = 38; // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

constexpr uint32_t HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint32_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint32_t>(c - 'A' + 10);
    }
    throw std::invalid_argument("GUID text: not an upper-case hex digit");
}

constexpr uint32_t HexField(const char* text, std::size_t begin, std::size_t digits) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        value = value * 16 + HexValue(text[begin + i]);
    }
    return value;
}

constexpr void ExpectChar(const char* text, std::size_t position, char expected) {
    if (text[position] != expected) {
        throw std::invalid_argument("GUID text: misplaced brace or dash");
    }
}

// Parses the braced upper-case form; a malformed text fails the build, since every use is constant.
constexpr GUID ParseGuid(const char (&text)[kGuidTextLength + 1]) {
    ExpectChar(text, 0, '{');
    ExpectChar(text, 9, '-');
    ExpectChar(text, 14, '-');
    ExpectChar(text, 19, '-');
    ExpectChar(text, 24, '-');
    ExpectChar(text, 37, '}');
    GUID id{};
    id.Data1 = HexField(text, 1, 8);
    id.Data2 = static_cast<uint16_t>(HexField(text, 10, 4));
    id.Data3 = static_cast<uint16_t>(HexField(text, 15, 4));
    id.Data4[0] = static_cast<uint8_t>(HexField(text, 20, 2));
    id.Data4[1] = static_cast<uint8_t>(HexField(text, 22, 2));
    for (std::size_t i = 0; i < 6; ++i) {
        id.Data4[2 + i] = static_cast<uint8_t>(HexField(text, 25 + 2 * i, 2));
    }
    return id;
}

constexpr GUID kParseCheck = ParseGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
static_assert(kParseCheck.Data1 == 0x01234567 && kParseCheck.Data2 == 0x89AB && kParseCheck.Data3 == 0xCDEF &&
                  kParseCheck.Data4[0] == 0x01 && kParseCheck.Data4[1] == 0x23 &&
                  kParseCheck.Data4[2] == 0x45 && kParseCheck.Data4[7] == 0xEF,
              "GUID text fields land in Data1..Data4 in order");

} // namespace

// clang-format off
#define PM_KNOWN_GUIDS(X) \
    X(IID_IUnknown, "{00000000-0000-0000-C000-000000000046}") \
    X(IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}") \
    X(IID_ICorProfilerCallback, "{176FBED1-A55C-4796-98CA-A9DA0EF883E7}") \
    X(IID_ICorProfilerCallback2, "{8A8CC829-CCF2-49FE-BBAE-0F022228071A}") \
    X(IID_ICorProfilerCallback3, "{4FD2ED52-7731-4B8D-9469-03D2CC3086C5}") \
    X(IID_ICorProfilerCallback4, "{7B63B2E3-107D-4D48-B2F6-F61E229470D2}") \
    X(IID_ICorProfilerCallback5, "{8DFBA405-8C9F-45F8-BFFA-83B14CEF78B5}") \
    X(IID_ICorProfilerCallback6, "{FC13DF4B-4448-4F4F-950C-BA8D19D00C36}") \
    X(IID_ICorProfilerCallback7, "{F76A2DBA-1D52-4539-866C-2AA518F9EFC3}") \
    X(IID_ICorProfilerCallback8, "{5BED9B15-C079-4D47-BFE2-215A140C07E0}") \
    X(IID_ICorProfilerCallback9, "{27583EC3-C8F5-482F-8052-194B8CE4705A}") \
    X(IID_ICorProfilerInfo, "{28B5557D-3F3F-48B4-90B2-5F9EEA2F6C48}") \
    X(IID_ICorProfilerInfo2, "{CC0935CD-A518-487D-B0BB-A93214E65478}") \
    X(IID_ICorProfilerInfo3, "{B555ED4F-452A-4E54-8B39-B5360BAD32A0}") \
    X(IID_ICorProfilerInfo4, "{0D8FDCAA-6257-47BF-B1BF-94DAC88466EE}") \
    X(IID_ICorProfilerInfo5, "{07602928-CE38-4B83-81E7-74ADAF781214}") \
    X(IID_ICorProfilerInfo6, "{F30A070D-BFFB-46A7-B1D8-8781EF7B698A}") \
    X(IID_ICorProfilerInfo7, "{9AEECC0D-63E0-4187-8C00-E312F503F663}") \
    X(IID_ICorProfilerInfo8, "{C5AC80A6-782E-4716-8044-39598C60CFBF}") \
    X(IID_ICorProfilerInfo9, "{008170DB-F8CC-4796-9A51-DC8AA0B47012}") \
    X(IID_ICorProfilerInfo10, "{2F1B5152-C869-40C9-AA5F-3ABE026BD720}") \
    X(IID_ICorProfilerInfo11, "{06398876-8987-4154-B621-40A00D6E4D04}") \
    X(IID_ICorProfilerInfo12, "{27B24CCD-1CB1-47C5-96EE-98190DC30959}") \
    X(IID_ICorProfilerInfo13, "{6E6C7EE2-0701-4EC2-9D29-2E8733B66934}") \
    X(IID_ICorProfilerInfo14, "{F460E352-D76D-4FE9-835F-F6AF9D6E862D}") \
    X(IID_ICorProfilerInfo15, "{B446462D-BD22-41DD-872D-DC714C49EB56}") \
    X(IID_ICorProfilerFunctionControl, "{F0963021-E1EA-4732-8581-E01B0BD3C0C6}") \
    X(IID_IMethodMalloc, "{A0EFB28B-6EE2-4D7B-B983-A75EF7BEEDB8}") \
    X(IID_ICorProfilerAssemblyReferenceProvider, "{66A78C24-2EEF-4F65-B45F-DD1D8038BF3C}") \
    X(IID_IMetaDataImport, "{7DAC8207-D3AE-4C75-9B67-92801A497D44}") \
    X(IID_IMetaDataImport2, "{FCE5EFA0-8BBA-4F8E-A036-8F2022B08466}") \
    X(CLSID_CoreClrProfilerMultiplexer, "{3BF080FE-7DEB-4051-AEF1-BD3AB01F1883}") \
    X(CLSID_ClrProfilerMultiplexer, "{DBE6D54B-4A04-4FD0-83EB-12A1A9DEC58B}")
// clang-format on

// constexpr makes each id constant-initialised (usable from any static constructor); the extern
// declarations in the headers give it external linkage.
#define PM_DEFINE_GUID(name, text) constexpr GUID name = ParseGuid(text);
PM_KNOWN_GUIDS(PM_DEFINE_GUID)
#undef PM_DEFINE_GUID

bool operator==(const GUID& a, const GUID& b) noexcept {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

const std::vector<KnownGuid>& KnownGuids() {
#define PM_KNOWN_GUID_ROW(name, text) KnownGuid{#name, text, &name},
    static const std::vector<KnownGuid> table{PM_KNOWN_GUIDS(PM_KNOWN_GUID_ROW)};
#undef PM_KNOWN_GUID_ROW
    return table;
}
