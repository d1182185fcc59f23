// A target library whose DllGetClassObject succeeds without a factory.
#include "TargetFixture.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv) {
    *ppv = nullptr;
    return S_OK;
}
