// A target library that serves a working target object.
#include "TargetFixture.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                            void** ppv) {
    return targetfixture::GetClassObject<targetfixture::Target>(rclsid, riid, ppv);
}
