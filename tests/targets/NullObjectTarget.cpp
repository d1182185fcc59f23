// A target library whose factory reports success without an object.
#include "TargetFixture.h"

namespace {

class EmptyHandedFactory : public targetfixture::ClassFactory<targetfixture::Target> {
public:
    HRESULT CreateInstance(IUnknown*, REFIID, void** ppv) override {
        *ppv = nullptr;
        return S_OK;
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID riid,
                                                                            void** ppv) {
    return (new EmptyHandedFactory())->QueryInterface(riid, ppv);
}
