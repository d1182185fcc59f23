// A target profiler for the ReJIT tests: asks for ReJIT events, records the four ReJIT callbacks in its
// own list and in a journal shared by all targets, answers with chosen results or exceptions, and runs a
// chosen action inside GetReJITParameters with the function control it was given.
#pragma once

#include "CallLog.h"
#include "InfoTarget.h"

#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {

// Every target's ReJIT callbacks in the order they came, as "name:callback".
class RejitJournal {
public:
    void Add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(_lock);
        _entries.push_back(entry);
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _entries;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(_lock);
        _entries.clear();
    }

private:
    mutable std::mutex _lock;
    std::vector<std::string> _entries;
};

class RejitTarget : public InfoTarget, public CallLog {
public:
    using Action = std::function<HRESULT(RejitTarget&, ICorProfilerFunctionControl*)>;

    RejitTarget(std::string name, RejitJournal& journal) : _name(std::move(name)), _journal(journal) {}

    DWORD eventMask = COR_PRF_ENABLE_REJIT | COR_PRF_MONITOR_JIT_COMPILATION;
    // The newest ICorProfilerCallback version that QueryInterface grants.
    int newestInterface = 9;
    // Runs inside GetReJITParameters; its result is the callback's result. None: S_OK.
    Action onGetReJITParameters;
    // Runs first inside the callback of that name: JITCompilationStarted or a ReJIT callback.
    std::string actsIn;
    std::function<void(RejitTarget&)> act;
    HRESULT startedResult = S_OK;
    HRESULT finishedResult = S_OK;
    HRESULT errorResult = S_OK;
    bool throwOnRejitCallbacks = false;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        const IID* const ids[] = {&IID_ICorProfilerCallback4, &IID_ICorProfilerCallback5,
                                  &IID_ICorProfilerCallback6, &IID_ICorProfilerCallback7,
                                  &IID_ICorProfilerCallback8, &IID_ICorProfilerCallback9};
        for (int version = 4; version <= 9; ++version) {
            if (version > newestInterface && riid == *ids[version - 4]) {
                *ppv = nullptr;
                return E_NOINTERFACE;
            }
        }
        return NullProfilerCallback::QueryInterface(riid, ppv);
    }

    HRESULT Initialize(IUnknown* pICorProfilerInfoUnk) override {
        return KeepInfoAndSetMask(pICorProfilerInfoUnk, eventMask, 0);
    }

    HRESULT JITCompilationStarted(FunctionID, BOOL) override {
        Act("JITCompilationStarted");
        return S_OK;
    }
    HRESULT ReJITCompilationStarted(FunctionID functionId, ReJITID rejitId, BOOL fIsSafeToBlock) override {
        Act("ReJITCompilationStarted");
        Record("ReJITCompilationStarted", ArgsBits(functionId, rejitId, fIsSafeToBlock));
        return Answer(startedResult);
    }
    HRESULT GetReJITParameters(ModuleID moduleId, mdMethodDef methodId,
                               ICorProfilerFunctionControl* pFunctionControl) override {
        Act("GetReJITParameters");
        Record("GetReJITParameters", ArgsBits(moduleId, methodId, pFunctionControl));
        const HRESULT hr = onGetReJITParameters ? onGetReJITParameters(*this, pFunctionControl) : S_OK;
        return Answer(hr);
    }
    HRESULT ReJITCompilationFinished(FunctionID functionId, ReJITID rejitId, HRESULT hrStatus,
                                     BOOL fIsSafeToBlock) override {
        Act("ReJITCompilationFinished");
        Record("ReJITCompilationFinished", ArgsBits(functionId, rejitId, hrStatus, fIsSafeToBlock));
        return Answer(finishedResult);
    }
    HRESULT ReJITError(ModuleID moduleId, mdMethodDef methodId, FunctionID functionId,
                       HRESULT hrStatus) override {
        Act("ReJITError");
        Record("ReJITError", ArgsBits(moduleId, methodId, functionId, hrStatus));
        return Answer(errorResult);
    }

    const std::string& Name() const { return _name; }

    HRESULT RequestReJIT(std::vector<ModuleID> modules, std::vector<mdMethodDef> methods) {
        return Info().RequestReJIT(static_cast<ULONG>(modules.size()), modules.data(), methods.data());
    }
    HRESULT RequestReJITWithInliners(DWORD flags, std::vector<ModuleID> modules,
                                     std::vector<mdMethodDef> methods) {
        return Info().RequestReJITWithInliners(flags, static_cast<ULONG>(modules.size()), modules.data(),
                                               methods.data());
    }
    HRESULT RequestRevert(std::vector<ModuleID> modules, std::vector<mdMethodDef> methods,
                          HRESULT* statuses = nullptr) {
        return Info().RequestRevert(static_cast<ULONG>(modules.size()), modules.data(), methods.data(),
                                    statuses);
    }

private:
    void Act(const char* callback) {
        if (act && actsIn == callback) {
            act(*this);
        }
    }
    void Record(const char* callback, std::vector<uint64_t> args) {
        Append(callback, std::move(args));
        _journal.Add(_name + ":" + callback);
    }
    HRESULT Answer(HRESULT hr) const {
        if (throwOnRejitCallbacks) {
            throw std::runtime_error("target failure");
        }
        return hr;
    }

    std::string _name;
    RejitJournal& _journal;
};

} // namespace profilermultiplexer::tests
