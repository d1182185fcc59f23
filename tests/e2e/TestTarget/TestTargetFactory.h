// Creates test targets configured for one class id number.
#pragma once

#include "ComBase.h"

#include <atomic>

namespace e2e {

class TestTargetFactory : public IClassFactory {
public:
    explicit TestTargetFactory(int number) : _number(number) {}
    virtual ~TestTargetFactory() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++_refCount; }
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL) override { return S_OK; }

    // The number N of a class id {A0000000-0000-0000-0000-00000000000N}, N from 1 to 99; 0 for any other.
    static int TargetNumber(REFCLSID clsid);

private:
    const int _number;
    std::atomic<ULONG> _refCount{0};
};

} // namespace e2e
