#include "LogCapture.h"
#include "MultiplexerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

using MaskPairs = std::vector<std::pair<DWORD, DWORD>>;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct InfoVersionCase {
    int runtimeVersion;
    const char* expectedName;
};

void PrintTo(const InfoVersionCase& row, std::ostream* os) {
    *os << row.expectedName;
}

class InfoProbeTest : public testing::TestWithParam<InfoVersionCase> {};

TEST_P(InfoProbeTest, KeepsTheNewestVersionTheRuntimeAnswers) {
    LogCapture capture("info");
    MultiplexerHarness harness(GetParam().runtimeVersion);
    harness.AddTarget("A");
    EXPECT_EQ(harness.BuildAndInitialize(), S_OK);
    EXPECT_TRUE(
        Contains(capture.Messages(), std::string("ProfilerMultiplexer::Initialize, info interface is: ") +
                                         GetParam().expectedName));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, InfoProbeTest,
    testing::Values(InfoVersionCase{10, "ICorProfilerInfo10"}, InfoVersionCase{9, "ICorProfilerInfo9"},
                    InfoVersionCase{8, "ICorProfilerInfo8"}, InfoVersionCase{5, "ICorProfilerInfo5"},
                    InfoVersionCase{4, "ICorProfilerInfo4"}, InfoVersionCase{1, "ICorProfilerInfo"}),
    [](const testing::TestParamInfo<InfoVersionCase>& info) {
        return "Info" + std::to_string(info.param.runtimeVersion);
    });

TEST(MultiplexerInitialize, FailsWithoutAnyInfoInterface) {
    MultiplexerHarness harness(0);
    RecordingTarget& target = harness.AddTarget("A");
    EXPECT_EQ(harness.BuildAndInitialize(), E_FAIL);
    EXPECT_TRUE(target.Calls().empty());
    EXPECT_EQ(harness.runtime.RefCount(), 0u);
}

TEST(MultiplexerInitialize, SetsTheUnionOnceAfterTheLastTarget) {
    LogCapture capture("info");
    MultiplexerHarness harness;
    harness.AddTarget("A", 0x4, 0x1);
    harness.AddTarget("B", 0x20, 0x0);
    harness.AddTarget("C", 0x0, 0x10);
    EXPECT_EQ(harness.BuildAndInitialize(), S_OK);
    EXPECT_EQ(harness.runtime.EventMasks2(), (MaskPairs{{0x24, 0x11}}));
    const auto messages = capture.Messages();
    EXPECT_EQ(messages.front(), "ProfilerMultiplexer: Initialization started");
    EXPECT_EQ(messages.back(), "Profiler Multiplexer: Initialization succeeded");
}

TEST(MultiplexerInitialize, DropsFailingAndThrowingTargetsAndTheirMasks) {
    LogCapture capture("info");
    MultiplexerHarness harness;
    RecordingTarget& first = harness.AddTarget("First", 0x4);
    harness.AddTarget("Failing", 0x8).initializeResult = E_FAIL;
    harness.AddTarget("Throwing", 0x10).throwOnInitialize = true;
    RecordingTarget& last = harness.AddTarget("Last", 0x2);
    last.initializeResult = S_FALSE;
    EXPECT_EQ(harness.BuildAndInitialize(), S_OK);
    EXPECT_EQ(harness.runtime.EventMasks2(), (MaskPairs{{0x6, 0}}));

    const auto messages = capture.Messages();
    EXPECT_TRUE(Contains(messages, "ProfilerMultiplexer: Error initializing a profiler: Failing"));
    EXPECT_TRUE(Contains(messages, "ProfilerMultiplexer: Error initializing a profiler: Throwing"));
    EXPECT_FALSE(Contains(messages, "ProfilerMultiplexer: Error initializing a profiler: Last"));

    // Only the survivors take part, in list order.
    harness.Multiplexer().ModuleLoadStarted(1);
    EXPECT_EQ(first.CallNames().back(), "ModuleLoadStarted");
    EXPECT_EQ(last.CallNames(), std::vector<std::string>{"Initialize"});
}

