#include "micro/BenchHost.h"

#include "hosting/ProfilerMultiplexer.h"
#include "logging/Util.h"

#include <stdexcept>
#include <string>
#include <tuple>

namespace pmbench {

using profilermultiplexer::ProfilerMultiplexer;
using profilermultiplexer::ProfilerSettings;

BenchHost::BenchHost(const std::vector<DWORD>& targetMasks, bool rewrite, bool multiplexed) {
    for (DWORD mask : targetMasks) {
        RewritingTarget::Options options;
        options.eventMask = mask;
        options.rewrite = rewrite;
        _targets.push_back(new RewritingTarget(options));
        _callbacks.push_back(_targets.back());
    }
    if (!multiplexed) {
        for (RewritingTarget* target : _targets) {
            target->Initialize(static_cast<ICorProfilerInfo10*>(&_runtime));
        }
        _profiler = _callbacks.at(0);
        return;
    }
    std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> settings;
    int number = 1;
    for (ICorProfilerCallback9* target : _callbacks) {
        std::u16string name = u"Target" + profilermultiplexer::Util::ToWString(std::to_string(number));
        settings.emplace_back(target,
                              ProfilerSettings(std::move(name), u"/bench.so", u"{}", number++, false));
    }
    _multiplexer = new ProfilerMultiplexer(true, std::move(settings));
    void* held = nullptr;
    _multiplexer->QueryInterface(IID_ICorProfilerCallback9, &held);
    if (FAILED(_multiplexer->Initialize(static_cast<ICorProfilerInfo10*>(&_runtime)))) {
        throw std::runtime_error("the multiplexer did not initialise");
    }
    _profiler = static_cast<ICorProfilerCallback9*>(held);
}

BenchHost::~BenchHost() {
    if (_multiplexer != nullptr) {
        _multiplexer->Release(); // releases the targets too
        return;
    }
    for (RewritingTarget* target : _targets) {
        target->Release();
    }
}

} // namespace pmbench
