// Creates a target profiler's object from its library the way COM would, without a COM runtime.
#pragma once

#include "platform/ComBase.h"

// Parses the braced form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, exactly 38 units, hexadecimal digits in
// any case. Anything else gives CO_E_CLASSSTRING; out may then hold part of the value.
extern "C" __attribute__((visibility("default"))) HRESULT IIDFromString(char16_t const* text, _GUID* out);

namespace profilermultiplexer {

// Loads the library at path, asks its DllGetClassObject for the class factory of rclsid and creates the
// object for riid. The library stays loaded once its DllGetClassObject has succeeded. phModule may be null.
HRESULT FakeCoCreateInstanceEx(_GUID const& rclsid, char16_t const* path, _GUID const& riid, void** ppv,
                               void** phModule);

// Loads the library at path and calls its DllGetClassObject; closes the library again when that fails.
// Throws when path is not valid UTF-16.
HRESULT FakeCoCallDllGetClassObject(_GUID const& rclsid, char16_t const* path, _GUID const& riid, void** ppv,
                                    void** phModule);

// Releases one reference held on a target's object. An exception from the target is logged and dropped.
void ReleaseTargetObject(IUnknown* object) noexcept;

} // namespace profilermultiplexer