TEST(MultiplexerInitialize, DeclinesWhenEveryTargetFails) {
    LogCapture capture("info");
    MultiplexerHarness harness;
    RecordingTarget& declining = harness.AddTarget("A", 0x4);
    declining.initializeResult = E_FAIL;
    declining.keepsInfo = true;
    harness.AddTarget("B", 0x4).throwOnInitialize = true;
    EXPECT_EQ(harness.BuildAndInitialize(), CORPROF_E_PROFILER_CANCEL_ACTIVATION);
    EXPECT_TRUE(harness.runtime.EventMasks2().empty());
    EXPECT_EQ(capture.Messages().back(),
              "Profiler Multiplexer: Initialization failed, no target profiler is found or configured");
    // The declined targets' proxies stay until the multiplexer goes: A still holds its own. Then A
    // releases it in its destructor, before the proxies go.
    EXPECT_EQ(harness.runtime.RefCount(), 5u);
    harness.Destroy();
    EXPECT_EQ(harness.runtime.RefCount(), 0u);
}

TEST(MultiplexerInitialize, RuntimeWithoutEventMask2GetsTheLowWord) {
    MultiplexerHarness harness(4);
    RecordingTarget& first = harness.AddTarget("A", 0x4);
    harness.AddTarget("B", 0x8);
    EXPECT_EQ(harness.BuildAndInitialize(), S_OK);
    EXPECT_TRUE(harness.runtime.EventMasks2().empty());
    EXPECT_EQ(harness.runtime.EventMasks(), std::vector<DWORD>{0xC});

    // A target that calls SetEventMask2 without asking for ICorProfilerInfo5 loses its high word.
    LogCapture capture("err");
    static_cast<ICorProfilerInfo10*>(first.Info())->SetEventMask2(0x4, 0x10);
    EXPECT_EQ(harness.runtime.EventMasks(), (std::vector<DWORD>{0xC, 0xC}));
    EXPECT_EQ(capture.Messages(),
              std::vector<std::string>{"ProfilerMultiplexer::UpdateEventMask, the runtime has no "
                                       "SetEventMask2, high mask 10 is not set"});
}

// Targets set enter/leave hooks and function id mappers in their Initialize, after their masks. The fake
// runtime takes hooks and masks by the runtime's rules; hooks and mappers are known by their addresses: a
// target's are its number.
enum class HookStep { Hooks3, Hooks3WithInfo, Mapper, Mapper2, MaskWithoutEnterLeave, MaskWithArguments };
enum class InitializeEnd { Succeeds, Declines, Throws };

struct HookTarget {
    DWORD mask;
    std::vector<HookStep> steps;
    std::vector<HRESULT> answers;
    InitializeEnd end = InitializeEnd::Succeeds;
};

struct HooksCase {
    const char* name;
    std::vector<HookTarget> targets; // T1, T2, ... in list order
    std::vector<std::pair<std::string, uintptr_t>> runtimeHooks;
    DWORD runtimeMask;
    // A log message holds it; null: no message says "refused".
    const char* message;
    HRESULT runtimeRefusesMasks = S_OK;
};

void PrintTo(const HooksCase& row, std::ostream* os) {
    *os << row.name;
}

constexpr DWORD EnterLeave = COR_PRF_MONITOR_ENTERLEAVE;
constexpr DWORD EnterLeaveFrames = COR_PRF_MONITOR_ENTERLEAVE | COR_PRF_ENABLE_FRAME_INFO;
constexpr DWORD Threads = COR_PRF_MONITOR_THREADS;
constexpr HRESULT Inconsistent = CORPROF_E_INCONSISTENT_WITH_FLAGS;

template <class Function> Function* Address(uintptr_t number) {
    return reinterpret_cast<Function*>(number);
}

HRESULT TakeStep(ICorProfilerInfo10* info, HookStep step, uintptr_t number, DWORD mask) {
    switch (step) {
    case HookStep::Hooks3:
        return info->SetEnterLeaveFunctionHooks3(Address<FunctionEnter3>(number), nullptr, nullptr);
    case HookStep::Hooks3WithInfo:
        return info->SetEnterLeaveFunctionHooks3WithInfo(Address<FunctionEnter3WithInfo>(number), nullptr,
                                                         nullptr);
    case HookStep::Mapper:
        return info->SetFunctionIDMapper(Address<FunctionIDMapper>(number));
    case HookStep::Mapper2:
        return info->SetFunctionIDMapper2(Address<FunctionIDMapper2>(number), nullptr);
    case HookStep::MaskWithoutEnterLeave:
        return info->SetEventMask2(Threads, 0);
    case HookStep::MaskWithArguments:
        return info->SetEventMask2(mask | COR_PRF_ENABLE_FUNCTION_ARGS, 0);
    }
    return E_UNEXPECTED;
}

