#include "LogCapture.h"
#include "MultiplexerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

using FunctionName = ProfilerCallbackFunctionFilter::FunctionName;
constexpr DWORD AllLow = 0xFFFFFFFF;
constexpr DWORD AllHigh = 0xFFFFFFFF;

// What one target does with a callback: return a code, or throw.
struct Outcome {
    std::optional<HRESULT> code;
    static Outcome Returns(HRESULT hr) { return {hr}; }
    static Outcome Throws() { return {std::nullopt}; }
};

struct MergeCase {
    const char* name;
    std::vector<Outcome> targets;
    HRESULT expected;
};

void PrintTo(const MergeCase& row, std::ostream* os) {
    *os << row.name;
}

class MergeTest : public testing::TestWithParam<MergeCase> {};

TEST_P(MergeTest, MergesTheTargetsResultsInCallOrder) {
    MultiplexerHarness harness;
    int index = 0;
    for (const Outcome& outcome : GetParam().targets) {
        RecordingTarget& target = harness.AddTarget("T" + std::to_string(index++), AllLow, AllHigh);
        target.throwOnCallback = !outcome.code;
        target.result = outcome.code.value_or(S_OK);
    }
    ASSERT_EQ(harness.BuildAndInitialize(), index > 0 ? S_OK : CORPROF_E_PROFILER_CANCEL_ACTIVATION);
    EXPECT_EQ(harness.Multiplexer().ModuleLoadStarted(7), GetParam().expected);
}

const Outcome Throw = Outcome::Throws();
Outcome Ret(HRESULT hr) {
    return Outcome::Returns(hr);
}

INSTANTIATE_TEST_SUITE_P(
    Results, MergeTest,
    testing::Values(MergeCase{"SFalseSFalse", {Ret(S_FALSE), Ret(S_FALSE)}, S_FALSE},
                    MergeCase{"FailNotImpl", {Ret(E_FAIL), Ret(E_NOTIMPL)}, E_FAIL},
                    MergeCase{"FailOk", {Ret(E_FAIL), Ret(S_OK)}, S_OK},
                    MergeCase{"SFalseOk", {Ret(S_FALSE), Ret(S_OK)}, S_OK},
                    MergeCase{"OkSFalseSFalse", {Ret(S_OK), Ret(S_FALSE), Ret(S_FALSE)}, S_OK},
                    MergeCase{"SingleFailure", {Ret(E_NOTIMPL)}, E_NOTIMPL},
                    MergeCase{"ThrowNotImpl", {Throw, Ret(E_NOTIMPL)}, E_NOTIMPL},
                    MergeCase{"ThrowAlone", {Throw}, E_FAIL},
                    MergeCase{"OkThrow", {Ret(S_OK), Throw}, E_FAIL},
                    MergeCase{"OkThrowOk", {Ret(S_OK), Throw, Ret(S_OK)}, S_OK},
                    MergeCase{"NotImplThrow", {Ret(E_NOTIMPL), Throw}, E_NOTIMPL},
                    MergeCase{"SFalseThrow", {Ret(S_FALSE), Throw}, S_FALSE},
                    MergeCase{"NoTargets", {}, S_OK}),
    [](const testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

TEST(FanOut, ThrowingTargetIsLoggedAndTheNextOneStillCalled) {
    LogCapture capture("info");
    MultiplexerHarness harness;
    harness.AddTarget("Thrower", AllLow, AllHigh).throwOnCallback = true;
    RecordingTarget& next = harness.AddTarget("Next", AllLow, AllHigh);
    harness.BuildAndInitialize();
    harness.Multiplexer().ThreadCreated(3);
    EXPECT_EQ(next.CallNames().back(), "ThreadCreated");
    const auto messages = capture.Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         "Unhandled exception when calling ThreadCreated on Thrower"),
              1);
}

TEST(FanOut, OnlyTargetsWhoseMaskAsksAreCalled) {
    MultiplexerHarness harness;
    RecordingTarget& modules = harness.AddTarget("A", COR_PRF_MONITOR_MODULE_LOADS);
    modules.result = S_FALSE;
    RecordingTarget& threads = harness.AddTarget("B", COR_PRF_MONITOR_THREADS);
    harness.BuildAndInitialize();
    EXPECT_EQ(harness.Multiplexer().ModuleLoadStarted(1), S_FALSE);
    EXPECT_EQ(modules.CallNames().back(), "ModuleLoadStarted");
    EXPECT_EQ(threads.CallNames(), std::vector<std::string>{"Initialize"});
}

