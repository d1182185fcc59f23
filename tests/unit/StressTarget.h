// A target profiler for the stress test. It rewrites every method it sees in JITCompilationStarted and in
// GetReJITParameters by marking its own slot in the IL it reads from the chain, checks that this IL is
// whole, sets IL for a method of every newly loaded stress module, and at random asks for ReJITs and
// reverts, also from inside those callbacks. On its own thread it asks for ReJITs and reverts, changes
// its event mask and takes memory from the IL allocator that it never hands back.
#pragma once

#include "InfoTarget.h"
#include "StressChecks.h"
#include "StressMethods.h"
#include "StressRandom.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

class StressTarget : public InfoTarget {
public:
    // Modules from here on are loaded by the test's callback threads and never compiled.
    static constexpr ModuleID FreshModules = 0x90000000;
    static constexpr mdMethodDef FreshMethod = 0x06000001;
    // The bits a stress target always keeps; the optional ones come and go.
    static constexpr DWORD RequiredMask = COR_PRF_MONITOR_JIT_COMPILATION | COR_PRF_ENABLE_REJIT;
    static constexpr DWORD OptionalMask = COR_PRF_MONITOR_MODULE_LOADS | COR_PRF_MONITOR_THREADS |
                                          COR_PRF_MONITOR_CLASS_LOADS | COR_PRF_MONITOR_EXCEPTIONS |
                                          COR_PRF_MONITOR_GC | COR_PRF_MONITOR_ASSEMBLY_LOADS;

    StressTarget(std::size_t index, const StressMethods& methods, StressChecks& checks)
        : _index(index), _methods(methods), _checks(checks) {}

    // Stops the random requests, so that the last phase of the test runs to a fixed end.
    std::atomic<bool> quiet{false};
    // Throws from ClassLoadFinished.
    bool throwsOnClassLoad = false;
    // Also reads the IL of random methods on its own thread, while the runtime may compile them.
    bool readsILOnOwnThread = false;

    HRESULT Initialize(IUnknown* pICorProfilerInfoUnk) override {
        return KeepInfoAndSetMask(pICorProfilerInfoUnk, RequiredMask | OptionalMask, COR_PRF_HIGH_BASIC_GC);
    }

    HRESULT JITCompilationStarted(FunctionID functionId, BOOL) override {
        ClassID classId = 0;
        ModuleID moduleId = 0;
        mdToken token = 0;
        if (FAILED(Info().GetFunctionInfo(functionId, &classId, &moduleId, &token))) {
            _checks.Fail(Name() + ": GetFunctionInfo failed in JITCompilationStarted");
            return E_FAIL;
        }
        RewriteAtJit(moduleId, token);
        MaybeRequest(moduleId, token);
        return S_OK;
    }

    HRESULT GetReJITParameters(ModuleID moduleId, mdMethodDef methodId,
                               ICorProfilerFunctionControl* control) override {
        std::vector<BYTE> il;
        if (!ReadChainIL(moduleId, methodId, il)) {
            return E_FAIL;
        }
        il[1 + _index] = StressMethods::Marker(_index);
        control->SetCodegenFlags(StressChance(2) ? 1u << _index : 0);
        if (StressChance(2)) {
            COR_IL_MAP map[2] = {{0, 0, TRUE}, {static_cast<ULONG32>(_index), 1, TRUE}};
            control->SetILInstrumentedCodeMap(2, map);
        }
        const HRESULT hr = control->SetILFunctionBody(static_cast<ULONG>(il.size()), il.data());
        MaybeRequest(moduleId, methodId);
        return hr;
    }

    HRESULT ReJITCompilationStarted(FunctionID, ReJITID, BOOL) override {
        ++_rejitCallbacks;
        return S_OK;
    }
    HRESULT ReJITCompilationFinished(FunctionID, ReJITID, HRESULT, BOOL) override {
        ++_rejitCallbacks;
        return S_OK;
    }
    HRESULT ReJITError(ModuleID, mdMethodDef, FunctionID, HRESULT) override {
        ++_rejitCallbacks;
        return S_OK;
    }

    // A stress module just loaded: set IL for one of its methods, which goes to the runtime at once.
    HRESULT ModuleLoadFinished(ModuleID moduleId, HRESULT) override {
        if (moduleId < FreshModules) {
            return S_OK;
        }
        const BYTE il[] = {0x06, static_cast<BYTE>(0x2A)};
        BYTE* memory = Allocate(moduleId, sizeof(il));
        if (memory == nullptr) {
            return E_FAIL;
        }
        std::memcpy(memory, il, sizeof(il));
        if (FAILED(Info().SetILFunctionBody(moduleId, FreshMethod, memory))) {
            _checks.Fail(Name() + ": SetILFunctionBody failed in ModuleLoadFinished");
        }
        return S_OK;
    }

    HRESULT ClassLoadFinished(ClassID, HRESULT) override {
        if (throwsOnClassLoad) {
            throw std::runtime_error("stress target failure");
        }
        return S_OK;
    }

    // One random action of the target's own thread.
    void ActOnOwnThread() {
        switch (StressRandom(6)) {
        case 0:
            ChangeMask();
            break;
        case 1:
            AllocateAndKeep();
            break;
        case 2:
            if (readsILOnOwnThread) {
                const StressMethod& method = _methods.At(StressRandom(1000));
                std::vector<BYTE> il;
                ReadChainIL(method.moduleId, method.methodDef, il);
                break;
            }
            Request(_methods.At(StressRandom(1000)), StressRandom(3));
            break;
        default:
            Request(_methods.At(StressRandom(1000)), StressRandom(3));
            break;
        }
    }

