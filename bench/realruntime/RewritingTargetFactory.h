// Creates the real-runtime benchmark's rewriting targets; each instance is numbered for its report.
#pragma once

#include "ComBase.h"

#include <atomic>

namespace pmbench {

class RewritingTargetFactory : public IClassFactory {
public:
    // {6F3C2A1B-8E4D-4B7A-9C5E-2D1F0A3B4C5D}
    static const CLSID ClassId;

    virtual ~RewritingTargetFactory() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++_refCount; }
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL /*fLock*/) override { return S_OK; }

private:
    std::atomic<ULONG> _refCount{0};
};

} // namespace pmbench
