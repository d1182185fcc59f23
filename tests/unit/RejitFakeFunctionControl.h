// The runtime's function control for one GetReJITParameters: records what it receives, answers with
// chosen results, and can throw from SetILFunctionBody.
#pragma once

#include "CorProfilerInfo.h"

#include <optional>
#include <stdexcept>
#include <vector>

namespace profilermultiplexer::tests {

class RejitFakeFunctionControl : public ICorProfilerFunctionControl {
public:
    HRESULT setILResult = S_OK;
    HRESULT setMapResult = S_OK;
    bool throwOnSetIL = false;

    std::optional<DWORD> codegenFlags;
    std::optional<std::vector<BYTE>> ilBody;
    LPCBYTE ilAddress = nullptr;
    std::optional<std::vector<COR_IL_MAP>> ilMap;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_ICorProfilerFunctionControl && riid != IID_IUnknown) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<ICorProfilerFunctionControl*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    HRESULT SetCodegenFlags(DWORD flags) override {
        codegenFlags = flags;
        return S_OK;
    }
    HRESULT SetILFunctionBody(ULONG cbNewILMethodHeader, LPCBYTE pbNewILMethodHeader) override {
        if (throwOnSetIL) {
            throw std::runtime_error("function control failure");
        }
        ilAddress = pbNewILMethodHeader;
        ilBody.emplace(pbNewILMethodHeader, pbNewILMethodHeader + cbNewILMethodHeader);
        return setILResult;
    }
    HRESULT SetILInstrumentedCodeMap(ULONG cILMapEntries, COR_IL_MAP* rgILMapEntries) override {
        ilMap.emplace(rgILMapEntries, rgILMapEntries + cILMapEntries);
        return setMapResult;
    }

    bool ReceivedNothing() const { return !codegenFlags && !ilBody && !ilMap; }
};

} // namespace profilermultiplexer::tests
