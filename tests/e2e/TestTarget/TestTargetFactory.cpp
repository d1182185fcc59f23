#include "TestTargetFactory.h"

#include "TestTarget.h"

#include <new>

namespace e2e {

HRESULT TestTargetFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TestTargetFactory::Release() {
    const ULONG count = --_refCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

HRESULT TestTargetFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (pUnkOuter != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    try {
        auto* target = new TestTarget(TargetConfig::FromEnvironment(_number));
        const HRESULT hr = target->QueryInterface(riid, ppv);
        target->Release(); // the caller keeps the reference QueryInterface gave
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

int TestTargetFactory::TargetNumber(REFCLSID clsid) {
    const uint8_t* tail = clsid.Data4;
    const bool prefix = clsid.Data1 == 0xA0000000 && clsid.Data2 == 0 && clsid.Data3 == 0 && tail[0] == 0 &&
                        tail[1] == 0 && tail[2] == 0 && tail[3] == 0 && tail[4] == 0 && tail[5] == 0;
    const int number = tail[6] << 8 | tail[7];
    return prefix && number >= 1 && number <= 99 ? number : 0;
}

} // namespace e2e
