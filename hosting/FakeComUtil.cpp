#include "hosting/FakeComUtil.h"

#include "logging/Logging.h"
#include "logging/Util.h"

#include <dlfcn.h>
#include <string>

namespace {

constexpr std::size_t Data4Length = sizeof(_GUID::Data4);
constexpr std::size_t Data4FirstGroup = 2; // bytes before the last dash

int HexDigitValue(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') {
        return unit - u'0';
    }
    if (unit >= u'A' && unit <= u'F') {
        return unit - u'A' + 10;
    }
    if (unit >= u'a' && unit <= u'f') {
        return unit - u'a' + 10;
    }
    return -1;
}

// Reads one expected unit at position; the position moves on only past a match.
bool ReadUnit(char16_t const* text, std::size_t& position, char16_t expected) {
    if (text[position] != expected) {
        return false;
    }
    ++position;
    return true;
}

// Reads digits hexadecimal digits at position into field, first digit most significant.
template <typename Field>
bool ReadHex(char16_t const* text, std::size_t& position, std::size_t digits, Field& field) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        int const digit = HexDigitValue(text[position]);
        if (digit < 0) {
            return false;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
        ++position;
    }
    field = static_cast<Field>(value);
    return true;
}

bool ReadBytes(char16_t const* text, std::size_t& position, uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!ReadHex(text, position, 2, bytes[i])) {
            return false;
        }
    }
    return true;
}

bool ParseGuid(char16_t const* text, _GUID& out) {
    std::size_t position = 0;
    return ReadUnit(text, position, u'{') && ReadHex(text, position, 8, out.Data1) &&
           ReadUnit(text, position, u'-') && ReadHex(text, position, 4, out.Data2) &&
           ReadUnit(text, position, u'-') && ReadHex(text, position, 4, out.Data3) &&
           ReadUnit(text, position, u'-') && ReadBytes(text, position, out.Data4, Data4FirstGroup) &&
           ReadUnit(text, position, u'-') &&
           ReadBytes(text, position, out.Data4 + Data4FirstGroup, Data4Length - Data4FirstGroup) &&
           ReadUnit(text, position, u'}') && ReadUnit(text, position, u'\0');
}

} // namespace

extern "C" HRESULT IIDFromString(char16_t const* text, _GUID* out) {
    if (text == nullptr) {
        return CO_E_CLASSSTRING;
    }
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    return ParseGuid(text, *out) ? S_OK : CO_E_CLASSSTRING;
}

namespace profilermultiplexer {

namespace {

using DllGetClassObjectFunction = HRESULT (*)(_GUID const&, _GUID const&, void**);

std::string LastLoaderError() {
    char const* error = dlerror();
    return error != nullptr ? error : "";
}

void* OpenLibrary(std::string const& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW);
    if (handle != nullptr) {
        return handle;
    }
    Warn("Failed to load profiler library from: {}, reason: {} using 'RTLD_NOW', trying to load it using the "
         "'RTLD_LAZY' approach.",
         path, LastLoaderError());
    handle = dlopen(path.c_str(), RTLD_LAZY);
    if (handle == nullptr) {
        Error("Can't load profiler library from: {}, reason: {} using 'RTLD_LAZY'.", path, LastLoaderError());
    }
    return handle;
}

HRESULT CallDllGetClassObject(void* handle, std::string const& path, _GUID const& rclsid, _GUID const& riid,
                              void** ppv) noexcept {
    auto const entry = reinterpret_cast<DllGetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
    if (entry == nullptr) {
        Error("GetProcAddress failed to find DllGetClassObject, for: {}", path);
        return E_FAIL;
    }
    try {
        return entry(rclsid, riid, ppv);
    } catch (...) {
        Error("GetProcAddress/dlsym failed with an exception");
        return E_FAIL;
    }
}

} // namespace

HRESULT FakeCoCallDllGetClassObject(_GUID const& rclsid, char16_t const* path, _GUID const& riid, void** ppv,
                                    void** phModule) {
    if (phModule != nullptr) {
        *phModule = nullptr;
    }
    std::string const file = Util::ToString(path);
    void* const handle = OpenLibrary(file);
    if (handle == nullptr) {
        return E_FAIL;
    }
    HRESULT const hr = CallDllGetClassObject(handle, file, rclsid, riid, ppv);
    if (FAILED(hr)) {
        dlclose(handle);
        Error("Unloading the library: {}", file);
        return hr;
    }
    if (phModule != nullptr) {
        *phModule = handle;
    }
    return S_OK;
}

HRESULT FakeCoCreateInstanceEx(_GUID const& rclsid, char16_t const* path, _GUID const& riid, void** ppv,
                               void** phModule) {
    IClassFactory* factory = nullptr;
    void* module = nullptr;
    HRESULT hr = E_FAIL;
    try {
        hr = FakeCoCallDllGetClassObject(rclsid, path, IID_IClassFactory, reinterpret_cast<void**>(&factory),
                                         &module);
    } catch (...) {
        Error("FakeCoCallDllGetClassObject has failed to create the profiler.Exception!");
        return E_FAIL;
    }
    if (FAILED(hr)) {
        Error("FakeCoCallDllGetClassObject has failed to create the profiler. Hr 0X{:x}", hr);
        return hr;
    }
    if (factory == nullptr) {
        Error("FakeCoCallDllGetClassObject has failed to create the profiler. FakeCoCallDllGetClassObject "
              "returns "
              "null");
        return E_FAIL;
    }
    try {
        hr = factory->CreateInstance(nullptr, riid, ppv);
    } catch (...) {
        Error("pClassFactory->CreateInstance has failed to create the profiler.Exception!");
        ReleaseTargetObject(factory);
        return E_FAIL;
    }
    // The factory is not needed once the object exists, as with COM's own instance creation.
    ReleaseTargetObject(factory);
    if (phModule != nullptr) {
        *phModule = module;
    }
    return hr;
}

void ReleaseTargetObject(IUnknown* object) noexcept {
    try {
        object->Release();
    } catch (...) {
        Error("Unhandled exception when releasing a target profiler's object");
    }
}

} // namespace profilermultiplexer
