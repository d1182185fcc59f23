#include "TestTarget.h"

#include "MetaDataImport.h"

#include <cstdio>
#include <utility>

namespace e2e {
namespace {

constexpr const char* PassPhrase = "E2E TARGET PASS";
constexpr ULONG NameCapacity = 512;

// ICorProfilerInfo11, which the info object is asked for to see who answers a version past the tenth.
constexpr IID IID_ICorProfilerInfo11 = {
    0x06398876, 0x8987, 0x4154, {0xB6, 0x21, 0x40, 0xA0, 0x0D, 0x6E, 0x4D, 0x04}};

const IID* InfoInterfaceId(int version) {
    static const IID* const ids[] = {&IID_ICorProfilerInfo,   &IID_ICorProfilerInfo2, &IID_ICorProfilerInfo3,
                                     &IID_ICorProfilerInfo4,  &IID_ICorProfilerInfo5, &IID_ICorProfilerInfo6,
                                     &IID_ICorProfilerInfo7,  &IID_ICorProfilerInfo8, &IID_ICorProfilerInfo9,
                                     &IID_ICorProfilerInfo10, &IID_ICorProfilerInfo11};
    return version >= 1 && version <= 11 ? ids[version - 1] : nullptr;
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

} // namespace

TestTarget::TestTarget(TargetConfig config) : RecordingCallback(config.out), _config(std::move(config)) {}

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
    return _config.initResult;
}

HRESULT TestTarget::Shutdown() {
    Received("Shutdown");
    const bool once = ++_shutdownCount == 1 && _initializeCount == 1;
    _record.WriteLine("SUMMARY\tcallbacks=" + std::to_string(_callbacks) +
                      "\tfailures=" + std::to_string(_failures));
    _record.WriteLine(_failures == 0 && once ? PassPhrase : "E2E TARGET FAIL");
    return S_OK;
}

HRESULT TestTarget::AssemblyLoadFinished(AssemblyID assemblyId, HRESULT) {
    Received("AssemblyLoadFinished", AssemblyName(assemblyId));
    return S_OK;
}

HRESULT TestTarget::ModuleLoadFinished(ModuleID moduleId, HRESULT) {
    Received("ModuleLoadFinished", ModuleName(moduleId));
    if (_config.newMaskOnModuleLoad && !_maskChanged.exchange(true)) {
        const uint64_t mask = *_config.newMaskOnModuleLoad;
        SetMask(static_cast<DWORD>(mask), static_cast<DWORD>(mask >> 32));
    }
    return S_OK;
}

HRESULT TestTarget::JITCompilationStarted(FunctionID functionId, BOOL) {
    Received("JITCompilationStarted", MethodName(functionId));
    return S_OK;
}

HRESULT TestTarget::JITCompilationFinished(FunctionID functionId, HRESULT, BOOL) {
    Received("JITCompilationFinished", Hex(functionId));
    return S_OK;
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

void TestTarget::SetMask(DWORD low, DWORD high) {
    const HRESULT hr = _config.useSetEventMask2 ? _info->SetEventMask2(low, high) : _info->SetEventMask(low);
    _record.Record("call", "SetEventMask", "low=" + Hex(low) + " high=" + Hex(high) + " hr=" + HexResult(hr));
    DWORD gotLow = 0;
    DWORD gotHigh = 0;
    const HRESULT got = _info->GetEventMask2(&gotLow, &gotHigh);
    const DWORD expectedHigh = _config.useSetEventMask2 ? high : 0;
    if (FAILED(hr) || FAILED(got) || gotLow != low || gotHigh != expectedHigh) {
        Fail("mask " + Hex(low) + "/" + Hex(high) + " set with " + HexResult(hr) + ", GetEventMask2 gives " +
             Hex(gotLow) + "/" + Hex(gotHigh));
    }
}

std::string TestTarget::MethodName(FunctionID functionId) {
    ClassID classId = 0;
    ModuleID moduleId = 0;
    mdToken token = 0;
    HRESULT hr = _info->GetFunctionInfo(functionId, &classId, &moduleId, &token);
    if (FAILED(hr)) {
        Fail("GetFunctionInfo " + Hex(functionId) + ": " + HexResult(hr));
        return "?";
    }
    ComPtr<IMetaDataImport> import;
    hr = _info->GetModuleMetaData(moduleId, ofRead, IID_IMetaDataImport,
                                  reinterpret_cast<IUnknown**>(import.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        Fail("GetModuleMetaData " + Hex(moduleId) + ": " + HexResult(hr));
        return "?";
    }
    WCHAR method[NameCapacity] = {};
    WCHAR type[NameCapacity] = {};
    mdTypeDef typeToken = 0;
    ULONG length = 0;
    hr = import->GetMethodProps(token, &typeToken, method, NameCapacity, &length, nullptr, nullptr, nullptr,
                                nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        hr = import->GetTypeDefProps(typeToken, type, NameCapacity, &length, nullptr, nullptr);
    }
    if (FAILED(hr)) {
        Fail("metadata of method " + Hex(token) + ": " + HexResult(hr));
        return "?";
    }
    return Narrow(type) + "::" + Narrow(method);
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
