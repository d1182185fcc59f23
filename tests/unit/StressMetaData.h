// A metadata reader for the stress test's modules: every method is Type::M<token> in module Module<id>.
// Safe to call from any thread.
#pragma once

#include "NullMetaDataImport.h"

#include <string>

namespace profilermultiplexer::tests {

class StressMetaData : public NullMetaDataImport {
public:
    HRESULT GetMethodProps(mdMethodDef mb, mdTypeDef* pClass, LPWSTR szMethod, ULONG cchMethod, ULONG*,
                           DWORD*, PCCOR_SIGNATURE*, ULONG*, ULONG*, DWORD*) override {
        *pClass = 0x02000002;
        return Write(u"M" + Hex(mb), szMethod, cchMethod);
    }
    HRESULT GetTypeDefProps(mdTypeDef, LPWSTR szTypeDef, ULONG cchTypeDef, ULONG*, DWORD*,
                            mdToken*) override {
        return Write(u"Type", szTypeDef, cchTypeDef);
    }
    HRESULT GetScopeProps(LPWSTR szName, ULONG cchName, ULONG*, GUID*) override {
        return Write(u"Module", szName, cchName);
    }

private:
    static std::u16string Hex(unsigned value) {
        std::u16string text;
        do {
            text.insert(text.begin(), u"0123456789abcdef"[value % 16]);
            value /= 16;
        } while (value != 0);
        return text;
    }
    static HRESULT Write(const std::u16string& text, LPWSTR out, ULONG capacity) {
        if (out == nullptr || capacity <= text.size()) {
            return E_FAIL;
        }
        text.copy(out, text.size());
        out[text.size()] = u'\0';
        return S_OK;
    }
};

} // namespace profilermultiplexer::tests
