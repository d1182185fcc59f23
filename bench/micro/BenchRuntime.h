// The runtime's info object for the benchmarks: cheap, lock-free answers to what the multiplexer and the
// rewriting targets ask on the hot paths, safe on any number of threads.
#pragma once

#include "NullCorProfilerInfo.h"
#include "micro/BenchMetaData.h"

#include <vector>

namespace pmbench {

class BenchRuntime : public NullCorProfilerInfo {
public:
    // A function id names its method: module from the high 32 bits, token from the low 24.
    static FunctionID MethodFunctionId(uint32_t module, uint32_t method) {
        return static_cast<FunctionID>(module) << 32 | (method & 0xFFFFFF);
    }

    BenchRuntime();

    HRESULT SetEventMask2(DWORD dwEventsLow, DWORD dwEventsHigh) override;
    HRESULT GetFunctionInfo(FunctionID functionId, ClassID* pClassId, ModuleID* pModuleId,
                            mdToken* pToken) override;
    // One metadata reader serves every module.
    HRESULT GetModuleMetaData(ModuleID moduleId, DWORD dwOpenFlags, REFIID riid, IUnknown** ppOut) override;
    // Every method has the same IL.
    HRESULT GetILFunctionBody(ModuleID moduleId, mdMethodDef methodId, LPCBYTE* ppMethodHeader,
                              ULONG* pcbMethodSize) override;
    HRESULT GetILFunctionBodyAllocator(ModuleID moduleId, IMethodMalloc** ppMalloc) override;
    // Keeps the body, as the runtime does.
    HRESULT SetILFunctionBody(ModuleID moduleId, mdMethodDef methodid, LPCBYTE pbNewILMethodHeader) override;

private:
    // The runtime's IL allocator: like the runtime's, its memory stays (here for the process). Taken from
    // pages of its own, so that the heap kept per method is the profilers' alone.
    class MethodMalloc : public IMethodMalloc {
    public:
        HRESULT QueryInterface(REFIID riid, void** ppv) override;
        ULONG AddRef() override { return 1; }
        ULONG Release() override { return 1; }
        PVOID Alloc(ULONG cb) override;
    };

    std::vector<BYTE> _il;
    MethodMalloc _malloc;
    BenchMetaData _metaData;
};

} // namespace pmbench
