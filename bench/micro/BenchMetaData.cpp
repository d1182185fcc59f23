#include "micro/BenchMetaData.h"

#include <algorithm>
#include <string>

namespace pmbench {

namespace {

// Copies text and its terminating 0 into the buffer, cut to fit; the full length goes to length.
void WriteName(const std::u16string& text, LPWSTR buffer, ULONG capacity, ULONG* length) {
    if (length != nullptr) {
        *length = static_cast<ULONG>(text.size() + 1);
    }
    if (buffer == nullptr || capacity == 0) {
        return;
    }
    const std::size_t count = std::min<std::size_t>(text.size(), capacity - 1);
    text.copy(buffer, count);
    buffer[count] = u'\0';
}

} // namespace

HRESULT BenchMetaData::GetScopeProps(LPWSTR szName, ULONG cchName, ULONG* pchName, GUID* /*pmvid*/) {
    WriteName(u"Bench.dll", szName, cchName, pchName);
    return S_OK;
}

HRESULT BenchMetaData::GetTypeDefProps(mdTypeDef /*td*/, LPWSTR szTypeDef, ULONG cchTypeDef,
                                       ULONG* pchTypeDef, DWORD* /*pdwTypeDefFlags*/,
                                       mdToken* /*ptkExtends*/) {
    WriteName(u"Bench.Generated.Type", szTypeDef, cchTypeDef, pchTypeDef);
    return S_OK;
}

HRESULT BenchMetaData::GetMethodProps(mdMethodDef mb, mdTypeDef* pClass, LPWSTR szMethod, ULONG cchMethod,
                                      ULONG* pchMethod, DWORD* /*pdwAttr*/, PCCOR_SIGNATURE* /*ppvSigBlob*/,
                                      ULONG* /*pcbSigBlob*/, ULONG* /*pulCodeRVA*/, DWORD* /*pdwImplFlags*/) {
    if (pClass != nullptr) {
        *pClass = 0x02000002;
    }
    std::u16string name = u"M";
    for (char digit : std::to_string(mb & 0xFFFFFF)) {
        name += static_cast<char16_t>(digit);
    }
    WriteName(name, szMethod, cchMethod, pchMethod);
    return S_OK;
}

} // namespace pmbench
