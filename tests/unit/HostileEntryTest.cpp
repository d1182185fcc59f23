// A target that throws from every entry the multiplexer calls on it: no exception reaches the runtime,
// the other targets are still called, and the thrown call merges as the rules say.
#include "DistinctArgs.h"
#include "MultiplexerHarness.h"
#include "RejitFakeFunctionControl.h"
#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IFunctionILBlock.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

constexpr DWORD AllLow = 0xFFFFFFFF;
constexpr DWORD AllHigh = 0xFFFFFFFF;
constexpr FunctionID Function = 0x77;
constexpr ModuleID Module = 0x1000;
constexpr mdMethodDef Method = 0x06000001;

TargetProfilerProxy& Proxy(const RecordingTarget& target) {
    return *static_cast<TargetProfilerProxy*>(static_cast<ICorProfilerInfo10*>(target.Info()));
}

// The thrower first, a target answering S_FALSE after it; both ask for every callback.
class ThrowingTargetTest : public testing::Test {
protected:
    ThrowingTargetTest()
        : thrower(harness.AddTarget("Thrower", AllLow, AllHigh)),
          next(harness.AddTarget("Next", AllLow, AllHigh)) {
        thrower.throwOnCallback = true;
        next.result = S_FALSE;
        harness.runtime.AddFunction(Function, Module, Method);
        EXPECT_EQ(harness.BuildAndInitialize(), S_OK);
    }

    // Both targets hold IL for the method and take part in its next ReJIT.
    void PrepareRejit() {
        for (RecordingTarget* target : {&thrower, &next}) {
            ModuleID modules[] = {Module};
            mdMethodDef methods[] = {Method};
            // The runtime here refuses the request (E_NOTIMPL); the targets are prepared before it is asked.
            Proxy(*target).RequestReJIT(1, modules, methods);
            const BYTE il[] = {0x06, 0x2A};
            Proxy(*target).GetFunctionILBlock(Module, Method)->SetILFunctionBody(sizeof(il), il);
        }
    }

    MultiplexerHarness harness;
    RecordingTarget& thrower;
    RecordingTarget& next;
};

struct Entry {
    const char* name;
    std::function<HRESULT(ProfilerMultiplexer&)> call;
};

void PrintTo(const Entry& entry, std::ostream* os) {
    *os << entry.name;
}

#define PM_HOSTILE_ENTRY(kind, name, params, args) PM_HOSTILE_ENTRY_##kind(name)
#define PM_HOSTILE_ENTRY_CUSTOM(name)
#define PM_HOSTILE_ENTRY_FANOUT(name)                                                                        \
    Entry{#name, [](ProfilerMultiplexer& multiplexer) {                                                      \
              return CallWithDistinctArgs(&multiplexer, &ICorProfilerCallback9::name, 5).first;              \
          }},
// The module callbacks, InitializeForAttach and ObjectAllocated are written by hand but call the targets as a
// fan-out does.
const std::vector<Entry> FanOutEntries = {
    PM_ALL_CORPROFILERCALLBACK_METHODS(PM_HOSTILE_ENTRY) PM_HOSTILE_ENTRY_FANOUT(ModuleLoadStarted)
        PM_HOSTILE_ENTRY_FANOUT(ModuleUnloadStarted) PM_HOSTILE_ENTRY_FANOUT(ModuleUnloadFinished)
            PM_HOSTILE_ENTRY_FANOUT(InitializeForAttach) PM_HOSTILE_ENTRY_FANOUT(ObjectAllocated)};
#undef PM_HOSTILE_ENTRY_FANOUT
#undef PM_HOSTILE_ENTRY_CUSTOM
#undef PM_HOSTILE_ENTRY

// Every entry but Initialize, whose throwing target is dropped (MultiplexerInitialize tests).
std::vector<Entry> AllEntries() {
    std::vector<Entry> entries = FanOutEntries;
    entries.push_back({"Shutdown", [](ProfilerMultiplexer& m) { return m.Shutdown(); }});
    entries.push_back({"JITCompilationStarted",
                       [](ProfilerMultiplexer& m) { return m.JITCompilationStarted(Function, TRUE); }});
    entries.push_back({"JITCompilationFinished", [](ProfilerMultiplexer& m) {
                           return m.JITCompilationFinished(Function, S_OK, TRUE);
                       }});
    entries.push_back({"GetReJITParameters", [](ProfilerMultiplexer& m) {
                           RejitFakeFunctionControl control;
                           return m.GetReJITParameters(Module, Method, &control);
                       }});
    entries.push_back({"ReJITCompilationStarted",
                       [](ProfilerMultiplexer& m) { return m.ReJITCompilationStarted(Function, 1, TRUE); }});
    entries.push_back({"ReJITCompilationFinished", [](ProfilerMultiplexer& m) {
                           return m.ReJITCompilationFinished(Function, 1, S_OK, TRUE);
                       }});
    entries.push_back({"ReJITError", [](ProfilerMultiplexer& m) {
                           return m.ReJITError(Module, Method, Function, E_FAIL);
                       }});
    return entries;
}

