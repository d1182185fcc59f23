// The library's one export, through which the runtime or the multiplexer creates a rewriting target.
#include "realruntime/RewritingTargetFactory.h"

#include <new>

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                            void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (rclsid != pmbench::RewritingTargetFactory::ClassId) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* factory = new (std::nothrow) pmbench::RewritingTargetFactory;
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
        delete factory;
    }
    return hr;
}
