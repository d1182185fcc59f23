// The runtime's info object as the multiplexer's tests need it: records the event masks set on it,
// answers GetFunctionInfo, GetFunctionInfo2 and GetClassIDInfo2 from tables and GetModuleMetaData with a
// given metadata reader. It takes enter/leave hooks and masks as the runtime does while its profiler
// initialises: hooks with information only under a mask with argument, return-value or frame flags, hooks of
// the third version without information only under one without; once such hooks are set, a mask without
// the enter/leave flag or that changes which kind the flags fit is refused. It refuses a later mask that
// changes a flag it keeps fixed, and answers a detach request with detachResult.
#pragma once

#include "NullCorProfilerInfo.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

class FakeRuntimeInfo : public NullCorProfilerInfo {
public:
    using NullCorProfilerInfo::NullCorProfilerInfo;

    // Every mask asked for is recorded; the answer to each is refuseMasks or the runtime's rule.
    HRESULT refuseMasks = S_OK;

    HRESULT SetEventMask(DWORD dwEvents) override {
        std::lock_guard<std::mutex> lock(_lock);
        if (ChangesFixedFlags(dwEvents)) {
            return E_FAIL;
        }
        _eventMasks.push_back(dwEvents);
        return TakeMask(dwEvents);
    }
    HRESULT SetEventMask2(DWORD dwEventsLow, DWORD dwEventsHigh) override {
        std::lock_guard<std::mutex> lock(_lock);
        if (ChangesFixedFlags(dwEventsLow)) {
            return E_FAIL;
        }
        _eventMasks2.emplace_back(dwEventsLow, dwEventsHigh);
        return TakeMask(dwEventsLow);
    }

    // Low-word flags that, as the runtime does after start-up, no mask after the first may change: such a
    // mask is refused with E_FAIL and not kept.
    DWORD fixedFlags = 0;

    static constexpr HRESULT InconsistentWithFlags = static_cast<HRESULT>(0x80131374);
    static constexpr DWORD InfoFlags =
        COR_PRF_ENABLE_FUNCTION_ARGS | COR_PRF_ENABLE_FUNCTION_RETVAL | COR_PRF_ENABLE_FRAME_INFO;

    HRESULT SetEnterLeaveFunctionHooks(FunctionEnter* enter, FunctionLeave*, FunctionTailcall*) override {
        return SetHooks("SetEnterLeaveFunctionHooks", reinterpret_cast<uintptr_t>(enter), std::nullopt);
    }
    HRESULT SetEnterLeaveFunctionHooks2(FunctionEnter2* enter, FunctionLeave2*, FunctionTailcall2*) override {
        return SetHooks("SetEnterLeaveFunctionHooks2", reinterpret_cast<uintptr_t>(enter), std::nullopt);
    }
    HRESULT SetEnterLeaveFunctionHooks3(FunctionEnter3* enter, FunctionLeave3*, FunctionTailcall3*) override {
        return SetHooks("SetEnterLeaveFunctionHooks3", reinterpret_cast<uintptr_t>(enter), false);
    }
    HRESULT SetEnterLeaveFunctionHooks3WithInfo(FunctionEnter3WithInfo* enter, FunctionLeave3WithInfo*,
                                                FunctionTailcall3WithInfo*) override {
        return SetHooks("SetEnterLeaveFunctionHooks3WithInfo", reinterpret_cast<uintptr_t>(enter), true);
    }
    HRESULT SetFunctionIDMapper(FunctionIDMapper* mapper) override {
        std::lock_guard<std::mutex> lock(_lock);
        _hooks.emplace_back("SetFunctionIDMapper", reinterpret_cast<uintptr_t>(mapper));
        return S_OK;
    }
    HRESULT SetFunctionIDMapper2(FunctionIDMapper2* mapper, void*) override {
        std::lock_guard<std::mutex> lock(_lock);
        _hooks.emplace_back("SetFunctionIDMapper2", reinterpret_cast<uintptr_t>(mapper));
        return S_OK;
    }

