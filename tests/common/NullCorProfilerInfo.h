#pragma once

#include <atomic>

#include "ComBase.h"
#include "CorProfilerInfo.h"
#include "Ignore.h"

// A runtime info object that answers every method with E_NOTIMPL. It grants ICorProfilerInfo up to the
// version given to its constructor (10 = ICorProfilerInfo10) and counts references without owning itself.
// Fakes derive from it and override only what a test needs.
class NullCorProfilerInfo : public ICorProfilerInfo10 {
public:
    explicit NullCorProfilerInfo(int newestVersion = 10) : _newestVersion(newestVersion) {}
    virtual ~NullCorProfilerInfo() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        const IID* const ids[] = {&IID_ICorProfilerInfo,  &IID_ICorProfilerInfo2, &IID_ICorProfilerInfo3,
                                  &IID_ICorProfilerInfo4, &IID_ICorProfilerInfo5, &IID_ICorProfilerInfo6,
                                  &IID_ICorProfilerInfo7, &IID_ICorProfilerInfo8, &IID_ICorProfilerInfo9,
                                  &IID_ICorProfilerInfo10};
        bool granted = riid == IID_IUnknown;
        for (int version = 1; version <= _newestVersion && !granted; ++version) {
            granted = riid == *ids[version - 1];
        }
        if (!granted) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<ICorProfilerInfo10*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++_refCount; }
    ULONG Release() override { return --_refCount; }
    ULONG RefCount() const { return _refCount; }

#define PM_NULL_INFO(kind, name, params, args)                                                                \
    HRESULT name params override {                                                                             \
        IgnoreArgs args;                                                                                       \
        return E_NOTIMPL;                                                                                      \
    }
    PM_ALL_CORPROFILERINFO_METHODS(PM_NULL_INFO)
#undef PM_NULL_INFO

protected:
    int _newestVersion;
    std::atomic<ULONG> _refCount{0};
};
