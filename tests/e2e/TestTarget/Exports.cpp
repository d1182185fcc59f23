// The library's one export, through which the runtime or the multiplexer creates a test target.
#include "TestTargetFactory.h"

#include <new>

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                            void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    const int number = e2e::TestTargetFactory::TargetNumber(rclsid);
    if (number == 0) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* factory = new (std::nothrow) e2e::TestTargetFactory(number);
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
        delete factory;
    }
    return hr;
}
