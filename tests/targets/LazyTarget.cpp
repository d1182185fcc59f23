// A working target library with a reference that nothing defines: it loads with RTLD_LAZY only.
#include "TargetFixture.h"

extern "C" void TarnixFixtureFunctionDefinedNowhere();

extern "C" __attribute__((visibility("default"))) void FixtureNeverCalled() {
    TarnixFixtureFunctionDefinedNowhere();
}

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                            void** ppv) {
    return targetfixture::GetClassObject<targetfixture::Target>(rclsid, riid, ppv);
}
