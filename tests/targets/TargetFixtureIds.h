// Ids shared by the test target libraries and the tests that load them.
#pragma once

#include "ComBase.h"

namespace targetfixture {

// The class id every test target library serves; any other gives CLASS_E_CLASSNOTAVAILABLE.
constexpr char const* ClsidText = "{5D3D6A1E-6C1B-4B8E-9E57-3C8F0E2A4B11}";
constexpr GUID Clsid = {0x5D3D6A1E, 0x6C1B, 0x4B8E, {0x9E, 0x57, 0x3C, 0x8F, 0x0E, 0x2A, 0x4B, 0x11}};

// An interface that the test targets' objects answer and the multiplexer does not.
constexpr GUID TargetOnlyIid = {0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};

} // namespace targetfixture
