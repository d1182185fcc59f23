// The runtime's info object for the IL tests: serves each method's IL, hands out its IL allocator and
// records every IL body and IL map set on it, with chosen failures.
#pragma once

#include "FakeRuntimeInfo.h"
#include "ILFakeMethodMalloc.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

class ILFakeRuntime : public FakeRuntimeInfo {
public:
    // One SetILFunctionBody: the method and the bytes of the allocator piece it was given.
    struct AppliedIL {
        ModuleID moduleId;
        mdMethodDef methodDef;
        LPCBYTE header;
        std::vector<BYTE> body;
    };

    // One SetILInstrumentedCodeMap: the entries as given and where they were.
    struct AppliedMap {
        FunctionID functionId;
        const COR_IL_MAP* address;
        std::vector<COR_IL_MAP> entries;
    };

    HRESULT getILResult = S_OK;
    HRESULT allocatorResult = S_OK;
    HRESULT setILResult = S_OK;
    ILFakeMethodMalloc methodMalloc;

    void SetMethodIL(ModuleID moduleId, mdMethodDef methodDef, std::vector<BYTE> il) {
        std::lock_guard<std::mutex> lock(_ilLock);
        _methodIL[{moduleId, methodDef}] = std::move(il);
    }

    HRESULT GetILFunctionBody(ModuleID moduleId, mdMethodDef methodId, LPCBYTE* ppMethodHeader,
                              ULONG* pcbMethodSize) override {
        std::lock_guard<std::mutex> lock(_ilLock);
        ++_ilRequests[{moduleId, methodId}];
        const auto found = _methodIL.find({moduleId, methodId});
        if (FAILED(getILResult) || found == _methodIL.end()) {
            return FAILED(getILResult) ? getILResult : E_INVALIDARG;
        }
        *ppMethodHeader = found->second.data();
        if (pcbMethodSize != nullptr) {
            *pcbMethodSize = static_cast<ULONG>(found->second.size());
        }
        return S_OK;
    }

    HRESULT GetILFunctionBodyAllocator(ModuleID /*moduleId*/, IMethodMalloc** ppMalloc) override {
        if (FAILED(allocatorResult)) {
            return allocatorResult;
        }
        *ppMalloc = &methodMalloc;
        methodMalloc.AddRef();
        return S_OK;
    }

    HRESULT SetILFunctionBody(ModuleID moduleId, mdMethodDef methodid, LPCBYTE pbNewILMethodHeader) override {
        std::lock_guard<std::mutex> lock(_ilLock);
        const ULONG size = methodMalloc.SizeOf(pbNewILMethodHeader);
        _applied.push_back({moduleId, methodid, pbNewILMethodHeader,
                            std::vector<BYTE>(pbNewILMethodHeader, pbNewILMethodHeader + size)});
        return setILResult;
    }

    HRESULT SetILInstrumentedCodeMap(FunctionID functionId, BOOL /*fStartJit*/, ULONG cILMapEntries,
                                     COR_IL_MAP* rgILMapEntries) override {
        std::lock_guard<std::mutex> lock(_ilLock);
        _maps.push_back({functionId, rgILMapEntries,
                         std::vector<COR_IL_MAP>(rgILMapEntries, rgILMapEntries + cILMapEntries)});
        return S_OK;
    }

    // The runtime's own IL of the method, as stored.
    LPCBYTE OwnIL(ModuleID moduleId, mdMethodDef methodDef) {
        std::lock_guard<std::mutex> lock(_ilLock);
        return _methodIL.at({moduleId, methodDef}).data();
    }
    int ILRequests(ModuleID moduleId, mdMethodDef methodDef) const {
        std::lock_guard<std::mutex> lock(_ilLock);
        const auto found = _ilRequests.find({moduleId, methodDef});
        return found == _ilRequests.end() ? 0 : found->second;
    }
    std::vector<AppliedIL> Applied() const {
        std::lock_guard<std::mutex> lock(_ilLock);
        return _applied;
    }

    std::vector<AppliedMap> Maps() const {
        std::lock_guard<std::mutex> lock(_ilLock);
        return _maps;
    }

private:
    mutable std::mutex _ilLock;
    std::map<std::pair<ModuleID, mdMethodDef>, std::vector<BYTE>> _methodIL;
    std::map<std::pair<ModuleID, mdMethodDef>, int> _ilRequests;
    std::vector<AppliedIL> _applied;
    std::vector<AppliedMap> _maps;
};

} // namespace profilermultiplexer::tests
