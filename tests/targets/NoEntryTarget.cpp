// A library without DllGetClassObject.
#include "TargetFixture.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObjectMissing(REFCLSID rclsid,
                                                                                   REFIID riid, void** ppv) {
    return targetfixture::GetClassObject<targetfixture::Target>(rclsid, riid, ppv);
}
