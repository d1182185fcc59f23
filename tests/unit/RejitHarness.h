// A ProfilerMultiplexer over ReJIT targets and the ReJIT fake runtime, held the way the runtime holds
// it, with helpers that put IL into a target's block and list the proxies in chain order.
#pragma once

#include "RejitFakeRuntime.h"
#include "RejitTarget.h"
#include "TargetHarness.h"
#include "ilchain/IFunctionILBlock.h"

#include <memory>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {

class RejitHarness : public TargetHarness<RejitTarget, RejitFakeRuntime> {
public:
    // A target in list order; the multiplexer owns it once built.
    RejitTarget& AddTarget(const std::string& name, bool revertRejitCallOrder = false) {
        _targets.push_back(&Add(new RejitTarget(name, journal), name, revertRejitCallOrder));
        return *_targets.back();
    }

    ProfilerMultiplexer& BuildAndInitialize() {
        Build();
        Initialize();
        return Multiplexer();
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

private:
    std::vector<RejitTarget*> _targets;
};

} // namespace profilermultiplexer::tests
