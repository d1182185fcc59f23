// Class ids under which the runtime activates the multiplexer.
#pragma once

#include "ComBase.h"

// Activated through the CORECLR_ profiler variables.
extern const CLSID CLSID_CoreClrProfilerMultiplexer;
// Activated through the COR_ profiler variables.
extern const CLSID CLSID_ClrProfilerMultiplexer;
