// A target profiler that records every callback it receives (name and arguments) and answers with a
// chosen result or exception. During Initialize it sets a chosen event mask on the info object it is
// given; JITInlining and JITCachedFunctionSearchStarted write a chosen answer to their out-parameter.
#pragma once

#include "CallLog.h"
#include "CorProfilerInfo.h"
#include "DistinctArgs.h"
#include "NullProfilerCallback.h"
#include "hosting/ProfilerCallbackFunctionFilter.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace profilermultiplexer::tests {

class RecordingTarget : public NullProfilerCallback, public CallLog {
public:
    using FunctionName = ProfilerCallbackFunctionFilter::FunctionName;

    // Initialize: the mask to set, the result to return, or an exception to throw.
    std::optional<std::pair<DWORD, DWORD>> initializeMask;
    HRESULT initializeResult = S_OK;
    bool throwOnInitialize = false;
    // Called in Initialize after the mask is set, with the info object; a failure is Initialize's result.
    std::function<HRESULT(ICorProfilerInfo10*)> onInitialize;
    // Every other callback.
    HRESULT result = S_OK;
    bool throwOnCallback = false;
    // Written by JITInlining and JITCachedFunctionSearchStarted when set.
    std::optional<BOOL> answer;
    // The newest ICorProfilerCallback version that QueryInterface grants.
    int newestInterface = 9;
    // Set when the object is destroyed.
    bool* destroyed = nullptr;
    // Keeps a reference to its info object from Initialize on, released when the target goes.
    bool keepsInfo = false;

    ~RecordingTarget() override {
        if (keepsInfo && _info != nullptr) {
            _info->Release();
        }
        if (destroyed != nullptr) {
            *destroyed = true;
        }
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        const IID* const ids[] = {
            &IID_ICorProfilerCallback,  &IID_ICorProfilerCallback2, &IID_ICorProfilerCallback3,
            &IID_ICorProfilerCallback4, &IID_ICorProfilerCallback5, &IID_ICorProfilerCallback6,
            &IID_ICorProfilerCallback7, &IID_ICorProfilerCallback8, &IID_ICorProfilerCallback9};
        for (int version = newestInterface + 1; version <= 9; ++version) {
            if (riid == *ids[version - 1]) {
                *ppv = nullptr;
                return E_NOINTERFACE;
            }
        }
        return NullProfilerCallback::QueryInterface(riid, ppv);
    }

    // The info object that Initialize received.
    IUnknown* Info() const { return _info; }

#define PM_RECORD_CALLBACK(kind, name, params, args)                                                         \
    HRESULT name params override {                                                                           \
        return Record(FunctionName::name, #name, ArgsBits args);                                             \
    }
    PM_ALL_CORPROFILERCALLBACK_METHODS(PM_RECORD_CALLBACK)
#undef PM_RECORD_CALLBACK

private:
    HRESULT Record(FunctionName function, const char* name, std::vector<uint64_t> args) {
        Append(name, args);
        switch (function) {
        case FunctionName::Initialize:
            return OnInitialize(reinterpret_cast<IUnknown*>(args[0]));
        case FunctionName::JITInlining:
            WriteAnswer(reinterpret_cast<BOOL*>(args[2]));
            break;
        case FunctionName::JITCachedFunctionSearchStarted:
            WriteAnswer(reinterpret_cast<BOOL*>(args[1]));
            break;
        default:
            break;
        }
        if (throwOnCallback) {
            throw std::runtime_error("target failure");
        }
        return result;
    }

    HRESULT OnInitialize(IUnknown* info) {
        _info = info;
        if (keepsInfo) {
            info->AddRef();
        }
        if (initializeMask) {
            SetMask(info, initializeMask->first, initializeMask->second);
        }
        if (onInitialize) {
            const HRESULT hr = onInitialize(static_cast<ICorProfilerInfo10*>(info));
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (throwOnInitialize) {
            throw std::runtime_error("initialize failure");
        }
        return initializeResult;
    }

    // Through ICorProfilerInfo5 when granted, else the low word through ICorProfilerInfo.
    static void SetMask(IUnknown* info, DWORD low, DWORD high) {
        void* granted = nullptr;
        if (SUCCEEDED(info->QueryInterface(IID_ICorProfilerInfo5, &granted))) {
            static_cast<ICorProfilerInfo5*>(granted)->SetEventMask2(low, high);
            static_cast<ICorProfilerInfo5*>(granted)->Release();
        } else if (SUCCEEDED(info->QueryInterface(IID_ICorProfilerInfo, &granted))) {
            static_cast<ICorProfilerInfo*>(granted)->SetEventMask(low);
            static_cast<ICorProfilerInfo*>(granted)->Release();
        }
    }

    void WriteAnswer(BOOL* out) const {
        if (answer) {
            *out = *answer;
        }
    }

    IUnknown* _info = nullptr;
};

} // namespace profilermultiplexer::tests
