#pragma once

#include <atomic>

#include "ComBase.h"
#include "CorProfilerCallback.h"
#include "Ignore.h"

// A target profiler that answers every callback with S_OK. Test targets derive from it and override only
// the callbacks they care about.
class NullProfilerCallback : public ICorProfilerCallback9 {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        const IID* const ids[] = {&IID_IUnknown,
                                  &IID_ICorProfilerCallback,
                                  &IID_ICorProfilerCallback2,
                                  &IID_ICorProfilerCallback3,
                                  &IID_ICorProfilerCallback4,
                                  &IID_ICorProfilerCallback5,
                                  &IID_ICorProfilerCallback6,
                                  &IID_ICorProfilerCallback7,
                                  &IID_ICorProfilerCallback8,
                                  &IID_ICorProfilerCallback9};
        for (const IID* id : ids) {
            if (riid == *id) {
                *ppv = static_cast<ICorProfilerCallback9*>(this);
                AddRef();
                return S_OK;
            }
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++_refCount; }
    ULONG Release() override {
        const ULONG count = --_refCount;
        if (count == 0) {
            delete this;
        }
        return count;
    }

#define PM_NULL_CALLBACK(kind, name, params, args)                                                            \
    HRESULT name params override {                                                                             \
        IgnoreArgs args;                                                                                       \
        return S_OK;                                                                                           \
    }
    PM_ALL_CORPROFILERCALLBACK_METHODS(PM_NULL_CALLBACK)
#undef PM_NULL_CALLBACK

    virtual ~NullProfilerCallback() = default;

protected:
    std::atomic<ULONG> _refCount{1};
};
