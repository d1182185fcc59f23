#include "micro/BenchRuntime.h"

#include <atomic>
#include <cstddef>

#include <sys/mman.h>

namespace pmbench {

BenchRuntime::BenchRuntime() {
    // A tiny method of 20 code bytes: ldarg.0, ldc.i4.s 7, mul, ldc.i4.s 3, add, ... ret.
    const std::vector<BYTE> code = {0x02, 0x1F, 0x07, 0x5A, 0x1F, 0x03, 0x58, 0x1F, 0x05, 0x5D,
                                    0x1F, 0x0B, 0x58, 0x1F, 0x02, 0x5A, 0x1F, 0x01, 0x59, 0x2A};
    _il.push_back(static_cast<BYTE>(code.size() << 2 | 0x2));
    _il.insert(_il.end(), code.begin(), code.end());
}

HRESULT BenchRuntime::SetEventMask2(DWORD /*dwEventsLow*/, DWORD /*dwEventsHigh*/) {
    return S_OK;
}

HRESULT BenchRuntime::GetFunctionInfo(FunctionID functionId, ClassID* pClassId, ModuleID* pModuleId,
                                      mdToken* pToken) {
    if (pModuleId == nullptr || pToken == nullptr) {
        return E_INVALIDARG;
    }
    if (pClassId != nullptr) {
        *pClassId = 0;
    }
    *pModuleId = 0x7F0000000000 + (functionId >> 32);
    *pToken = 0x06000000 | static_cast<mdToken>(functionId & 0xFFFFFF);
    return S_OK;
}

HRESULT BenchRuntime::GetModuleMetaData(ModuleID /*moduleId*/, DWORD /*dwOpenFlags*/, REFIID riid,
                                        IUnknown** ppOut) {
    return _metaData.QueryInterface(riid, reinterpret_cast<void**>(ppOut));
}

HRESULT BenchRuntime::GetILFunctionBody(ModuleID /*moduleId*/, mdMethodDef /*methodId*/,
                                        LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize) {
    *ppMethodHeader = _il.data();
    if (pcbMethodSize != nullptr) {
        *pcbMethodSize = static_cast<ULONG>(_il.size());
    }
    return S_OK;
}

HRESULT BenchRuntime::GetILFunctionBodyAllocator(ModuleID /*moduleId*/, IMethodMalloc** ppMalloc) {
    *ppMalloc = &_malloc;
    return S_OK;
}

HRESULT BenchRuntime::SetILFunctionBody(ModuleID /*moduleId*/, mdMethodDef /*methodid*/,
                                        LPCBYTE /*pbNewILMethodHeader*/) {
    return S_OK;
}

HRESULT BenchRuntime::MethodMalloc::QueryInterface(REFIID riid, void** ppv) {
    if (riid != IID_IMethodMalloc && riid != IID_IUnknown) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IMethodMalloc*>(this);
    return S_OK;
}

PVOID BenchRuntime::MethodMalloc::Alloc(ULONG cb) {
    // Reserved at once, touched as it is used.
    constexpr std::size_t ArenaSize = std::size_t{1} << 34;
    static BYTE* const arena = static_cast<BYTE*>(
        mmap(nullptr, ArenaSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    static std::atomic<std::size_t> used{0};
    const std::size_t offset = used.fetch_add((std::size_t{cb} + 15) & ~std::size_t{15});
    if (static_cast<void*>(arena) == MAP_FAILED || offset + cb > ArenaSize) {
        return nullptr;
    }
    return arena + offset;
}

} // namespace pmbench
