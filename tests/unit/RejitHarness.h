// A ProfilerMultiplexer over ReJIT targets and the ReJIT fake runtime, held the way the runtime holds
// it, with helpers that put IL into a target's block and list the proxies in chain order.
#pragma once

#include "RejitFakeRuntime.h"
#include "RejitTarget.h"
#include "hosting/ProfilerMultiplexer.h"
#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IFunctionILBlock.h"
#include "logging/Util.h"

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

class RejitHarness {
public:
    RejitHarness() = default;
    RejitHarness(const RejitHarness&) = delete;
    RejitHarness& operator=(const RejitHarness&) = delete;
    ~RejitHarness() {
        if (_multiplexer != nullptr) {
            _multiplexer->Release();
        }
        for (auto& pending : _pending) {
            std::get<0>(pending)->Release();
        }
    }

    // A target in list order; the multiplexer owns it once built.
    RejitTarget& AddTarget(const std::string& name, bool revertRejitCallOrder = false) {
        auto* target = new RejitTarget(name, journal);
        _pending.emplace_back(target, name, revertRejitCallOrder);
        _targets.push_back(target);
        return *target;
    }

    ProfilerMultiplexer& BuildAndInitialize() {
        std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> targets;
        double priority = 1.0;
        for (auto& [target, name, revert] : _pending) {
            targets.emplace_back(
                target, ProfilerSettings(Util::ToWString(name), u"/lib.so", u"{}", priority++, revert));
        }
        _pending.clear();
        _multiplexer = new ProfilerMultiplexer(true, std::move(targets));
        void* held = nullptr;
        _multiplexer->QueryInterface(IID_ICorProfilerCallback9, &held);
        _multiplexer->Initialize(static_cast<ICorProfilerInfo10*>(&runtime));
        return *_multiplexer;
    }

    ProfilerMultiplexer& Multiplexer() { return *_multiplexer; }

    // The proxy that the target received as its info object.
    static TargetProfilerProxy& Proxy(const RejitTarget& target) {
        return static_cast<TargetProfilerProxy&>(target.Info());
    }

    // The proxies in list order, as the multiplexer hands them to a RejitProcessor; not owning.
    std::vector<std::shared_ptr<ITargetProfilerProxy>> Proxies() const {
        std::vector<std::shared_ptr<ITargetProfilerProxy>> proxies;
        for (RejitTarget* target : _targets) {
            proxies.emplace_back(std::shared_ptr<void>(),
                                 static_cast<ITargetProfilerProxy*>(&Proxy(*target)));
        }
        return proxies;
    }

    // Sets il as the target's IL for the method, in a block of its own.
    static std::shared_ptr<IFunctionILBlock> GiveIL(const RejitTarget& target, ModuleID moduleId,
                                                    mdMethodDef methodDef, const std::vector<BYTE>& il) {
        auto block = Proxy(target).CreateFunctionILBlock(moduleId, methodDef);
        block->SetILFunctionBody(static_cast<ULONG>(il.size()), il.data());
        return block;
    }

    RejitJournal journal;
    RejitFakeRuntime runtime;

private:
    std::vector<std::tuple<RejitTarget*, std::string, bool>> _pending;
    std::vector<RejitTarget*> _targets;
    ProfilerMultiplexer* _multiplexer = nullptr;
};

} // namespace profilermultiplexer::tests
