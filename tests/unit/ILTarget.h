// A target profiler that works on IL through the info object it was given: it asks for JIT events and
// runs a chosen action in JITCompilationStarted; the helpers read and rewrite IL the way real targets do.
#pragma once

#include "InfoTarget.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

namespace profilermultiplexer::tests {

class ILTarget : public InfoTarget {
public:
    using JitAction = std::function<HRESULT(ILTarget&, FunctionID)>;

    struct ILRead {
        HRESULT hr;
        LPCBYTE header;
        ULONG size;
    };

    JitAction onJitStarted;
    // Runs in ModuleUnloadStarted, which the target hears once it asks for module loads.
    std::function<HRESULT(ILTarget&, ModuleID)> onModuleUnloadStarted;
    HRESULT jitFinishedResult = S_OK;
    // Runs at the end of a successful Initialize.
    std::function<void(ILTarget&)> onInitialized;

    HRESULT Initialize(IUnknown* pICorProfilerInfoUnk) override {
        const HRESULT hr = KeepInfoAndSetMask(pICorProfilerInfoUnk, COR_PRF_MONITOR_JIT_COMPILATION, 0);
        if (SUCCEEDED(hr) && onInitialized) {
            onInitialized(*this);
        }
        return hr;
    }

    HRESULT JITCompilationStarted(FunctionID functionId, BOOL /*fIsSafeToBlock*/) override {
        Record(functionId);
        return onJitStarted ? onJitStarted(*this, functionId) : S_OK;
    }

    HRESULT JITCompilationFinished(FunctionID functionId, HRESULT /*hrStatus*/,
                                   BOOL /*fIsSafeToBlock*/) override {
        Record(functionId);
        return jitFinishedResult;
    }

    HRESULT ModuleUnloadStarted(ModuleID moduleId) override {
        return onModuleUnloadStarted ? onModuleUnloadStarted(*this, moduleId) : S_OK;
    }

    ILRead ReadIL(ModuleID moduleId, mdMethodDef methodDef) const {
        ILRead read{E_FAIL, nullptr, 0};
        read.hr = Info().GetILFunctionBody(moduleId, methodDef, &read.header, &read.size);
        return read;
    }

    // New IL in memory from the info object's allocator, then set; allocation receives that memory.
    HRESULT WriteIL(ModuleID moduleId, mdMethodDef methodDef, const std::vector<BYTE>& il,
                    LPCBYTE* allocation = nullptr) const {
        IMethodMalloc* malloc = nullptr;
        HRESULT hr = Info().GetILFunctionBodyAllocator(moduleId, &malloc);
        if (FAILED(hr)) {
            return hr;
        }
        auto* memory = static_cast<BYTE*>(malloc->Alloc(static_cast<ULONG>(il.size())));
        malloc->Release();
        if (memory == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(memory, il.data(), il.size());
        if (allocation != nullptr) {
            *allocation = memory;
        }
        return Info().SetILFunctionBody(moduleId, methodDef, memory);
    }

    // The function ids of the JIT callbacks received, in order.
    std::vector<FunctionID> JitCalls() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _jitCalls;
    }

private:
    void Record(FunctionID functionId) {
        std::lock_guard<std::mutex> lock(_lock);
        _jitCalls.push_back(functionId);
    }

    mutable std::mutex _lock;
    std::vector<FunctionID> _jitCalls;
};

} // namespace profilermultiplexer::tests
