// A module's metadata for the benchmarks: every method is "M<token>" of type "Bench.Type" in module
// "Bench.dll", written the way the runtime's reader writes names (copied into the caller's buffer).
#pragma once

#include "NullMetaDataImport.h"

namespace pmbench {

class BenchMetaData : public NullMetaDataImport {
public:
    HRESULT GetScopeProps(LPWSTR szName, ULONG cchName, ULONG* pchName, GUID* pmvid) override;
    HRESULT GetTypeDefProps(mdTypeDef td, LPWSTR szTypeDef, ULONG cchTypeDef, ULONG* pchTypeDef,
                            DWORD* pdwTypeDefFlags, mdToken* ptkExtends) override;
    HRESULT GetMethodProps(mdMethodDef mb, mdTypeDef* pClass, LPWSTR szMethod, ULONG cchMethod,
                           ULONG* pchMethod, DWORD* pdwAttr, PCCOR_SIGNATURE* ppvSigBlob, ULONG* pcbSigBlob,
                           ULONG* pulCodeRVA, DWORD* pdwImplFlags) override;
};

} // namespace pmbench