TEST(FanOut, ReadsEachTargetsMaskAtTheCall) {
    MultiplexerHarness harness;
    RecordingTarget& target = harness.AddTarget("A");
    harness.BuildAndInitialize();
    harness.Multiplexer().ModuleLoadStarted(1);
    auto* info = static_cast<ICorProfilerInfo10*>(target.Info());
    info->SetEventMask(COR_PRF_MONITOR_MODULE_LOADS);
    harness.Multiplexer().ModuleLoadStarted(2);
    EXPECT_EQ(target.Calls().back(), (RecordedCall{"ModuleLoadStarted", {2}}));
    EXPECT_EQ(target.Calls().size(), 2u);
}

TEST(FanOut, FollowsTheHighWordAndItsClearingBySetEventMask) {
    MultiplexerHarness harness;
    RecordingTarget& target = harness.AddTarget("A");
    harness.BuildAndInitialize();
    auto* info = static_cast<ICorProfilerInfo10*>(target.Info());
    info->SetEventMask2(0, COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES);
    harness.Multiplexer().GetAssemblyReferences(nullptr, nullptr);
    EXPECT_EQ(target.CallNames().back(), "GetAssemblyReferences");
    info->SetEventMask(COR_PRF_MONITOR_MODULE_LOADS);
    harness.Multiplexer().GetAssemblyReferences(nullptr, nullptr);
    harness.Multiplexer().ModuleLoadStarted(1);
    EXPECT_EQ(target.CallNames(),
              (std::vector<std::string>{"Initialize", "GetAssemblyReferences", "ModuleLoadStarted"}));
}

// Masks set on two threads at once: afterwards the fan-out follows the words the proxy holds.
TEST(FanOut, MasksSetOnSeveralThreadsLeaveTheFanOutFollowingTheLastWords) {
    MultiplexerHarness harness;
    RecordingTarget& target = harness.AddTarget("A");
    harness.BuildAndInitialize();
    auto* info = static_cast<ICorProfilerInfo10*>(target.Info());
    auto setMasks = [info](DWORD low, DWORD high) {
        for (int round = 0; round < 500; ++round) {
            info->SetEventMask2(low, high);
        }
    };
    std::thread modules(setMasks, COR_PRF_MONITOR_MODULE_LOADS, 0);
    std::thread assemblies(setMasks, 0, COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES);
    modules.join();
    assemblies.join();
    DWORD low = 0;
    DWORD high = 0;
    info->GetEventMask2(&low, &high);
    harness.Multiplexer().ModuleLoadStarted(1);
    harness.Multiplexer().GetAssemblyReferences(nullptr, nullptr);
    const auto names = target.CallNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "ModuleLoadStarted"),
              (low & COR_PRF_MONITOR_MODULE_LOADS) != 0 ? 1 : 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "GetAssemblyReferences"),
              (high & COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES) != 0 ? 1 : 0);
}

TEST(FanOut, AlwaysDeliveredCallbacksReachATargetWithMaskZero) {
    MultiplexerHarness harness;
    RecordingTarget& target = harness.AddTarget("A");
    harness.BuildAndInitialize();
    auto& multiplexer = harness.Multiplexer();
    multiplexer.InitializeForAttach(nullptr, nullptr, 0);
    multiplexer.ProfilerAttachComplete();
    multiplexer.ProfilerDetachSucceeded();
    multiplexer.ConditionalWeakTableElementReferences(0, nullptr, nullptr, nullptr);
    multiplexer.ModuleLoadStarted(1);
    multiplexer.Shutdown();
    EXPECT_EQ(target.CallNames(),
              (std::vector<std::string>{"Initialize", "InitializeForAttach", "ProfilerAttachComplete",
                                        "ProfilerDetachSucceeded", "ConditionalWeakTableElementReferences",
                                        "Shutdown"}));
}

// ObjectAllocated by heap: a target that asks only for large or pinned objects receives those alone, the
// object's heap asked once a callback, and only when the runtime reports more than such a target asks.
constexpr DWORD Enable = COR_PRF_ENABLE_OBJECT_ALLOCATED;
constexpr DWORD EveryObject = Enable | COR_PRF_MONITOR_OBJECT_ALLOCATED;
constexpr DWORD Large = COR_PRF_HIGH_MONITOR_LARGEOBJECT_ALLOCATED;
constexpr DWORD Pinned = COR_PRF_HIGH_MONITOR_PINNEDOBJECT_ALLOCATED;