bool IsRejitEntry(const std::string& name) {
    return name == "GetReJITParameters" || name == "ReJITCompilationStarted" ||
           name == "ReJITCompilationFinished" || name == "ReJITError";
}

class EveryEntry : public ThrowingTargetTest, public testing::WithParamInterface<Entry> {};

TEST_P(EveryEntry, ThrowingTargetNeitherReachesTheRuntimeNorStopsTheNextTarget) {
    const std::string name = GetParam().name;
    if (IsRejitEntry(name)) {
        PrepareRejit();
    }
    HRESULT hr = E_UNEXPECTED;
    EXPECT_NO_THROW(hr = GetParam().call(harness.Multiplexer()));
    // The thrown call counts as no result: the next target's S_FALSE stands. GetReJITParameters always
    // gives the runtime S_OK, and so does JITCompilationStarted when it has no IL to apply.
    const bool alwaysOk = name == "GetReJITParameters" || name == "JITCompilationStarted";
    EXPECT_EQ(hr, alwaysOk ? S_OK : S_FALSE);
    EXPECT_EQ(thrower.CallNames().back(), name);
    EXPECT_EQ(next.CallNames().back(), name);
}

INSTANTIATE_TEST_SUITE_P(AllCallbacks, EveryEntry, testing::ValuesIn(AllEntries()),
                         [](const testing::TestParamInfo<Entry>& info) {
                             return std::string(info.param.name);
                         });

TEST(EveryEntryList, CoversEveryCallbackButInitialize) {
    EXPECT_EQ(AllEntries().size(), 91u);
}

// Throws from QueryInterface (every probe of its callback versions) or, once armed, from Release.
class HostileIdentityTarget : public RecordingTarget {
public:
    bool throwOnQueryInterface = false;
    bool throwOnRelease = false;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (throwOnQueryInterface) {
            throw std::runtime_error("QueryInterface failure");
        }
        return RecordingTarget::QueryInterface(riid, ppv);
    }
    ULONG Release() override {
        if (throwOnRelease && _refCount == 1) {
            delete this;
            throw std::runtime_error("Release failure");
        }
        return RecordingTarget::Release();
    }
};

ProfilerMultiplexer* BuildOver(HostileIdentityTarget* target, FakeRuntimeInfo& runtime) {
    // Without the flags that need ICorProfilerCallback6 and 7, which a target throwing from QueryInterface
    // does not answer.
    target->initializeMask = std::make_pair(
        AllLow, AllHigh & ~(COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES | COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED));
    std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> targets;
    targets.emplace_back(target, ProfilerSettings(u"Hostile", u"/lib.so", u"{}", 1.0, false));
    auto* multiplexer = new ProfilerMultiplexer(true, std::move(targets));
    void* held = nullptr;
    multiplexer->QueryInterface(IID_ICorProfilerCallback9, &held);
    EXPECT_EQ(multiplexer->Initialize(static_cast<ICorProfilerInfo10*>(&runtime)), S_OK);
    return multiplexer;
}

TEST(HostileIdentity, TargetThrowingFromQueryInterfaceGetsOnlyTheCallbacksOfICorProfilerCallback2) {
    FakeRuntimeInfo runtime;
    auto* target = new HostileIdentityTarget;
    target->throwOnQueryInterface = true;
    ProfilerMultiplexer* multiplexer = BuildOver(target, runtime);
    EXPECT_EQ(multiplexer->ModuleLoadStarted(1), S_OK);
    EXPECT_EQ(multiplexer->ProfilerAttachComplete(), S_OK) << "an ICorProfilerCallback3 callback";
    EXPECT_EQ(target->CallNames(), (std::vector<std::string>{"Initialize", "ModuleLoadStarted"}));
    target->throwOnQueryInterface = false;
    multiplexer->Release();
}

TEST(HostileIdentity, TargetThrowingFromItsLastReleaseDoesNotReachTheRuntime) {
    FakeRuntimeInfo runtime;
    auto* target = new HostileIdentityTarget;
    ProfilerMultiplexer* multiplexer = BuildOver(target, runtime);
    target->throwOnRelease = true;
    EXPECT_EQ(multiplexer->Shutdown(), S_OK);
    EXPECT_NO_THROW(multiplexer->Release());
}

} // namespace
} // namespace profilermultiplexer::tests
