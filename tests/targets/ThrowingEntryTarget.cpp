// A target library whose DllGetClassObject throws.
#include "TargetFixture.h"

#include <stdexcept>

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID, void**) {
    throw std::runtime_error("DllGetClassObject of a test target");
}
