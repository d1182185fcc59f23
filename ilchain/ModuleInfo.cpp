#include "ilchain/ModuleInfo.h"

#include "logging/Logging.h"

#include <sstream>

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
    const auto found = _methodNames.find(methodDef);
    if (found != _methodNames.end()) {
        return found->second;
    }
    const std::u16string displayName = ReadDisplayName(methodDef);
    if (displayName.empty()) {
        return CreateFallbackMethodName(methodDef);
    }
    std::string text;
    try {
        text = Util::ToString(displayName);
    } catch (const std::range_error&) {
        return CreateFallbackMethodName(methodDef);
    }
    return _methodNames[methodDef] = std::move(text);
}

std::u16string ModuleInfo::ReadDisplayName(mdMethodDef methodDef) const {
    if (!_pMetaDataImport) {
        return {};
    }
    std::u16string methodName(NameBufferLength, u'\0');
    std::u16string typeName(NameBufferLength, u'\0');
    std::u16string moduleName(NameBufferLength, u'\0');
    mdTypeDef typeDef = 0;
    if (FAILED(_pMetaDataImport->GetMethodProps(methodDef, &typeDef, methodName.data(), NameBufferLength,
                                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) ||
        FAILED(_pMetaDataImport->GetTypeDefProps(typeDef, typeName.data(), NameBufferLength, nullptr, nullptr,
                                                 nullptr)) ||
        FAILED(_pMetaDataImport->GetScopeProps(moduleName.data(), NameBufferLength, nullptr, nullptr))) {
        return {};
    }
    // Each name up to its terminating 0; a name cut to fit its buffer keeps its first units.
    const auto untilNul = [](const std::u16string& text) { return text.substr(0, text.find(u'\0')); };
    return u"[" + untilNul(moduleName) + u"] " + untilNul(typeName) + u"::" + untilNul(methodName);
}

const std::string& ModuleInfo::CreateFallbackMethodName(mdMethodDef methodDef) {
    std::ostringstream text;
    text << std::hex << "("
         << "moduleId: 0x" << _moduleId << ","
         << "methodId: 0x" << methodDef << ")";
    return _methodNames[methodDef] = text.str();
}

} // namespace profilermultiplexer
