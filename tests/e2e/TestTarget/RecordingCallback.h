// A target that records every callback it receives, by name, and otherwise answers as the null target does.
// Derived targets override the callbacks they handle and record them with identifying details.
#pragma once

#include "NullProfilerCallback.h"
#include "RecordFile.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <utility>

namespace e2e {

class RecordingCallback : public NullProfilerCallback {
public:
#define E2E_RECORDING_CALLBACK(kind, name, params, args)                                                     \
    HRESULT name params override {                                                                           \
        Received(#name);                                                                                     \
        ThrowIfAsked(#name);                                                                                 \
        return NullProfilerCallback::name args;                                                              \
    }
    PM_ALL_CORPROFILERCALLBACK_METHODS(E2E_RECORDING_CALLBACK)
#undef E2E_RECORDING_CALLBACK

protected:
    // throwIn names the callback that throws, as profilers built on the shared C++ runtime may.
    RecordingCallback(const std::string& recordPath, std::string throwIn)
        : _record(recordPath), _throwIn(std::move(throwIn)) {}

    void Received(const char* name, const std::string& details = {}) noexcept {
        ++_callbacks;
        _record.Record("callback", name, details);
    }

    void ThrowIfAsked(const char* name) const {
        if (_throwIn == name) {
            throw std::runtime_error(std::string("e2e target throws from ") + name);
        }
    }

    RecordFile _record;
    const std::string _throwIn;
    std::atomic<uint64_t> _callbacks{0};
};

} // namespace e2e
