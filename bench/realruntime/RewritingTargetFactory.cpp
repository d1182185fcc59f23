#include "realruntime/RewritingTargetFactory.h"

#include "common/RewritingTarget.h"

#include <cstdlib>

namespace pmbench {

namespace {

// A number from the environment, or fallback when the variable is not set.
int EnvironmentNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value == nullptr ? fallback : std::atoi(value);
}

} // namespace

const CLSID RewritingTargetFactory::ClassId = {
    0x6F3C2A1B, 0x8E4D, 0x4B7A, {0x9C, 0x5E, 0x2D, 0x1F, 0x0A, 0x3B, 0x4C, 0x5D}};

HRESULT RewritingTargetFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid != IID_IUnknown && riid != IID_IClassFactory) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG RewritingTargetFactory::Release() {
    const ULONG count = --_refCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

HRESULT RewritingTargetFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    static std::atomic<int> instances{0};
    if (pUnkOuter != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    try {
        RewritingTarget::Options options;
        options.number = ++instances;
        // BENCH_TARGET_REWRITE=0: the target only receives the JIT callbacks.
        options.rewrite = EnvironmentNumber("BENCH_TARGET_REWRITE", 1) != 0;
        // BENCH_TARGET_TIMED_INFO_CALLS: GetFunctionInfo calls timed per compiled method.
        options.timedInfoCalls = EnvironmentNumber("BENCH_TARGET_TIMED_INFO_CALLS", 0);
        auto* target = new RewritingTarget(options);
        const HRESULT hr = target->QueryInterface(riid, ppv);
        target->Release(); // the caller keeps the reference QueryInterface gave
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace pmbench
