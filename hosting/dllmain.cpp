// The library's exported entry points.
#include "hosting/ClassFactory.h"
#include "platform/ProfilerMultiplexerIds.h"

#include <memory>
#include <new>
#include <unwind.h>

namespace {

// The process's unwinder fills its register table at its first unwind. A target with its own unwinder that
// throws through our frames reaches that table through our personality routine without unwinding first:
// one walk of our own frame with the process's unwinder, before any target is loaded, makes it ready.
void PrepareUnwinder() noexcept {
    static bool const prepared = [] {
        _Unwind_Backtrace([](_Unwind_Context*, void*) { return _URC_END_OF_STACK; }, nullptr);
        return true;
    }();
    (void)prepared;
}

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                            void** ppv) {
    PrepareUnwinder();
    if (ppv == nullptr) {
        return E_FAIL;
    }
    bool const isCoreClr = rclsid == CLSID_CoreClrProfilerMultiplexer;
    if (!isCoreClr && rclsid != CLSID_ClrProfilerMultiplexer) {
        return E_FAIL;
    }
    std::unique_ptr<profilermultiplexer::ClassFactory> factory(
        new (std::nothrow) profilermultiplexer::ClassFactory(isCoreClr));
    if (!factory) {
        return E_FAIL;
    }
    HRESULT const hr = factory->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr)) {
        factory.release();
    }
    return hr;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return S_OK;
}

__attribute__((visibility("default"))) BOOL DllMain(void*, unsigned int, void*) {
    return TRUE;
}