struct HeapCase {
    const char* name;
    std::vector<std::pair<DWORD, DWORD>> masks;
    COR_PRF_GC_GENERATION generation;
    std::vector<bool> received;
    int generationRequests;
};

void PrintTo(const HeapCase& row, std::ostream* os) {
    *os << row.name;
}

class ObjectAllocatedByHeap : public testing::TestWithParam<HeapCase> {};

TEST_P(ObjectAllocatedByHeap, ReachesOnlyTargetsThatAskForTheObjectsHeap) {
    MultiplexerHarness harness;
    std::vector<RecordingTarget*> targets;
    for (const auto& [low, high] : GetParam().masks) {
        targets.push_back(&harness.AddTarget("T" + std::to_string(targets.size()), low, high));
    }
    harness.BuildAndInitialize();
    harness.runtime.SetObjectGeneration(GetParam().generation);
    harness.Multiplexer().ObjectAllocated(0x1000, 0x2000);
    for (std::size_t index = 0; index < targets.size(); ++index) {
        EXPECT_EQ(targets[index]->CallNames().back() == "ObjectAllocated", GetParam().received[index])
            << index;
    }
    EXPECT_EQ(harness.runtime.GenerationRequests(), GetParam().generationRequests);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ObjectAllocatedByHeap,
    testing::Values(
        HeapCase{"PinnedBehindEverySmall",
                 {{EveryObject, 0}, {Enable, Pinned}},
                 COR_PRF_GC_GEN_0,
                 {true, false},
                 1},
        HeapCase{"PinnedBehindEveryPinned",
                 {{EveryObject, 0}, {Enable, Pinned}},
                 COR_PRF_GC_PINNED_OBJECT_HEAP,
                 {true, true},
                 1},
        HeapCase{"LargeAndPinnedBehindEveryLarge",
                 {{EveryObject, 0}, {Enable, Large | Pinned}},
                 COR_PRF_GC_LARGE_OBJECT_HEAP,
                 {true, true},
                 1},
        HeapCase{"LargeBesidePinned",
                 {{Enable, Large}, {Enable, Pinned}},
                 COR_PRF_GC_PINNED_OBJECT_HEAP,
                 {false, true},
                 1},
        HeapCase{"TwoByHeapAskOnce",
                 {{Enable, Large}, {EveryObject, 0}, {Enable, Pinned}},
                 COR_PRF_GC_GEN_2,
                 {false, true, false},
                 1},
        // The runtime reports only what is asked for: nothing asked.
        HeapCase{"LargeAndPinnedAlone", {{Enable, Large | Pinned}}, COR_PRF_GC_LARGE_OBJECT_HEAP, {true}, 0}),
    [](const testing::TestParamInfo<HeapCase>& info) { return std::string(info.param.name); });

struct OutParameterCase {
    const char* name;
    std::optional<BOOL> first;
    std::optional<BOOL> second;
    BOOL expected;
};

void PrintTo(const OutParameterCase& row, std::ostream* os) {
    *os << row.name;
}

class LastWriterWins : public testing::TestWithParam<OutParameterCase> {};

TEST_P(LastWriterWins, JITInlining) {
    MultiplexerHarness harness;
    harness.AddTarget("A", COR_PRF_MONITOR_JIT_COMPILATION).answer = GetParam().first;
    harness.AddTarget("B", COR_PRF_MONITOR_JIT_COMPILATION).answer = GetParam().second;
    harness.BuildAndInitialize();
    BOOL shouldInline = 2;
    harness.Multiplexer().JITInlining(1, 2, &shouldInline);
    EXPECT_EQ(shouldInline, GetParam().expected);
}