    HRESULT GetFunctionInfo(FunctionID functionId, ClassID* pClassId, ModuleID* pModuleId,
                            mdToken* pToken) override {
        std::lock_guard<std::mutex> lock(_lock);
        const auto found = _functions.find(functionId);
        if (found == _functions.end()) {
            return E_INVALIDARG;
        }
        if (pClassId != nullptr) {
            *pClassId = 0;
        }
        *pModuleId = found->second.moduleId;
        *pToken = found->second.token;
        return S_OK;
    }

    HRESULT GetFunctionInfo2(FunctionID funcId, COR_PRF_FRAME_INFO, ClassID* pClassId, ModuleID* pModuleId,
                             mdToken* pToken, ULONG32 cTypeArgs, ULONG32* pcTypeArgs,
                             ClassID* typeArgs) override {
        std::lock_guard<std::mutex> lock(_lock);
        const auto found = _functions.find(funcId);
        if (found == _functions.end()) {
            return E_INVALIDARG;
        }
        *pClassId = found->second.classId;
        *pModuleId = found->second.moduleId;
        *pToken = found->second.token;
        return CopyTypeArgs(found->second.typeArgs, cTypeArgs, pcTypeArgs, typeArgs);
    }

    HRESULT GetClassIDInfo2(ClassID classId, ModuleID* pModuleId, mdTypeDef* pTypeDefToken, ClassID*,
                            ULONG32 cNumTypeArgs, ULONG32* pcNumTypeArgs, ClassID* typeArgs) override {
        std::lock_guard<std::mutex> lock(_lock);
        const auto found = _classes.find(classId);
        if (found == _classes.end()) {
            return E_INVALIDARG;
        }
        *pModuleId = found->second.first;
        *pTypeDefToken = 0x02000001;
        return CopyTypeArgs(found->second.second, cNumTypeArgs, pcNumTypeArgs, typeArgs);
    }

    // Answers with the reader set for the module (none: E_FAIL), or with the result set by the test.
    HRESULT GetModuleMetaData(ModuleID moduleId, DWORD dwOpenFlags, REFIID riid, IUnknown** ppOut) override {
        std::lock_guard<std::mutex> lock(_lock);
        ++_metaDataRequests;
        _lastMetaDataRequest = {moduleId, dwOpenFlags, &riid};
        const auto found = _metaData.find(moduleId);
        if (found == _metaData.end()) {
            *ppOut = nullptr;
            return E_FAIL;
        }
        auto [reader, result] = found->second;
        *ppOut = reader;
        if (reader != nullptr) {
            reader->AddRef();
        }
        return result;
    }

    HRESULT detachResult = S_OK;
    HRESULT RequestProfilerDetach(DWORD dwExpectedCompletionMilliseconds) override {
        std::lock_guard<std::mutex> lock(_lock);
        _detachRequests.push_back(dwExpectedCompletionMilliseconds);
        return detachResult;
    }

