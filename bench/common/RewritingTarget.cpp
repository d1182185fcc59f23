#include "common/RewritingTarget.h"

#include "common/ILRewriter.h"

#include <chrono>
#include <cstdio>

namespace pmbench {

RewritingTarget::RewritingTarget(const Options& options) : _options(options) {}

RewritingTarget::~RewritingTarget() {
    if (_info != nullptr) {
        _info->Release();
    }
}

HRESULT RewritingTarget::Initialize(IUnknown* pICorProfilerInfoUnk) {
    void* info = nullptr;
    if (pICorProfilerInfoUnk == nullptr ||
        FAILED(pICorProfilerInfoUnk->QueryInterface(IID_ICorProfilerInfo10, &info))) {
        return E_FAIL;
    }
    _info = static_cast<ICorProfilerInfo10*>(info);
    return _info->SetEventMask2(_options.eventMask, 0);
}

HRESULT RewritingTarget::Shutdown() {
    if (_options.number != 0) {
        const Counts counts = GetCounts();
        const uint64_t timed = _timedCalls.load();
        std::fprintf(
            stderr, "rewriting target %d: rewritten %llu copied %llu failed %llu info_call_ns %.2f\n",
            _options.number, static_cast<unsigned long long>(counts.rewritten),
            static_cast<unsigned long long>(counts.copied), static_cast<unsigned long long>(counts.failed),
            timed == 0 ? 0.0 : static_cast<double>(_timedNanoseconds.load()) / static_cast<double>(timed));
    }
    return S_OK;
}

HRESULT RewritingTarget::JITCompilationStarted(FunctionID functionId, BOOL /*fIsSafeToBlock*/) {
    if (_options.rewrite && FAILED(RewriteMethod(functionId))) {
        _failed.fetch_add(1, std::memory_order_relaxed);
    }
    if (_options.timedInfoCalls > 0) {
        TimeInfoCalls(functionId);
    }
    return S_OK;
}

// The same forwarded info call many times, timed as one batch so that the clock costs little per call.
void RewritingTarget::TimeInfoCalls(FunctionID functionId) {
    ClassID classId = 0;
    ModuleID moduleId = 0;
    mdToken token = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int call = 0; call < _options.timedInfoCalls; ++call) {
        _info->GetFunctionInfo(functionId, &classId, &moduleId, &token);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    _timedNanoseconds.fetch_add(static_cast<uint64_t>(std::chrono::nanoseconds(elapsed).count()));
    _timedCalls.fetch_add(static_cast<uint64_t>(_options.timedInfoCalls));
}

HRESULT RewritingTarget::RewriteMethod(FunctionID functionId) {
    ClassID classId = 0;
    ModuleID moduleId = 0;
    mdToken token = 0;
    HRESULT hr = _info->GetFunctionInfo(functionId, &classId, &moduleId, &token);
    LPCBYTE header = nullptr;
    ULONG size = 0;
    if (SUCCEEDED(hr)) {
        hr = _info->GetILFunctionBody(moduleId, token, &header, &size);
    }
    IMethodMalloc* malloc = nullptr;
    if (SUCCEEDED(hr)) {
        hr = _info->GetILFunctionBodyAllocator(moduleId, &malloc);
    }
    if (FAILED(hr) || header == nullptr || malloc == nullptr) {
        return FAILED(hr) ? hr : E_FAIL;
    }
    auto* memory = static_cast<BYTE*>(malloc->Alloc(ILRewriter::RewrittenSize(header, size)));
    malloc->Release();
    if (memory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const bool changed = ILRewriter::Rewrite(header, size, memory);
    hr = _info->SetILFunctionBody(moduleId, token, memory);
    if (SUCCEEDED(hr)) {
        (changed ? _rewritten : _copied).fetch_add(1, std::memory_order_relaxed);
    }
    return hr;
}

HRESULT RewritingTarget::ExceptionThrown(ObjectID /*thrownObjectId*/) {
    _exceptions.store(_exceptions.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return S_OK;
}

RewritingTarget::Counts RewritingTarget::GetCounts() const {
    return {_rewritten.load(), _copied.load(), _failed.load(), _exceptions.load()};
}

} // namespace pmbench
