#include "TestTarget.h"

#include "MetaDataImport.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <utility>

namespace e2e {
namespace {

constexpr const char* PassPhrase = "E2E TARGET PASS";
constexpr ULONG NameCapacity = 512;
// Read from the target's thread while no method is known yet.
constexpr mdMethodDef FirstMethodDef = 0x06000001;
// How long a callback waits for a request of its own thread.
constexpr std::chrono::seconds WaitLimit{3};

const IID* InfoInterfaceId(int version) {
    static const IID* const ids[] = {&IID_ICorProfilerInfo,   &IID_ICorProfilerInfo2, &IID_ICorProfilerInfo3,
                                     &IID_ICorProfilerInfo4,  &IID_ICorProfilerInfo5, &IID_ICorProfilerInfo6,
                                     &IID_ICorProfilerInfo7,  &IID_ICorProfilerInfo8, &IID_ICorProfilerInfo9,
                                     &IID_ICorProfilerInfo10, &IID_ICorProfilerInfo11};
    return version >= 1 && version <= 11 ? ids[version - 1] : nullptr;
}

// Calls of each instance's enter/leave hooks (its number modulo HookSlots): the instances share this
// library, each sets hooks of its own slot. Marked: ids that a marking mapper gave, no function ids.
constexpr int HookSlots = 8;
struct HookCalls {
    std::atomic<uint64_t> enter{0};
    std::atomic<uint64_t> leave{0};
    std::atomic<uint64_t> tailcall{0};
    std::atomic<uint64_t> marked{0};
};
HookCalls s_hookCalls[HookSlots];

void Count(std::atomic<uint64_t>& calls, HookCalls& slot, FunctionIDOrClientID id) {
    calls.fetch_add(1, std::memory_order_relaxed);
    if ((id.clientID & 1) != 0) {
        slot.marked.fetch_add(1, std::memory_order_relaxed);
    }
}

// With information, the runtime calls the hooks from its own helper as plain functions.
template <int Slot> void OnEnter(FunctionIDOrClientID id, COR_PRF_ELT_INFO) {
    Count(s_hookCalls[Slot].enter, s_hookCalls[Slot], id);
}

template <int Slot> void OnLeave(FunctionIDOrClientID id, COR_PRF_ELT_INFO) {
    Count(s_hookCalls[Slot].leave, s_hookCalls[Slot], id);
}

template <int Slot> void OnTailcall(FunctionIDOrClientID id, COR_PRF_ELT_INFO) {
    Count(s_hookCalls[Slot].tailcall, s_hookCalls[Slot], id);
}

struct SlotHooks {
    FunctionEnter3WithInfo* enter;
    FunctionLeave3WithInfo* leave;
    FunctionTailcall3WithInfo* tailcall;
};

template <int... Slots>
constexpr std::array<SlotHooks, HookSlots> MakeSlotHooks(std::integer_sequence<int, Slots...>) {
    return {SlotHooks{OnEnter<Slots>, OnLeave<Slots>, OnTailcall<Slots>}...};
}

constexpr std::array<SlotHooks, HookSlots> s_slotHooks =
    MakeSlotHooks(std::make_integer_sequence<int, HookSlots>());

// Hooks every function, under an id that is no function id (those are aligned).
UINT_PTR MarkingMapper(FunctionID functionId, BOOL* pbHookFunction) {
    *pbHookFunction = TRUE;
    return functionId + 1;
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string HexResult(HRESULT hr) {
    return Hex(static_cast<uint32_t>(hr));
}

// Names in metadata are ASCII here; anything else shows as '?'.
std::string Narrow(const WCHAR* text) {
    std::string result;
    for (; *text != 0; ++text) {
        result += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return result;
}

// ASCII names for metadata lookups, NUL-terminated.
std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> result(text.begin(), text.end());
    result.push_back(0);
    return result;
}

} // namespace

TestTarget::TestTarget(TargetConfig config)
    : RecordingCallback(config.out, config.throwIn), _config(std::move(config)),
      _rewrite(IlRewrite::Parse(_config.ilRewrite)) {}

TestTarget::~TestTarget() {
    _stopping = true;
    _reader.Stop();
    _worker.Stop();
    _requester.Stop();
    if (_info) {
        _record.Record("call", "Release", "info");
        _info.Reset();
    }
}

HRESULT TestTarget::Initialize(IUnknown* pICorProfilerInfoUnk) {
    Received("Initialize");
    if (++_initializeCount != 1) {
        Fail("Initialize called again");
    }
    ProbeInfoVersion(pICorProfilerInfoUnk);
    const HRESULT hr = pICorProfilerInfoUnk->QueryInterface(
        IID_ICorProfilerInfo5, reinterpret_cast<void**>(_info.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        Fail("no ICorProfilerInfo5: " + HexResult(hr));
        return E_FAIL;
    }
    SetMask(_config.maskLow, _config.maskHigh);
    if (_config.functionIdMapper) {
        const HRESULT mapper = _info->SetFunctionIDMapper(MarkingMapper);
        _record.Record("call", "SetFunctionIDMapper", "mapper hr=" + HexResult(mapper));
    }
    if (_config.enterLeaveHooks) {
        const HRESULT hooks = SetEnterLeaveHooks();
        if (FAILED(hooks)) {
            return hooks;
        }
    }
    if (!_rewrite.valid()) {
        Fail("unknown IL rewrite '" + _config.ilRewrite + "'");
    }
    if (!_config.rejitSteps.empty() || _config.detachAfterJit > 0) {
        _worker.Start();
    }
    if (!_config.waitIn.empty()) {
        _requester.Start();
    }
    if (_config.proxyThreadMs > 0) {
        _reader.Start();
        _reader.Post([this] { ReadILFromThread(); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(_config.initDelayMs));
    return _config.initResult;
}

HRESULT TestTarget::Shutdown() {
    Received("Shutdown");
    _stopping = true;
    _reader.Stop();
    _worker.Stop();
    _requester.Stop();
    const bool once = ++_shutdownCount == 1 && _initializeCount == 1;
    if (_config.ilExpect) {
        std::lock_guard<std::mutex> lock(_ilLock);
        if (_rewriteCount != static_cast<size_t>(*_config.ilExpect)) {
            Fail("rewrote " + std::to_string(_rewriteCount) + " methods at JIT, expected " +
                 std::to_string(*_config.ilExpect));
        }
    }
    RecordHookCalls();
    _record.WriteLine("SUMMARY\tcallbacks=" + std::to_string(_callbacks) +
                      "\tfailures=" + std::to_string(_failures));
    _record.WriteLine(_failures == 0 && once ? PassPhrase : "E2E TARGET FAIL");
    return S_OK;
}

HRESULT TestTarget::AssemblyLoadFinished(AssemblyID assemblyId, HRESULT) {
    Received("AssemblyLoadFinished", AssemblyName(assemblyId));
    ThrowIfAsked("AssemblyLoadFinished");
    return S_OK;
}

// Only the id: the module cannot be asked for its name yet.
HRESULT TestTarget::ModuleLoadStarted(ModuleID moduleId) {
    Received("ModuleLoadStarted", Hex(moduleId));
    ThrowIfAsked("ModuleLoadStarted");
    return S_OK;
}

HRESULT TestTarget::ModuleLoadFinished(ModuleID moduleId, HRESULT) {
    Received("ModuleLoadFinished", ModuleName(moduleId));
    ThrowIfAsked("ModuleLoadFinished");
    if (_config.newMaskOnModuleLoad && !_maskChanged.exchange(true)) {
        const uint64_t mask = *_config.newMaskOnModuleLoad;
        SetMask(static_cast<DWORD>(mask), static_cast<DWORD>(mask >> 32), _config.newMaskResult);
    }
    if (_config.ilAtLoad && _rewrite.reads()) {
        RewriteAtLoad(moduleId);
    }
    return S_OK;
}

HRESULT TestTarget::ModuleUnloadStarted(ModuleID moduleId) {
    Received("ModuleUnloadStarted", ModuleName(moduleId));
    ThrowIfAsked("ModuleUnloadStarted");
    ReadILAtUnload(moduleId);
    // The runtime may give a later module's methods the same ids.
    std::lock_guard<std::mutex> lock(_ilLock);
    for (auto entry = _rewritten.begin(); entry != _rewritten.end();) {
        entry = entry->second == moduleId ? _rewritten.erase(entry) : std::next(entry);
    }
    if (_lastJitted && _lastJitted->module == moduleId) {
        _lastJitted.reset();
    }
    return S_OK;
}

HRESULT TestTarget::JITCompilationStarted(FunctionID functionId, BOOL) {
    const Method method = Describe(functionId);
    Received("JITCompilationStarted", method.name);
    ThrowIfAsked("JITCompilationStarted");
    {
        std::lock_guard<std::mutex> lock(_ilLock);
        if (method.name == _config.rejitMethod) {
            _rejitTarget = method;
        }
        if (method.name == _config.waitMethod) {
            _waitTarget = method;
        }
        _lastJitted = method;
    }
    if (_rewrite.reads() && !_config.ilAtLoad && IsRewritten(method.name)) {
        RewriteAtJit(functionId, method);
    }
    const auto step = _config.rejitSteps.find(method.name);
    if (step != _config.rejitSteps.end()) {
        StartStep(step->second);
    }
    if (_config.detachAfterJit > 0 && ++_jitCount == _config.detachAfterJit &&
        !_worker.Post([this] { RequestDetach(); })) {
        Fail("no thread for the detach request");
    }
    WaitForOwnThread("JITCompilationStarted", method.name);
    return S_OK;
}

HRESULT TestTarget::JITCompilationFinished(FunctionID functionId, HRESULT, BOOL) {
    Received("JITCompilationFinished", Hex(functionId));
    ThrowIfAsked("JITCompilationFinished");
    return S_OK;
}

HRESULT TestTarget::GetReJITParameters(ModuleID moduleId, mdMethodDef methodId,
                                       ICorProfilerFunctionControl* pFunctionControl) {
    const Method method = Describe(moduleId, methodId);
    Received("GetReJITParameters", method.name);
    ThrowIfAsked("GetReJITParameters");
    if ((method.name == _config.rejitMethod || _config.rejitRewritesInliners) && !_dropped) {
        std::string read;
        std::vector<COR_IL_MAP> map;
        const std::vector<BYTE> il = RewriteCurrentIL(method, read, map);
        if (!il.empty()) {
            const HRESULT hr = pFunctionControl->SetILFunctionBody(static_cast<ULONG>(il.size()), il.data());
            _record.Record("call", "FunctionControl::SetILFunctionBody",
                           method.name + " read=" + read + " wrote=" + HexBytes(il.data(), il.size()) +
                               " hr=" + HexResult(hr));
            if (FAILED(hr)) {
                Fail("SetILFunctionBody on the function control: " + HexResult(hr));
            }
            if (!map.empty()) {
                CheckMapSet(
                    method.name, map,
                    pFunctionControl->SetILInstrumentedCodeMap(static_cast<ULONG>(map.size()), map.data()));
            }
        }
    }
    if (!_config.rejitInCallback.empty() && !_requestedInCallback.exchange(true)) {
        Request(_config.rejitInCallback);
    }
    WaitForOwnThread("GetReJITParameters", method.name);
    return S_OK;
}

HRESULT TestTarget::ReJITCompilationStarted(FunctionID functionId, ReJITID rejitId, BOOL) {
    const std::string name = Describe(functionId).name;
    Received("ReJITCompilationStarted", name + " rejit=" + std::to_string(rejitId));
    ThrowIfAsked("ReJITCompilationStarted");
    WaitForOwnThread("ReJITCompilationStarted", name);
    return S_OK;
}

HRESULT TestTarget::ReJITCompilationFinished(FunctionID functionId, ReJITID rejitId, HRESULT hrStatus, BOOL) {
    const std::string name = Describe(functionId).name;
    Received("ReJITCompilationFinished",
             name + " rejit=" + std::to_string(rejitId) + " hr=" + HexResult(hrStatus));
    ThrowIfAsked("ReJITCompilationFinished");
    WaitForOwnThread("ReJITCompilationFinished", name);
    return S_OK;
}

HRESULT TestTarget::ReJITError(ModuleID moduleId, mdMethodDef methodId, FunctionID, HRESULT hrStatus) {
    Received("ReJITError", Describe(moduleId, methodId).name + " hr=" + HexResult(hrStatus));
    ThrowIfAsked("ReJITError");
    return S_OK;
}

HRESULT TestTarget::ObjectAllocated(ObjectID objectId, ClassID) {
    SIZE_T size = 0;
    const HRESULT hr = _info->GetObjectSize2(objectId, &size);
    COR_PRF_GC_GENERATION_RANGE range{};
    const HRESULT generationHr = _info->GetObjectGeneration(objectId, &range);
    Received("ObjectAllocated",
             "object size=" + std::to_string(size) + " hr=" + HexResult(hr) +
                 " generation=" + (SUCCEEDED(generationHr) ? std::to_string(range.generation) : "none"));
    ThrowIfAsked("ObjectAllocated");
    return S_OK;
}

bool TestTarget::IsRewritten(const std::string& name) const {
    for (const std::string& pattern : _config.ilMethods) {
        const bool prefix = !pattern.empty() && pattern.back() == '*';
        if (prefix ? name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0
                   : name == pattern) {
            return true;
        }
    }
    return false;
}

// Rewrites a method once: the runtime may compile it again (tiered compilation), and then hands out the
// IL already set.
void TestTarget::RewriteAtJit(FunctionID functionId, const Method& method) {
    {
        std::lock_guard<std::mutex> lock(_ilLock);
        if (!_rewritten.emplace(functionId, method.module).second) {
            return;
        }
        ++_rewriteCount;
    }
    Rewrite(method, functionId);
}

void TestTarget::ForEachNamedMethod(ModuleID moduleId, const std::vector<std::string>& names,
                                    const std::function<void(const std::string&, mdMethodDef)>& each) {
    ComPtr<IMetaDataImport> import;
    if (FAILED(_info->GetModuleMetaData(moduleId, ofRead, IID_IMetaDataImport,
                                        reinterpret_cast<IUnknown**>(import.ReleaseAndGetAddressOf())))) {
        return;
    }
    for (const std::string& name : names) {
        const size_t colons = name.find("::");
        mdTypeDef type = 0;
        mdMethodDef token = 0;
        if (colons == std::string::npos ||
            FAILED(import->FindTypeDefByName(Wide(name.substr(0, colons)).data(), 0, &type)) ||
            FAILED(import->FindMethod(type, Wide(name.substr(colons + 2)).data(), nullptr, 0, &token))) {
            continue;
        }
        each(name, token);
    }
}

void TestTarget::RewriteAtLoad(ModuleID moduleId) {
    ForEachNamedMethod(moduleId, _config.ilMethods, [&](const std::string&, mdMethodDef token) {
        {
            std::lock_guard<std::mutex> lock(_ilLock);
            ++_rewriteCount;
        }
        Rewrite(Describe(moduleId, token), 0);
    });
}

void TestTarget::Rewrite(const Method& method, FunctionID functionId) {
    std::string read;
    std::vector<COR_IL_MAP> map;
    const std::vector<BYTE> il = RewriteCurrentIL(method, read, map);
    if (!_rewrite.writes()) {
        _record.Record("call", "GetILFunctionBody", method.name + " read=" + read);
        return;
    }
    if (il.empty()) {
        return;
    }
    ComPtr<IMethodMalloc> malloc;
    HRESULT hr = _info->GetILFunctionBodyAllocator(method.module, malloc.ReleaseAndGetAddressOf());
    void* memory = SUCCEEDED(hr) && malloc ? malloc->Alloc(static_cast<ULONG>(il.size())) : nullptr;
    if (memory == nullptr) {
        Fail("no memory for the IL of " + method.name + ": " + HexResult(hr));
        return;
    }
    std::copy(il.begin(), il.end(), static_cast<BYTE*>(memory));
    // The memory is the allocator's owner's from here on.
    hr = _info->SetILFunctionBody(method.module, method.token, static_cast<LPCBYTE>(memory));
    _record.Record("call", "SetILFunctionBody",
                   method.name + " read=" + read + " wrote=" + HexBytes(il.data(), il.size()) +
                       " hr=" + HexResult(hr));
    if (FAILED(hr)) {
        Fail("SetILFunctionBody of " + method.name + ": " + HexResult(hr));
    }
    if (!map.empty() && functionId != 0) {
        CheckMapSet(
            method.name, map,
            _info->SetILInstrumentedCodeMap(functionId, TRUE, static_cast<ULONG>(map.size()), map.data()));
    }
}

void TestTarget::CheckMapSet(const std::string& method, const std::vector<COR_IL_MAP>& map, HRESULT hr) {
    _record.Record("call", "SetILInstrumentedCodeMap",
                   method + " entries=" + std::to_string(map.size()) + " hr=" + HexResult(hr));
    if (FAILED(hr)) {
        Fail("SetILInstrumentedCodeMap of " + method + ": " + HexResult(hr));
    }
}

std::vector<BYTE> TestTarget::RewriteCurrentIL(const Method& method, std::string& read,
                                               std::vector<COR_IL_MAP>& map) {
    LPCBYTE header = nullptr;
    ULONG size = 0;
    const HRESULT hr = _info->GetILFunctionBody(method.module, method.token, &header, &size);
    if (FAILED(hr) || header == nullptr) {
        Fail("GetILFunctionBody of " + method.name + ": " + HexResult(hr));
        return {};
    }
    // Valid only during this callback: copied at once.
    const std::vector<BYTE> current(header, header + size);
    read = HexBytes(current.data(), current.size());
    if (!_rewrite.writes()) {
        return {};
    }
    std::string error;
    std::vector<BYTE> il = _rewrite.Apply(current.data(), size, method.type, _config.ilNops, map, error);
    if (il.empty()) {
        Fail("cannot rewrite " + method.name + " (" + read + "): " + error);
    }
    return il;
}

// Reads the IL of the method compiled last (of a method that does not exist while none is), as fast as
// it can, for the configured time or until Shutdown.
void TestTarget::ReadILFromThread() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(_config.proxyThreadMs);
    uint64_t calls = 0;
    uint64_t known = 0;
    uint64_t failed = 0;
    while (!_stopping && std::chrono::steady_clock::now() < end) {
        std::optional<Method> method;
        {
            std::lock_guard<std::mutex> lock(_ilLock);
            method = _lastJitted;
        }
        LPCBYTE header = nullptr;
        ULONG size = 0;
        const HRESULT hr = _info->GetILFunctionBody(method ? method->module : 0,
                                                    method ? method->token : FirstMethodDef, &header, &size);
        ++calls;
        known += method ? 1 : 0;
        failed += FAILED(hr) ? 1 : 0;
    }
    _record.Record("call", "ReadILFromThread",
                   "thread calls=" + std::to_string(calls) + " known=" + std::to_string(known) +
                       " failed=" + std::to_string(failed));
    if (calls == 0) {
        Fail("no IL read from the target's thread");
    }
}

void TestTarget::ReadILAtUnload(ModuleID moduleId) {
    if (_config.unloadRead.empty()) {
        return;
    }
    ForEachNamedMethod(moduleId, _config.unloadRead, [&](const std::string& name, mdMethodDef token) {
        LPCBYTE header = nullptr;
        ULONG size = 0;
        const HRESULT hr = _info->GetILFunctionBody(moduleId, token, &header, &size);
        _record.Record("call", "UnloadRead",
                       name + " hr=" + HexResult(hr) + " size=" + std::to_string(SUCCEEDED(hr) ? size : 0));
    });
}

void TestTarget::WaitForOwnThread(const char* callback, const std::string& method) {
    if (_config.waitIn != callback || method != _config.rejitMethod || _waited.exchange(true)) {
        return;
    }
    std::optional<Method> requested;
    {
        std::lock_guard<std::mutex> lock(_ilLock);
        requested = _waitTarget;
    }
    if (!requested) {
        Fail("no " + _config.waitMethod + " to request in " + callback);
        return;
    }
    // Shared with the thread: on a time-out it answers after the callback has returned.
    auto answer = std::make_shared<std::promise<HRESULT>>();
    std::future<HRESULT> answered = answer->get_future();
    const std::string action = _config.waitAction;
    const bool posted = _requester.Post([this, answer, action, target = *requested]() mutable {
        HRESULT status = S_OK;
        answer->set_value(action == "revert" ? _info->RequestRevert(1, &target.module, &target.token, &status)
                                             : _info->RequestReJIT(1, &target.module, &target.token));
    });
    const auto start = std::chrono::steady_clock::now();
    if (!posted || answered.wait_for(WaitLimit) != std::future_status::ready) {
        Fail(std::string(callback) + " waited in vain for its own thread's " + action + " of " +
             requested->name);
        return;
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    _record.Record("call", "WaitedRequest",
                   requested->name + " in=" + callback + " action=" + action +
                       " hr=" + HexResult(answered.get()) + " ms=" + std::to_string(waited.count()));
}

void TestTarget::StartStep(const std::string& action) {
    if (action == "drop") {
        _dropped = true;
        _record.Record("call", "Drop", _config.rejitMethod);
        return;
    }
    if (!_worker.Post([this, action] { Request(action); })) {
        Fail("no thread for the step " + action);
    }
}

void TestTarget::Request(const std::string& action) {
    std::optional<Method> method;
    {
        std::lock_guard<std::mutex> lock(_ilLock);
        method = _rejitTarget;
    }
    if (!method) {
        Fail(action + " of " + _config.rejitMethod + " before its first JIT compilation");
        return;
    }
    if (action == "rejit" && _config.rejitInliners) {
        RequestWithInliners(*method);
    } else if (action == "rejit") {
        const HRESULT hr = _info->RequestReJIT(1, &method->module, &method->token);
        _record.Record("call", "RequestReJIT", method->name + " hr=" + HexResult(hr));
    } else if (action == "revert") {
        HRESULT status = S_OK;
        const HRESULT hr = _info->RequestRevert(1, &method->module, &method->token, &status);
        _record.Record("call", "RequestRevert",
                       method->name + " hr=" + HexResult(hr) + " status=" + HexResult(status));
    } else {
        Fail("unknown step " + action);
    }
}

void TestTarget::RequestWithInliners(Method method) {
    ComPtr<ICorProfilerInfo10> info;
    HRESULT hr = _info->QueryInterface(IID_ICorProfilerInfo10,
                                       reinterpret_cast<void**>(info.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr)) {
        hr = info->RequestReJITWithInliners(*_config.rejitInliners, 1, &method.module, &method.token);
    }
    _record.Record("call", "RequestReJITWithInliners", method.name + " hr=" + HexResult(hr));
    if (FAILED(hr)) {
        Fail("RequestReJITWithInliners: " + HexResult(hr));
    }
}

// As a profiler that turns itself off: the answer is recorded, a refusal is no failure.
void TestTarget::RequestDetach() {
    const HRESULT hr = _info->RequestProfilerDetach(5000);
    _record.Record("call", "RequestProfilerDetach", "detach hr=" + HexResult(hr));
}

// Records who answers the configured version: the object given to Initialize itself, or another one.
void TestTarget::ProbeInfoVersion(IUnknown* info) {
    const IID* id = InfoInterfaceId(_config.infoVersion);
    if (id == nullptr) {
        Fail("no ICorProfilerInfo version " + std::to_string(_config.infoVersion));
        return;
    }
    IUnknown* answer = nullptr;
    const HRESULT hr = info->QueryInterface(*id, reinterpret_cast<void**>(&answer));
    const std::string name = _config.infoVersion == 1 ? "" : std::to_string(_config.infoVersion);
    _record.Record("call", "QueryInterface",
                   "ICorProfilerInfo" + name + " hr=" + HexResult(hr) +
                       " object=" + (answer == info ? "same" : "other"));
    if (answer != nullptr) {
        answer->Release();
    }
}

void TestTarget::SetMask(DWORD low, DWORD high, HRESULT expected) {
    DWORD oldLow = 0;
    DWORD oldHigh = 0;
    _info->GetEventMask2(&oldLow, &oldHigh);
    const HRESULT hr = _config.useSetEventMask2 ? _info->SetEventMask2(low, high) : _info->SetEventMask(low);
    _record.Record("call", "SetEventMask", "low=" + Hex(low) + " high=" + Hex(high) + " hr=" + HexResult(hr));
    DWORD gotLow = 0;
    DWORD gotHigh = 0;
    const HRESULT got = _info->GetEventMask2(&gotLow, &gotHigh);
    // A refused mask leaves the one before.
    const DWORD expectedLow = FAILED(hr) ? oldLow : low;
    const DWORD expectedHigh = FAILED(hr) ? oldHigh : _config.useSetEventMask2 ? high : 0;
    if (hr != expected || FAILED(got) || gotLow != expectedLow || gotHigh != expectedHigh) {
        Fail("mask " + Hex(low) + "/" + Hex(high) + " set with " + HexResult(hr) + ", GetEventMask2 gives " +
             Hex(gotLow) + "/" + Hex(gotHigh));
    }
}

// In the documented order: the mask with the enter/leave flags first, then the hooks.
HRESULT TestTarget::SetEnterLeaveHooks() {
    const SlotHooks& hooks = s_slotHooks[_config.number % HookSlots];
    const HRESULT hr = _info->SetEnterLeaveFunctionHooks3WithInfo(hooks.enter, hooks.leave, hooks.tailcall);
    _record.Record("call", "SetEnterLeaveFunctionHooks3WithInfo", "hooks hr=" + HexResult(hr));
    if (FAILED(hr)) {
        Fail("SetEnterLeaveFunctionHooks3WithInfo: " + HexResult(hr));
    }
    return hr;
}

// This instance's hook calls, and the other instances' enter calls.
void TestTarget::RecordHookCalls() {
    const HookCalls& own = s_hookCalls[_config.number % HookSlots];
    uint64_t others = 0;
    for (int slot = 0; slot < HookSlots; ++slot) {
        others += &s_hookCalls[slot] == &own ? 0 : s_hookCalls[slot].enter.load();
    }
    const uint64_t enter = own.enter.load();
    const uint64_t leave = own.leave.load();
    _record.Record("call", "EnterLeaveHooks",
                   "calls enter=" + std::to_string(enter) + " leave=" + std::to_string(leave) +
                       " tailcall=" + std::to_string(own.tailcall.load()) +
                       " marked=" + std::to_string(own.marked.load()) + " others=" + std::to_string(others));
    if (_config.enterLeaveHooks && (enter == 0 || leave == 0)) {
        Fail("the enter/leave hooks were not called");
    }
    if (own.marked.load() != 0) {
        Fail("the enter/leave hooks were given ids that are no function ids");
    }
}

TestTarget::Method TestTarget::Describe(FunctionID functionId) {
    ClassID classId = 0;
    ModuleID moduleId = 0;
    mdToken token = 0;
    const HRESULT hr = _info->GetFunctionInfo(functionId, &classId, &moduleId, &token);
    if (FAILED(hr)) {
        Fail("GetFunctionInfo " + Hex(functionId) + ": " + HexResult(hr));
        return {};
    }
    return Describe(moduleId, token);
}

TestTarget::Method TestTarget::Describe(ModuleID moduleId, mdMethodDef token) {
    Method result;
    result.module = moduleId;
    result.token = token;
    ComPtr<IMetaDataImport> import;
    HRESULT hr = _info->GetModuleMetaData(moduleId, ofRead, IID_IMetaDataImport,
                                          reinterpret_cast<IUnknown**>(import.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        Fail("GetModuleMetaData " + Hex(moduleId) + ": " + HexResult(hr));
        return result;
    }
    WCHAR method[NameCapacity] = {};
    WCHAR type[NameCapacity] = {};
    ULONG length = 0;
    hr = import->GetMethodProps(token, &result.type, method, NameCapacity, &length, nullptr, nullptr, nullptr,
                                nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        hr = import->GetTypeDefProps(result.type, type, NameCapacity, &length, nullptr, nullptr);
    }
    if (FAILED(hr)) {
        Fail("metadata of method " + Hex(token) + ": " + HexResult(hr));
        return result;
    }
    result.name = Narrow(type) + "::" + Narrow(method);
    return result;
}

std::string TestTarget::ModuleName(ModuleID moduleId) {
    WCHAR path[NameCapacity] = {};
    ULONG length = 0;
    LPCBYTE baseAddress = nullptr;
    AssemblyID assemblyId = 0;
    const HRESULT hr = _info->GetModuleInfo(moduleId, &baseAddress, NameCapacity, &length, path, &assemblyId);
    if (FAILED(hr)) {
        Fail("GetModuleInfo " + Hex(moduleId) + ": " + HexResult(hr));
        return "?";
    }
    const std::string name = Narrow(path);
    return name.substr(name.find_last_of('/') + 1);
}

std::string TestTarget::AssemblyName(AssemblyID assemblyId) {
    WCHAR name[NameCapacity] = {};
    ULONG length = 0;
    AppDomainID appDomainId = 0;
    ModuleID moduleId = 0;
    const HRESULT hr =
        _info->GetAssemblyInfo(assemblyId, NameCapacity, &length, name, &appDomainId, &moduleId);
    if (FAILED(hr)) {
        Fail("GetAssemblyInfo " + Hex(assemblyId) + ": " + HexResult(hr));
        return "?";
    }
    return Narrow(name);
}

void TestTarget::Fail(const std::string& reason) noexcept {
    ++_failures;
    try {
        _record.WriteLine("FAILURE\t" + reason);
    } catch (...) {
    }
}

} // namespace e2e