    // Every object is of the generation set; the questions are counted.
    HRESULT GetObjectGeneration(ObjectID, COR_PRF_GC_GENERATION_RANGE* range) override {
        std::lock_guard<std::mutex> lock(_lock);
        ++_generationRequests;
        *range = {_objectGeneration, 0, 0, 0};
        return S_OK;
    }
    void SetObjectGeneration(COR_PRF_GC_GENERATION generation) {
        std::lock_guard<std::mutex> lock(_lock);
        _objectGeneration = generation;
    }
    int GenerationRequests() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _generationRequests;
    }

    // GetFunctionInfo gives no class; GetFunctionInfo2 the class and the method's type arguments.
    void AddFunction(FunctionID functionId, ModuleID moduleId, mdToken token, ClassID classId = 0,
                     std::vector<ClassID> typeArgs = {}) {
        std::lock_guard<std::mutex> lock(_lock);
        _functions[functionId] = {moduleId, token, classId, std::move(typeArgs)};
    }
    void AddClass(ClassID classId, ModuleID moduleId, std::vector<ClassID> typeArgs = {}) {
        std::lock_guard<std::mutex> lock(_lock);
        _classes[classId] = {moduleId, std::move(typeArgs)};
    }
    void SetModuleMetaData(ModuleID moduleId, IUnknown* reader, HRESULT result = S_OK) {
        std::lock_guard<std::mutex> lock(_lock);
        _metaData[moduleId] = {reader, result};
    }

    // The expected completion time of every detach request, in order.
    std::vector<DWORD> DetachRequests() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _detachRequests;
    }
    std::vector<DWORD> EventMasks() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _eventMasks;
    }
    std::vector<std::pair<DWORD, DWORD>> EventMasks2() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _eventMasks2;
    }
    // The result of every enter/leave hook call, in order.
    std::vector<HRESULT> HookResults() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _hookResults;
    }
    // The hook and mapper calls taken, in order: the setter's name and its first function's address.
    std::vector<std::pair<std::string, uintptr_t>> Hooks() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _hooks;
    }
    int MetaDataRequests() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _metaDataRequests;
    }
    std::tuple<ModuleID, DWORD, const IID*> LastMetaDataRequest() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _lastMetaDataRequest;
    }

private:
    struct Function {
        ModuleID moduleId;
        mdToken token;
        ClassID classId;
        std::vector<ClassID> typeArgs;
    };

    // withInfo: hooks of the third version, with information or without.
    HRESULT SetHooks(const char* name, uintptr_t enter, std::optional<bool> withInfo) {
        std::lock_guard<std::mutex> lock(_lock);
        const bool infoFlags = (_mask & InfoFlags) != 0;
        _hookResults.push_back(withInfo && *withInfo != infoFlags ? InconsistentWithFlags : S_OK);
        if (_hookResults.back() == S_OK) {
            _hooks.emplace_back(name, enter);
            _withInfo = withInfo ? withInfo : _withInfo;
        }
        return _hookResults.back();
    }

    HRESULT TakeMask(DWORD low) {
        const bool fits =
            !_withInfo || ((low & COR_PRF_MONITOR_ENTERLEAVE) != 0 && ((low & InfoFlags) != 0) == *_withInfo);
        const HRESULT hr = FAILED(refuseMasks) ? refuseMasks : fits ? S_OK : InconsistentWithFlags;
        if (SUCCEEDED(hr)) {
            _mask = low;
        }
        return hr;
    }

    // Under _lock.
    bool ChangesFixedFlags(DWORD low) const {
        const bool first = _eventMasks.empty() && _eventMasks2.empty();
        return !first && ((low ^ _mask) & fixedFlags) != 0;
    }

    static HRESULT CopyTypeArgs(const std::vector<ClassID>& from, ULONG32 capacity, ULONG32* count,
                                ClassID* to) {
        *count = static_cast<ULONG32>(from.size());
        std::copy_n(from.begin(), std::min<std::size_t>(capacity, from.size()), to);
        return S_OK;
    }

    mutable std::mutex _lock;
    std::vector<DWORD> _eventMasks;
    std::vector<std::pair<DWORD, DWORD>> _eventMasks2;
    std::vector<HRESULT> _hookResults;
    std::vector<std::pair<std::string, uintptr_t>> _hooks;
    DWORD _mask = 0;
    // Hooks of the third version set: with information or without.
    std::optional<bool> _withInfo;
    std::map<FunctionID, Function> _functions;
    std::map<ClassID, std::pair<ModuleID, std::vector<ClassID>>> _classes;
    std::map<ModuleID, std::pair<IUnknown*, HRESULT>> _metaData;
    int _metaDataRequests = 0;
    COR_PRF_GC_GENERATION _objectGeneration = COR_PRF_GC_GEN_0;
    int _generationRequests = 0;
    std::vector<DWORD> _detachRequests;
    std::tuple<ModuleID, DWORD, const IID*> _lastMetaDataRequest{};
};

} // namespace profilermultiplexer::tests
