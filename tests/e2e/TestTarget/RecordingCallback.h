// A target that records every callback it receives, by name, and otherwise answers as the null target does.
// Derived targets override the callbacks they handle and record them with identifying details.
#pragma once

#include "NullProfilerCallback.h"
#include "RecordFile.h"

#include <atomic>
#include <string>

namespace e2e {

class RecordingCallback : public NullProfilerCallback {
public:
#define E2E_RECORDING_CALLBACK(kind, name, params, args)                                                     \
    HRESULT name params override {                                                                           \
        Received(#name);                                                                                     \
        return NullProfilerCallback::name args;                                                              \
    }
    PM_ALL_CORPROFILERCALLBACK_METHODS(E2E_RECORDING_CALLBACK)
#undef E2E_RECORDING_CALLBACK

protected:
    explicit RecordingCallback(const std::string& recordPath) : _record(recordPath) {}

    void Received(const char* name, const std::string& details = {}) noexcept {
        ++_callbacks;
        _record.Record("callback", name, details);
    }

    RecordFile _record;
    std::atomic<uint64_t> _callbacks{0};
};

} // namespace e2e
