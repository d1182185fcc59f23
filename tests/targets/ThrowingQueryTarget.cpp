// A target library whose object throws when asked for TargetOnlyIid.
#include "TargetFixture.h"

#include <stdexcept>

namespace {

class ThrowingTarget : public targetfixture::Target {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == targetfixture::TargetOnlyIid) {
            throw std::runtime_error("QueryInterface of a test target");
        }
        return Target::QueryInterface(riid, ppv);
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                            void** ppv) {
    return targetfixture::GetClassObject<ThrowingTarget>(rclsid, riid, ppv);
}