    // Requests a ReJIT of the method, and of a random one too unless single: 0 RequestReJIT,
    // 1 RequestReJITWithInliners, 2 RequestRevert.
    void Request(const StressMethod& method, unsigned kind, bool single = false) {
        ModuleID moduleIds[] = {method.moduleId, _methods.At(StressRandom(1000)).moduleId};
        mdMethodDef methodIds[] = {method.methodDef, _methods.At(StressRandom(1000)).methodDef};
        const ULONG count = single ? 1 : 1 + StressRandom(2);
        HRESULT statuses[2] = {};
        HRESULT hr = E_FAIL;
        if (kind == 0) {
            hr = Info().RequestReJIT(count, moduleIds, methodIds);
        } else if (kind == 1) {
            hr = Info().RequestReJITWithInliners(0x1, count, moduleIds, methodIds);
        } else {
            hr = Info().RequestRevert(count, moduleIds, methodIds, StressChance(2) ? statuses : nullptr);
        }
        if (FAILED(hr)) {
            _checks.Fail(Name() + ": a ReJIT or revert request failed");
        }
    }

    // The pieces taken from the IL allocator and never handed back, with their sizes.
    std::vector<std::pair<BYTE*, ULONG>> KeptPieces() const {
        std::lock_guard<std::mutex> lock(_lock);
        return _kept;
    }

    int RejitCallbacks() const { return _rejitCallbacks.load(); }
    std::string Name() const { return "T" + std::to_string(_index); }

private:
    void RewriteAtJit(ModuleID moduleId, mdMethodDef methodDef) {
        std::vector<BYTE> il;
        if (!ReadChainIL(moduleId, methodDef, il)) {
            return;
        }
        BYTE* memory = Allocate(moduleId, static_cast<ULONG>(il.size()));
        if (memory == nullptr) {
            return;
        }
        std::memcpy(memory, il.data(), il.size());
        memory[1 + _index] = StressMethods::Marker(_index);
        if (FAILED(Info().SetILFunctionBody(moduleId, methodDef, memory))) {
            _checks.Fail(Name() + ": SetILFunctionBody failed in JITCompilationStarted");
        }
    }

    // The method's IL as the chain gives it to this target, checked to be whole.
    bool ReadChainIL(ModuleID moduleId, mdMethodDef methodDef, std::vector<BYTE>& il) {
        LPCBYTE header = nullptr;
        ULONG size = 0;
        const StressMethod* method = _methods.Find(moduleId, methodDef);
        if (method == nullptr || FAILED(Info().GetILFunctionBody(moduleId, methodDef, &header, &size))) {
            _checks.Fail(Name() + ": no IL for a stress method");
            return false;
        }
        if (!StressMethods::IsChainIL(*method, header, size)) {
            _checks.Fail(Name() + ": broken IL read from the chain");
            return false;
        }
        il.assign(header, header + size);
        return true;
    }

    BYTE* Allocate(ModuleID moduleId, ULONG size) {
        IMethodMalloc* malloc = nullptr;
        if (FAILED(Info().GetILFunctionBodyAllocator(moduleId, &malloc)) || malloc == nullptr) {
            _checks.Fail(Name() + ": no IL allocator");
            return nullptr;
        }
        auto* memory = static_cast<BYTE*>(malloc->Alloc(size));
        malloc->Release();
        if (memory == nullptr) {
            _checks.Fail(Name() + ": the IL allocator gave no memory");
        }
        return memory;
    }

    void MaybeRequest(ModuleID moduleId, mdMethodDef methodDef) {
        if (quiet.load() || !StressChance(6)) {
            return;
        }
        const StressMethod* method = _methods.Find(moduleId, methodDef);
        Request(StressChance(2) && method != nullptr ? *method : _methods.At(StressRandom(1000)),
                StressRandom(3));
    }

    void ChangeMask() {
        DWORD low = RequiredMask | (OptionalMask & StressRandom(0x10000));
        DWORD high = StressChance(2) ? static_cast<DWORD>(COR_PRF_HIGH_BASIC_GC) : 0;
        Info().SetEventMask2(low, high);
        DWORD readLow = 0;
        DWORD readHigh = 0;
        Info().GetEventMask2(&readLow, &readHigh);
        if ((readLow & RequiredMask) != RequiredMask) {
            _checks.Fail(Name() + ": lost its required mask bits");
        }
    }

    void AllocateAndKeep() {
        std::lock_guard<std::mutex> lock(_lock);
        if (_kept.size() >= 16) {
            return;
        }
        const auto size = static_cast<ULONG>(1 + StressRandom(64));
        if (BYTE* memory = Allocate(_methods.At(0).moduleId, size)) {
            _kept.emplace_back(memory, size);
        }
    }

    const std::size_t _index;
    const StressMethods& _methods;
    StressChecks& _checks;
    std::atomic<int> _rejitCallbacks{0};
    mutable std::mutex _lock;
    std::vector<std::pair<BYTE*, ULONG>> _kept;
};

} // namespace profilermultiplexer::tests
