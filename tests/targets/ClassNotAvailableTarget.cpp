// A target library that serves no class.
#include "TargetFixture.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv) {
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}
