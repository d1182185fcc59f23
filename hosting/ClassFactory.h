// The class factory the runtime receives from DllGetClassObject. Its CreateInstance reads the target
// profilers from the environment, creates them, and hands the runtime either the one target it created
// or a ProfilerMultiplexer over all of them.
#pragma once

#include "platform/ComBase.h"

#include <atomic>
#include <cstdint>

namespace profilermultiplexer {

class ClassFactory : public IClassFactory {
public:
    // Starts the main logger for the prefix that isCoreClr selects.
    explicit ClassFactory(bool isCoreClr) noexcept;
    ClassFactory(ClassFactory const&) = delete;
    ClassFactory& operator=(ClassFactory const&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL fLock) override;
    virtual ~ClassFactory() = default;

private:
    std::atomic<int32_t> _refCount{0};
    bool _isCoreClr;
};

} // namespace profilermultiplexer
