// What one instance of the test target does, read from E2E_TARGET_<number>_* environment variables.
#pragma once

#include "ComBase.h"

#include <cstdint>
#include <optional>
#include <string>

namespace e2e {

struct TargetConfig {
    int number = 0;
    DWORD maskLow = 0;             // _MASK_LOW
    DWORD maskHigh = 0;            // _MASK_HIGH
    bool useSetEventMask2 = false; // _USE_SETEVENTMASK2: non-zero sets both words, else SetEventMask(low)
    std::string out;               // _OUT: the record file; empty records nothing
    int infoVersion = 10;          // _INFO_VERSION: ICorProfilerInfo version asked of the info object, 1..11
    HRESULT initResult = S_OK;     // _INIT_RESULT: what Initialize returns
    std::optional<uint64_t> newMaskOnModuleLoad; // _NEW_MASK_ON_MODULELOAD: high << 32 | low, set once

    static TargetConfig FromEnvironment(int number);
};

} // namespace e2e