TEST_P(LastWriterWins, JITCachedFunctionSearchStarted) {
    MultiplexerHarness harness;
    harness.AddTarget("A", COR_PRF_MONITOR_CACHE_SEARCHES).answer = GetParam().first;
    harness.AddTarget("B", COR_PRF_MONITOR_CACHE_SEARCHES).answer = GetParam().second;
    harness.BuildAndInitialize();
    BOOL useCached = 2;
    harness.Multiplexer().JITCachedFunctionSearchStarted(1, &useCached);
    EXPECT_EQ(useCached, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, LastWriterWins,
                         testing::Values(OutParameterCase{"TrueThenFalse", TRUE, FALSE, FALSE},
                                         OutParameterCase{"TrueThenNothing", TRUE, std::nullopt, TRUE},
                                         OutParameterCase{"NothingThenFalse", std::nullopt, FALSE, FALSE},
                                         OutParameterCase{"NeitherWrites", std::nullopt, std::nullopt, 2}),
                         [](const testing::TestParamInfo<OutParameterCase>& info) {
                             return std::string(info.param.name);
                         });

// A target whose object answers only ICorProfilerCallback2 never has a newer callback called on it.
TEST(FanOut, NoCallbackBeyondTheTargetsNewestInterface) {
    MultiplexerHarness harness;
    // Without the flags that the runtime refuses to an older callback interface.
    RecordingTarget& old = harness.AddTarget(
        "Old", AllLow,
        AllHigh & ~(COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES | COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED));
    old.newestInterface = 2;
    RecordingTarget& current = harness.AddTarget("Current", AllLow, AllHigh);
    harness.BuildAndInitialize();
    auto& multiplexer = harness.Multiplexer();
    multiplexer.HandleDestroyed(1);
    multiplexer.InitializeForAttach(nullptr, nullptr, 0);
    multiplexer.MovedReferences2(0, nullptr, nullptr, nullptr);
    multiplexer.ConditionalWeakTableElementReferences(0, nullptr, nullptr, nullptr);
    multiplexer.DynamicMethodUnloaded(5);
    multiplexer.Shutdown();
    EXPECT_EQ(old.CallNames(), (std::vector<std::string>{"Initialize", "HandleDestroyed", "Shutdown"}));
    EXPECT_EQ(current.CallNames().size(), 7u);
}

// Every plain fan-out callback reaches the same callback of the target, with the same arguments, and
// returns the target's result.
struct FanOutEntry {
    const char* name;
    std::pair<HRESULT, std::vector<uint64_t>> (*call)(ProfilerMultiplexer* multiplexer, uint64_t seed);
};

void PrintTo(const FanOutEntry& row, std::ostream* os) {
    *os << row.name;
}

#define PM_FANOUT_ENTRY(kind, name, params, args) PM_FANOUT_ENTRY_##kind(name)
#define PM_FANOUT_ENTRY_CUSTOM(name)
#define PM_FANOUT_ENTRY_FANOUT(name)                                                                         \
    FanOutEntry{#name, [](ProfilerMultiplexer* multiplexer, uint64_t seed) {                                 \
                    return CallWithDistinctArgs(multiplexer, &ICorProfilerCallback9::name, seed);            \
                }},
// The module callbacks are written by hand, as they also drop what is kept for a module, and so are
// InitializeForAttach, which refuses an attach without targets, and ObjectAllocated, which may ask the heap.
const FanOutEntry FanOutEntries[] = {
    PM_ALL_CORPROFILERCALLBACK_METHODS(PM_FANOUT_ENTRY) PM_FANOUT_ENTRY_FANOUT(ModuleLoadStarted)
        PM_FANOUT_ENTRY_FANOUT(ModuleUnloadStarted) PM_FANOUT_ENTRY_FANOUT(ModuleUnloadFinished)
            PM_FANOUT_ENTRY_FANOUT(InitializeForAttach) PM_FANOUT_ENTRY_FANOUT(ObjectAllocated)};
#undef PM_FANOUT_ENTRY_FANOUT
#undef PM_FANOUT_ENTRY_CUSTOM
#undef PM_FANOUT_ENTRY

TEST(FanOutEntries, ThereAre84) {
    EXPECT_EQ(std::size(FanOutEntries), 84u);
}

class FanOutCallbackTest : public testing::TestWithParam<FanOutEntry> {};

TEST_P(FanOutCallbackTest, ReachesTheSameCallbackWithTheSameArguments) {
    MultiplexerHarness harness;
    RecordingTarget& first = harness.AddTarget("A", AllLow, AllHigh);
    RecordingTarget& second = harness.AddTarget("B", AllLow, AllHigh);
    first.result = S_FALSE;
    second.result = S_FALSE;
    harness.BuildAndInitialize();
    const auto [hr, args] = GetParam().call(&harness.Multiplexer(), 3);
    EXPECT_EQ(hr, S_FALSE);
    const RecordedCall expected{GetParam().name, args};
    EXPECT_EQ(first.Calls().back(), expected);
    EXPECT_EQ(second.Calls().back(), expected);
}

INSTANTIATE_TEST_SUITE_P(AllFanOutCallbacks, FanOutCallbackTest, testing::ValuesIn(FanOutEntries),
                         [](const testing::TestParamInfo<FanOutEntry>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace profilermultiplexer::tests