class MultiplexerHooksInInitialize : public testing::TestWithParam<HooksCase> {};

// The runtime holds the hooks (and mapper) of the first target in list order that sets them and succeeds,
// set after the final union; every target gets the answer the runtime would give it loaded alone, or an
// error for hooks or a mapper that the runtime does not hold.
TEST_P(MultiplexerHooksInInitialize, RuntimeHoldsOneLiveTargetsHooksUnderTheFinalUnion) {
    const HooksCase& row = GetParam();
    LogCapture capture("warn");
    MultiplexerHarness harness;
    harness.runtime.refuseMasks = row.runtimeRefusesMasks;
    std::vector<std::vector<HRESULT>> answers(row.targets.size());
    std::vector<RecordingTarget*> targets;
    for (std::size_t index = 0; index < row.targets.size(); ++index) {
        const HookTarget& setup = row.targets[index];
        RecordingTarget& target = harness.AddTarget("T" + std::to_string(index + 1), setup.mask);
        target.onInitialize = [&setup, &answers, index](ICorProfilerInfo10* info) {
            for (const HookStep step : setup.steps) {
                answers[index].push_back(TakeStep(info, step, index + 1, setup.mask));
            }
            return S_OK;
        };
        target.initializeResult = setup.end == InitializeEnd::Declines ? E_FAIL : S_OK;
        target.throwOnInitialize = setup.end == InitializeEnd::Throws;
        targets.push_back(&target);
    }
    EXPECT_EQ(harness.BuildAndInitialize(), S_OK);
    for (std::size_t index = 0; index < row.targets.size(); ++index) {
        EXPECT_EQ(answers[index], row.targets[index].answers) << "T" << index + 1;
    }
    EXPECT_EQ(harness.runtime.Hooks(), row.runtimeHooks);
    EXPECT_EQ(harness.runtime.EventMasks2(), (MaskPairs{{row.runtimeMask, 0}}));
    const auto messages = capture.Messages();
    const auto holds = [&messages](const char* text) {
        return std::any_of(messages.begin(), messages.end(), [text](const std::string& message) {
            return message.find(text) != std::string::npos;
        });
    };
    EXPECT_TRUE(row.message != nullptr ? holds(row.message) : !holds("refused"))
        << testing::PrintToString(messages);

    // Afterwards a mapper reaches the runtime only from the target whose hooks it holds.
    const uintptr_t holder = row.runtimeHooks.empty() ? 0 : row.runtimeHooks.back().second;
    for (std::size_t index = 0; index < targets.size(); ++index) {
        auto* info = static_cast<ICorProfilerInfo10*>(targets[index]->Info());
        EXPECT_EQ(info->SetFunctionIDMapper(Address<FunctionIDMapper>(0x100)),
                  holder == index + 1 ? S_OK : E_FAIL)
            << "T" << index + 1;
    }
    EXPECT_EQ(harness.runtime.Hooks().size(), row.runtimeHooks.size() + (holder != 0 ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MultiplexerHooksInInitialize,
    testing::Values(
        HooksCase{"HooksFirst",
                  {{EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {S_OK}}, {Threads, {}, {}}},
                  {{"SetEnterLeaveFunctionHooks3WithInfo", 1}},
                  EnterLeaveFrames | Threads,
                  nullptr},
        HooksCase{"HooksSecond",
                  {{Threads, {}, {}}, {EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {S_OK}}},
                  {{"SetEnterLeaveFunctionHooks3WithInfo", 2}},
                  EnterLeaveFrames | Threads,
                  nullptr},
        HooksCase{"DeclinesAfterHooks",
                  {{EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {S_OK}, InitializeEnd::Declines},
                   {Threads, {}, {}}},
                  {},
                  Threads,
                  nullptr},
        HooksCase{"ThrowsAfterHooks",
                  {{EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {S_OK}, InitializeEnd::Throws},
                   {Threads, {}, {}}},
                  {},
                  Threads,
                  nullptr},
        HooksCase{
            "LowersItsMaskAfterHooks",
            {{EnterLeaveFrames,
              {HookStep::Hooks3WithInfo, HookStep::MaskWithoutEnterLeave},
              {S_OK, Inconsistent}},
             {Threads, {}, {}}},
            {{"SetEnterLeaveFunctionHooks3WithInfo", 1}},
            EnterLeaveFrames | Threads,
            "T1 sets the mask 200 after enter/leave hooks that it does not fit: refused with 0x80131374"},
        HooksCase{"AddsArgumentsAfterHooksWithoutInformation",
                  {{EnterLeave, {HookStep::Hooks3, HookStep::MaskWithArguments}, {S_OK, Inconsistent}},
                   {Threads, {}, {}}},
                  {{"SetEnterLeaveFunctionHooks3", 1}},
                  EnterLeave | Threads,
                  "T1 sets the mask 2001000 after enter/leave hooks"},
        HooksCase{"TwoHookTargetsOfTheSameKind",
                  {{EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {S_OK}},
                   {EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {E_FAIL}}},
                  {{"SetEnterLeaveFunctionHooks3WithInfo", 1}},
                  EnterLeaveFrames,
                  "T2 sets enter/leave hooks, but the runtime holds one set and takes those of T1"},
        // The second target's argument flag would make the runtime refuse the first one's hooks.
        HooksCase{"TwoHookTargetsOfDifferentKinds",
                  {{EnterLeave, {HookStep::Hooks3}, {S_OK}},
                   {EnterLeave | COR_PRF_ENABLE_FUNCTION_ARGS, {HookStep::Hooks3WithInfo}, {E_FAIL}}},
                  {{"SetEnterLeaveFunctionHooks3", 1}},
                  EnterLeave,
                  "T2 sets enter/leave hooks, but the runtime holds one set and takes those of T1"},
        HooksCase{
            "MapperOnlyTargetInFrontOfAHookTarget",
            {{Threads, {HookStep::Mapper}, {E_FAIL}}, {EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {S_OK}}},
            {{"SetEnterLeaveFunctionHooks3WithInfo", 2}},
            EnterLeaveFrames | Threads,
            "T1 sets a function id mapper without enter/leave hooks of its own on the runtime"},
        HooksCase{"MapperTargetBehindAHookTarget",
                  {{EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {S_OK}},
                   {EnterLeave, {HookStep::Mapper2}, {E_FAIL}}},
                  {{"SetEnterLeaveFunctionHooks3WithInfo", 1}},
                  EnterLeaveFrames,
                  "T2 sets a function id mapper, but the runtime takes the enter/leave hooks of T1"},
        HooksCase{"MapperTargetDeclines",
                  {{EnterLeave, {HookStep::Mapper}, {S_OK}, InitializeEnd::Declines},
                   {EnterLeaveFrames, {HookStep::Hooks3WithInfo}, {S_OK}}},
                  {{"SetEnterLeaveFunctionHooks3WithInfo", 2}},
                  EnterLeaveFrames,
                  nullptr},
        HooksCase{"HookTargetsOwnMapper",
                  {{EnterLeaveFrames, {HookStep::Mapper2, HookStep::Hooks3WithInfo}, {S_OK, S_OK}},
                   {Threads, {}, {}}},
                  {{"SetFunctionIDMapper2", 1}, {"SetEnterLeaveFunctionHooks3WithInfo", 1}},
                  EnterLeaveFrames | Threads,
                  nullptr},
        HooksCase{"RuntimeRefusesTheUnion",
                  {{Threads, {}, {}}},
                  {},
                  Threads,
                  "ProfilerMultiplexer::UpdateEventMask, the runtime refused the event mask 200 (high 0): "
                  "0x80004005",
                  E_FAIL}),
    [](const testing::TestParamInfo<HooksCase>& info) { return std::string(info.param.name); });

TEST(MultiplexerEventMask, LaterMaskChangeSetsTheNewUnion) {
    MultiplexerHarness harness;
    RecordingTarget& first = harness.AddTarget("A", 0x4);
    harness.AddTarget("B", 0x8, 0x2);
    harness.BuildAndInitialize();
    auto* info = static_cast<ICorProfilerInfo10*>(first.Info());
    info->SetEventMask2(0x20, 0x4);
    info->SetEventMask(0x1);
    // 0x20 asks for JIT events: module loads (0x4) stay from then on.
    EXPECT_EQ(harness.runtime.EventMasks2(), (MaskPairs{{0xC, 0x2}, {0x2C, 0x6}, {0xD, 0x2}}));
}

// Once a target uses the IL chain the runtime is asked for module unloads too, from then on (state kept
// for a module goes at its unload), and only for that.
TEST(MultiplexerEventMask, ILChainAsksTheRuntimeForModuleUnloadsNotTheTargets) {
    MultiplexerHarness harness;
    RecordingTarget& first = harness.AddTarget("A", COR_PRF_MONITOR_JIT_COMPILATION);
    RecordingTarget& second = harness.AddTarget("B", COR_PRF_MONITOR_CLASS_LOADS);
    harness.BuildAndInitialize();
    auto* info = static_cast<ICorProfilerInfo10*>(first.Info());
    info->SetEventMask(COR_PRF_ENABLE_REJIT);
    harness.Multiplexer().ModuleUnloadFinished(1, S_OK);
    info->SetEventMask(COR_PRF_MONITOR_FUNCTION_UNLOADS);
    harness.Multiplexer().ModuleUnloadFinished(2, S_OK);
    EXPECT_EQ(harness.runtime.EventMasks2(), (MaskPairs{{0x26, 0}, {0x40006, 0}, {0x7, 0}}));
    EXPECT_EQ(first.CallNames(), std::vector<std::string>{"Initialize"});
    EXPECT_EQ(second.CallNames(), std::vector<std::string>{"Initialize"});
}

// After start-up the runtime refuses a union that changes a flag it keeps fixed: the target that asked
// gets the refusal and keeps its mask, so that the union stays one the runtime accepts and the other
// targets' later changes still reach it.
TEST(MultiplexerEventMask, RefusedUnionLeavesTheMaskAndLaterChangesGoOn) {
    constexpr DWORD Rewriter = COR_PRF_MONITOR_JIT_COMPILATION | COR_PRF_DISABLE_ALL_NGEN_IMAGES;
    // With the module loads that JIT events bring.
    constexpr DWORD Union = Rewriter | COR_PRF_MONITOR_MODULE_LOADS | COR_PRF_MONITOR_THREADS;
    MultiplexerHarness harness;
    harness.runtime.fixedFlags = COR_PRF_DISABLE_ALL_NGEN_IMAGES;
    RecordingTarget& first = harness.AddTarget("A", Rewriter);
    RecordingTarget& second = harness.AddTarget("B", COR_PRF_MONITOR_THREADS);
    harness.BuildAndInitialize();
    auto* info = static_cast<ICorProfilerInfo10*>(first.Info());
    LogCapture capture("warn");
    EXPECT_EQ(info->SetEventMask(0), E_FAIL);
    EXPECT_EQ(info->SetEventMask2(COR_PRF_MONITOR_JIT_COMPILATION, COR_PRF_HIGH_BASIC_GC), E_FAIL);
    DWORD low = 0;
    DWORD high = 1;
    info->GetEventMask2(&low, &high);
    EXPECT_EQ(std::make_pair(low, high), std::make_pair(Rewriter, DWORD{0}));
    const auto warnings = capture.Messages();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(
        warnings.front(),
        "ProfilerMultiplexer: the runtime refused the union of the event masks with A's new mask 0x0 (high "
        "0x0), result 0x80004005: A gets the result and keeps its mask 0x80000020 (high 0x0)");

    EXPECT_EQ(static_cast<ICorProfilerInfo10*>(second.Info())
                  ->SetEventMask(COR_PRF_MONITOR_THREADS | COR_PRF_MONITOR_ASSEMBLY_LOADS),
              S_OK);
    EXPECT_EQ(info->SetEventMask(Rewriter | COR_PRF_MONITOR_EXCEPTIONS), S_OK);
    EXPECT_EQ(harness.runtime.EventMasks2(),
              (MaskPairs{{Union, 0},
                         {Union | COR_PRF_MONITOR_ASSEMBLY_LOADS, 0},
                         {Union | COR_PRF_MONITOR_ASSEMBLY_LOADS | COR_PRF_MONITOR_EXCEPTIONS, 0}}));
}

TEST(MultiplexerEventMask, TraceListingShowsEveryTargetAndTheUnion) {
    MultiplexerHarness harness;
    RecordingTarget& first = harness.AddTarget("A", 0x4);
    harness.AddTarget("B", 0x8);
    harness.BuildAndInitialize();
    LogCapture capture("trace");
    static_cast<ICorProfilerInfo10*>(first.Info())->SetEventMask(0x2);
    std::vector<std::string> headers;
    for (const auto& line : capture.Messages()) {
        if (line.rfind("Callback functions for ", 0) == 0) {
            headers.push_back(line);
        }
    }
    EXPECT_EQ(headers, (std::vector<std::string>{"Callback functions for A, mask: 2",
                                                 "Callback functions for B, mask: 8",
                                                 "Callback functions for all, mask: a"}));
}

TEST(MultiplexerEventMask, ConcurrentChangesLeaveTheUnionOfTheLatestMasks) {
    MultiplexerHarness harness;
    std::vector<RecordingTarget*> targets;
    for (int i = 0; i < 4; ++i) {
        targets.push_back(&harness.AddTarget("T" + std::to_string(i)));
    }
    harness.BuildAndInitialize();
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([target = targets[i], i] {
            auto* info = static_cast<ICorProfilerInfo10*>(target->Info());
            for (DWORD round = 0; round < 200; ++round) {
                info->SetEventMask2(round << 8 | 1u << i, 0);
            }
            info->SetEventMask2(1u << i, 1u << i);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(harness.runtime.EventMasks2().back(), std::make_pair(DWORD{0xF}, DWORD{0xF}));
}

struct QueryCase {
    const char* name;
    const IID* iid;
    bool granted;
};

void PrintTo(const QueryCase& row, std::ostream* os) {
    *os << row.name;
}

class MultiplexerQueryInterface : public testing::TestWithParam<QueryCase> {};

TEST_P(MultiplexerQueryInterface, AnswersTheCallbackInterfacesAndIUnknown) {
    auto* multiplexer = new ProfilerMultiplexer(true, {});
    void* out = reinterpret_cast<void*>(0x1);
    const HRESULT hr = multiplexer->QueryInterface(*GetParam().iid, &out);
    if (GetParam().granted) {
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(out, static_cast<ICorProfilerCallback9*>(multiplexer));
        EXPECT_EQ(multiplexer->AddRef(), 2u);
        multiplexer->Release();
        multiplexer->Release();
    } else {
        EXPECT_EQ(hr, E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        multiplexer->AddRef();
        multiplexer->Release();
    }
}

INSTANTIATE_TEST_SUITE_P(Ids, MultiplexerQueryInterface,
                         testing::Values(QueryCase{"Callback9", &IID_ICorProfilerCallback9, true},
                                         QueryCase{"Callback8", &IID_ICorProfilerCallback8, true},
                                         QueryCase{"Callback7", &IID_ICorProfilerCallback7, true},
                                         QueryCase{"Callback6", &IID_ICorProfilerCallback6, true},
                                         QueryCase{"Callback5", &IID_ICorProfilerCallback5, true},
                                         QueryCase{"Callback4", &IID_ICorProfilerCallback4, true},
                                         QueryCase{"Callback3", &IID_ICorProfilerCallback3, true},
                                         QueryCase{"Callback2", &IID_ICorProfilerCallback2, true},
                                         QueryCase{"Callback", &IID_ICorProfilerCallback, true},
                                         QueryCase{"IUnknown", &IID_IUnknown, true},
                                         QueryCase{"ClassFactory", &IID_IClassFactory, false},
                                         QueryCase{"Info10", &IID_ICorProfilerInfo10, false}),
                         [](const testing::TestParamInfo<QueryCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(MultiplexerShutdown, ReturnsTheMergedResultAndReleasesTheRuntime) {
    LogCapture capture("info");
    MultiplexerHarness harness;
    harness.AddTarget("A").result = E_FAIL;
    harness.AddTarget("B").result = E_NOTIMPL;
    harness.BuildAndInitialize();
    const ULONG othersReferences = 3; // two proxies and the metadata helper
    EXPECT_EQ(harness.runtime.RefCount(), 1 + othersReferences);
    EXPECT_EQ(harness.Multiplexer().Shutdown(), E_FAIL);
    EXPECT_EQ(harness.runtime.RefCount(), othersReferences);
    EXPECT_EQ(capture.Messages().back(), "Profiler Multiplexer: Shutdown");
}

TEST(MultiplexerShutdown, LateCallbacksStillReachTheTargetsWithoutTheRuntime) {
    MultiplexerHarness harness;
    RecordingTarget& target = harness.AddTarget("A", COR_PRF_MONITOR_THREADS);
    harness.BuildAndInitialize();
    harness.Multiplexer().Shutdown();
    EXPECT_EQ(harness.Multiplexer().ThreadCreated(4), S_OK);
    EXPECT_EQ(target.CallNames().back(), "ThreadCreated");
    // A mask change after Shutdown no longer reaches the runtime.
    static_cast<ICorProfilerInfo10*>(target.Info())->SetEventMask(0x4);
    EXPECT_EQ(harness.runtime.EventMasks2().size(), 1u);
}

TEST(MultiplexerShutdown, WaitsForCallbacksInFlightOnlyBriefly) {
    MultiplexerHarness harness;
    RecordingTarget& target = harness.AddTarget("A", COR_PRF_MONITOR_THREADS);
    harness.BuildAndInitialize();
    std::atomic<bool> stop{false};
    std::thread caller([&] {
        while (!stop) {
            harness.Multiplexer().ThreadCreated(1);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(harness.Multiplexer().Shutdown(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    stop = true;
    caller.join();
    EXPECT_FALSE(target.Calls().empty());
}

// An attach comes without Initialize, so without targets: it is refused, so that the runtime lets the
// multiplexer go and another profiler can be attached.
TEST(MultiplexerAttach, IsRefusedWithoutReachingATarget) {
    LogCapture capture("info");
    MultiplexerHarness harness;
    RecordingTarget& first = harness.AddTarget("A");
    RecordingTarget& second = harness.AddTarget("B");
    harness.Build();
    char clientData[] = "data";
    EXPECT_EQ(harness.Multiplexer().InitializeForAttach(static_cast<ICorProfilerInfo10*>(&harness.runtime),
                                                        clientData, sizeof clientData),
              CORPROF_E_PROFILER_NOT_ATTACHABLE);
    EXPECT_TRUE(first.Calls().empty());
    EXPECT_TRUE(second.Calls().empty());
    const auto lines = capture.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("[warning]"), std::string::npos);
    EXPECT_NE(lines.back().find("attaching to a running process is not supported"), std::string::npos);
}

TEST(MultiplexerLifetime, DestructorReleasesTheRuntimeAndEveryTarget) {
    bool firstDestroyed = false;
    bool secondDestroyed = false;
    MultiplexerHarness harness;
    harness.AddTarget("A").destroyed = &firstDestroyed;
    harness.AddTarget("B").destroyed = &secondDestroyed;
    harness.AddTarget("C").initializeResult = E_FAIL;
    harness.BuildAndInitialize();
    harness.Destroy();
    EXPECT_TRUE(firstDestroyed);
    EXPECT_TRUE(secondDestroyed);
    EXPECT_EQ(harness.runtime.RefCount(), 0u);
}

TEST(MultiplexerLifetime, UninitializedMultiplexerReleasesItsTargets) {
    bool destroyed = false;
    auto* target = new RecordingTarget;
    target->destroyed = &destroyed;
    std::vector<std::tuple<ICorProfilerCallback9*, ProfilerSettings>> targets;
    targets.emplace_back(target, ProfilerSettings(u"A", u"/a.so", u"{}", 1.0, false));
    auto* multiplexer = new ProfilerMultiplexer(false, std::move(targets));
    multiplexer->AddRef();
    multiplexer->Release();
    EXPECT_TRUE(destroyed);
}

} // namespace
} // namespace profilermultiplexer::tests
