// A target library whose factory hands out an object that does not answer ICorProfilerCallback2.
#include "TargetFixture.h"

namespace {

class OldTarget : public targetfixture::Target {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_ICorProfilerCallback) {
            return Target::QueryInterface(riid, ppv);
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
};

// Gives the object out whatever interface is asked for.
class CarelessFactory : public targetfixture::ClassFactory<OldTarget> {
public:
    HRESULT CreateInstance(IUnknown*, REFIID, void** ppv) override {
        *ppv = static_cast<ICorProfilerCallback9*>(new OldTarget());
        return S_OK;
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID riid,
                                                                            void** ppv) {
    return (new CarelessFactory())->QueryInterface(riid, ppv);
}
