// Building blocks of the test target libraries: a target object that counts its live instances, a class
// factory over it, and the counters each library exports for the tests.
#pragma once

#include "NullProfilerCallback.h"
#include "TargetFixtureIds.h"

#include <atomic>

namespace targetfixture {

std::atomic<int>& LiveObjects();
std::atomic<int>& LiveFactories();

// A target that answers every callback with S_OK, ICorProfilerCallback to 9, IUnknown and TargetOnlyIid.
class Target : public NullProfilerCallback {
public:
    Target() { ++LiveObjects(); }
    ~Target() override { --LiveObjects(); }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == TargetOnlyIid) {
            *ppv = static_cast<ICorProfilerCallback9*>(this);
            AddRef();
            return S_OK;
        }
        return NullProfilerCallback::QueryInterface(riid, ppv);
    }
};

// Creates one Object per call and hands it out for the interface asked for.
template <class Object> class ClassFactory : public IClassFactory {
public:
    ClassFactory() { ++LiveFactories(); }
    virtual ~ClassFactory() { --LiveFactories(); }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++_refCount; }
    ULONG Release() override {
        ULONG const count = --_refCount;
        if (count == 0) {
            delete this;
        }
        return count;
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* object = new Object();
        HRESULT const hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    std::atomic<ULONG> _refCount{0};
};

// DllGetClassObject of a well-behaved library that serves Object under Clsid.
template <class Object> HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (rclsid != Clsid) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return (new ClassFactory<Object>())->QueryInterface(riid, ppv);
}

} // namespace targetfixture
