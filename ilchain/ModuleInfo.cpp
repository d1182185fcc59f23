#include "ilchain/ModuleInfo.h"

#include "logging/Logging.h"

#include <fmt/format.h>

#include <memory>
#include <string_view>

namespace profilermultiplexer {

namespace {

constexpr ULONG NameBufferLength = 0x1000;

} // namespace

ModuleInfo::ModuleInfo(ICorProfilerInfo10* pCorProfilerInfo, ModuleID moduleId) : _moduleId(moduleId) {
    if (pCorProfilerInfo == nullptr) {
        return;
    }
    ComPtr<IUnknown> metaData;
    HRESULT hr = pCorProfilerInfo->GetModuleMetaData(moduleId, ofRead, IID_IMetaDataImport2,
                                                     metaData.ReleaseAndGetAddressOf());
    if (FAILED(hr) || hr == S_FALSE || !metaData) {
        Error("ModuleInfo::ModuleInfo GetModuleMetaData returned hr= {:x}", hr);
        return;
    }
    hr = metaData->QueryInterface(IID_IMetaDataImport,
                                  reinterpret_cast<void**>(_pMetaDataImport.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        _pMetaDataImport.Reset();
        Error("ModuleInfo::ModuleInfo QueryInterface for IID_IMetaDataImport returned hr= {:x}", hr);
    }
}

const std::string& ModuleInfo::GetMethodName(mdMethodDef methodDef) {
    // One search: its position also serves the insertion.
    const auto position = _methodNames.lower_bound(methodDef);
    if (position != _methodNames.end() && position->first == methodDef) {
        return position->second;
    }
    // Reused by every name read on the thread: no allocation once it has grown.
    thread_local std::u16string displayName;
    if (!ReadDisplayName(methodDef, displayName)) {
        return CreateFallbackMethodName(methodDef);
    }
    std::string text;
    try {
        text = Util::ToString(displayName);
    } catch (const std::range_error&) {
        return CreateFallbackMethodName(methodDef);
    }
    // Kept for the life of the process: without spare capacity.
    text.shrink_to_fit();
    return _methodNames.emplace_hint(position, methodDef, std::move(text))->second;
}

bool ModuleInfo::ReadDisplayName(mdMethodDef methodDef, std::u16string& displayName) const {
    if (!_pMetaDataImport) {
        return false;
    }
    // One buffer for the three names per thread, kept between calls and not cleared: the reader
    // terminates what it writes, and each piece starts and ends with 0 so that a name is never read past
    // its piece.
    thread_local const std::unique_ptr<char16_t[]> buffer(new char16_t[3 * NameBufferLength]);
    char16_t* const methodName = buffer.get();
    char16_t* const typeName = methodName + NameBufferLength;
    char16_t* const moduleName = typeName + NameBufferLength;
    for (char16_t* name : {methodName, typeName, moduleName}) {
        name[0] = u'\0';
        name[NameBufferLength - 1] = u'\0';
    }
    mdTypeDef typeDef = 0;
    if (FAILED(_pMetaDataImport->GetMethodProps(methodDef, &typeDef, methodName, NameBufferLength, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, nullptr)) ||
        FAILED(_pMetaDataImport->GetTypeDefProps(typeDef, typeName, NameBufferLength, nullptr, nullptr,
                                                 nullptr)) ||
        FAILED(_pMetaDataImport->GetScopeProps(moduleName, NameBufferLength, nullptr, nullptr))) {
        return false;
    }
    const std::u16string_view method(methodName), type(typeName), module(moduleName);
    displayName.clear();
    displayName.append(u"[").append(module).append(u"] ").append(type).append(u"::").append(method);
    return true;
}

const std::string& ModuleInfo::CreateFallbackMethodName(mdMethodDef methodDef) {
    return _methodNames[methodDef] = FallbackMethodName(_moduleId, methodDef);
}

std::string ModuleInfo::FallbackMethodName(ModuleID moduleId, mdMethodDef methodDef) {
    return fmt::format("(moduleId: 0x{:x},methodId: 0x{:x})", moduleId, methodDef);
}

} // namespace profilermultiplexer
