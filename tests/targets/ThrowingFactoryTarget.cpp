// A target library whose factory's CreateInstance throws.
#include "TargetFixture.h"

#include <stdexcept>

namespace {

class ThrowingFactory : public targetfixture::ClassFactory<targetfixture::Target> {
public:
    HRESULT CreateInstance(IUnknown*, REFIID, void**) override {
        throw std::runtime_error("CreateInstance of a test target");
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID riid,
                                                                            void** ppv) {
    return (new ThrowingFactory())->QueryInterface(riid, ppv);
}
