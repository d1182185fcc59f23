// The runtime's info object as the multiplexer's tests need it: records the event masks set on it,
// answers GetFunctionInfo from a table and GetModuleMetaData with a given metadata reader.
#pragma once

#include "NullCorProfilerInfo.h"

#include <map>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

class FakeRuntimeInfo : public NullCorProfilerInfo {
public:
    using NullCorProfilerInfo::NullCorProfilerInfo;

    HRESULT SetEventMask(DWORD dwEvents) override {
        std::lock_guard<std::mutex> lock(_lock);
        _eventMasks.push_back(dwEvents);
        return S_OK;
    }
    HRESULT SetEventMask2(DWORD dwEventsLow, DWORD dwEventsHigh) override {
        std::lock_guard<std::mutex> lock(_lock);
        _eventMasks2.emplace_back(dwEventsLow, dwEventsHigh);
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
        *pModuleId = found->second.first;
        *pToken = found->second.second;
        return S_OK;
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

    void AddFunction(FunctionID functionId, ModuleID moduleId, mdToken token) {
        std::lock_guard<std::mutex> lock(_lock);
        _functions[functionId] = {moduleId, token};
    }
    void SetModuleMetaData(ModuleID moduleId, IUnknown* reader, HRESULT result = S_OK) {
        std::lock_guard<std::mutex> lock(_lock);
        _metaData[moduleId] = {reader, result};
    }

    std::vector<DWORD> EventMasks() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _eventMasks;
    }
    std::vector<std::pair<DWORD, DWORD>> EventMasks2() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _eventMasks2;
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
    mutable std::mutex _lock;
    std::vector<DWORD> _eventMasks;
    std::vector<std::pair<DWORD, DWORD>> _eventMasks2;
    std::map<FunctionID, std::pair<ModuleID, mdToken>> _functions;
    std::map<ModuleID, std::pair<IUnknown*, HRESULT>> _metaData;
    int _metaDataRequests = 0;
    std::tuple<ModuleID, DWORD, const IID*> _lastMetaDataRequest{};
};

} // namespace profilermultiplexer::tests
