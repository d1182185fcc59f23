#include "ilchain/RejitProcessor.h"
#include "LogCapture.h"
#include "RejitFakeFunctionControl.h"
#include "RejitHarness.h"
#include "ilchain/IMetadataHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

constexpr ModuleID Module = 0x1000;
constexpr mdMethodDef Method = 0x06000001;
constexpr FunctionID Function = 0xF00;
using State = RejitProcessor::State;

// Writes il (and flags, when not 0) through the function control, then answers hr.
RejitTarget::Action Rewrite(std::vector<BYTE> il, HRESULT hr = S_OK, DWORD flags = 0) {
    return [il, hr, flags](RejitTarget&, ICorProfilerFunctionControl* control) {
        control->SetILFunctionBody(static_cast<ULONG>(il.size()), il.data());
        if (flags != 0) {
            control->SetCodegenFlags(flags);
        }
        return hr;
    };
}

bool Contains(const std::vector<std::string>& messages, const std::string& text) {
    return std::find(messages.begin(), messages.end(), text) != messages.end();
}

class RejitProcessorTest : public testing::Test {
protected:
    RejitTarget& AddTarget(const std::string& name, bool revertRejitCallOrder = false) {
        return harness.AddTarget(name, revertRejitCallOrder);
    }

    // Builds the multiplexer and a processor over its proxies, requested by the first target.
    RejitProcessor& Build() {
        harness.BuildAndInitialize();
        proxies = harness.Proxies();
        processor = std::make_unique<RejitProcessor>(&harness.Multiplexer(), proxies.front().get(), proxies,
                                                     Module, Method);
        return *processor;
    }

    static void MarkPending(const RejitTarget& target) {
        RejitHarness::Proxy(target).RequestRejit(Module, Method, true);
    }

    std::string MethodName() {
        return harness.Multiplexer().GetMetadataHelper()->GetMethodName(Module, Method);
    }

    RejitHarness harness;
    std::vector<std::shared_ptr<ITargetProfilerProxy>> proxies;
    std::unique_ptr<RejitProcessor> processor;
    RejitFakeFunctionControl control;
};

// One target's part in a merge row.
struct Play {
    HRESULT hr = S_OK;
    bool throws = false;
    // Reverts the ReJIT call order and answers ReJITCompilationStarted with this.
    std::optional<HRESULT> startedResult;
};

// expected: the merged failure, or the runtime's answer (S_OK) to the IL when the merge succeeded.
struct MergeRow {
    const char* name;
    std::vector<Play> plays;
    HRESULT expected;
    bool ilPassed;
};

void PrintTo(const MergeRow& row, std::ostream* os) {
    *os << row.name;
}

Play Returns(HRESULT hr) {
    return {hr, false, std::nullopt};
}
Play Throws() {
    return {S_OK, true, std::nullopt};
}
Play StartFails(HRESULT hr) {
    return {S_OK, false, hr};
}

class RejitMergeTest : public RejitProcessorTest, public testing::WithParamInterface<MergeRow> {};

TEST_P(RejitMergeTest, MergesThePendingTargetsResults) {
    std::vector<RejitTarget*> targets;
    for (std::size_t index = 0; index < GetParam().plays.size(); ++index) {
        const Play& play = GetParam().plays[index];
        RejitTarget& target =
            AddTarget(std::string(1, static_cast<char>('A' + index)), play.startedResult.has_value());
        target.onGetReJITParameters = Rewrite({0x0A, static_cast<BYTE>(index), 0x2A}, play.hr);
        target.throwOnRejitCallbacks = play.throws;
        target.startedResult = play.startedResult.value_or(S_OK);
        targets.push_back(&target);
    }
    Build();
    for (RejitTarget* target : targets) {
        MarkPending(*target);
    }

    EXPECT_EQ(processor->GetReJITParameters(&control, Function), GetParam().expected);
    EXPECT_EQ(control.ilBody.has_value(), GetParam().ilPassed);
    EXPECT_TRUE(harness.runtime.Requests().empty()) << "nothing is reverted";
    EXPECT_EQ(processor->GetState(), State::Completed);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RejitMergeTest,
    testing::Values(
        MergeRow{"FirstSuccessStands", {Returns(S_FALSE), Returns(S_OK)}, S_OK, true},
        MergeRow{"FailureThenSuccess", {Returns(E_INVALIDARG), Returns(S_OK)}, S_OK, true},
        MergeRow{"SuccessThenFailure", {Returns(S_OK), Returns(E_INVALIDARG)}, S_OK, true},
        MergeRow{"AllFailGiveTheLast", {Returns(E_INVALIDARG), Returns(E_OUTOFMEMORY)}, E_OUTOFMEMORY, false},
        MergeRow{"ThrowAfterSuccess", {Returns(S_OK), Throws()}, E_FAIL, false},
        MergeRow{"ThrowAfterSFalse", {Returns(S_FALSE), Throws()}, S_OK, true},
        MergeRow{"ThrowThenSuccess", {Throws(), Returns(S_OK)}, S_OK, true},
        MergeRow{
            "StartFailureReplacesSuccess", {Returns(S_OK), StartFails(E_INVALIDARG)}, E_INVALIDARG, false},
        MergeRow{"LaterSuccessAfterStartFailure",
                 {Returns(S_OK), StartFails(E_INVALIDARG), Returns(S_FALSE)},
                 S_OK,
                 true}),
    [](const testing::TestParamInfo<MergeRow>& info) { return info.param.name; });

TEST_F(RejitProcessorTest, OnlyPendingTargetsRewriteInOrderEachThroughItsOwnBlock) {
    RejitTarget& a = AddTarget("A");
    RejitTarget& b = AddTarget("B");
    RejitTarget& c = AddTarget("C");
    b.onGetReJITParameters = Rewrite({0x0A, 0x0B, 0x2A});
    Build();
    RejitHarness::GiveIL(a, Module, Method, {0x0A, 0x01, 0x2A});
    MarkPending(b);
    MarkPending(c);

    EXPECT_EQ(processor->GetReJITParameters(&control, Function), S_OK);

    EXPECT_EQ(harness.journal.Entries(),
              (std::vector<std::string>{"B:GetReJITParameters", "C:GetReJITParameters"}));
    const auto bBlock = RejitHarness::Proxy(b).GetFunctionILBlock(Module, Method);
    const auto cBlock = RejitHarness::Proxy(c).GetFunctionILBlock(Module, Method);
    EXPECT_EQ(b.Calls()[0].args,
              ArgsBits(Module, Method, static_cast<ICorProfilerFunctionControl*>(bBlock.get())));
    EXPECT_EQ(c.Calls()[0].args,
              ArgsBits(Module, Method, static_cast<ICorProfilerFunctionControl*>(cBlock.get())));
    // C left its block empty: B's IL goes to the runtime, straight from B's buffer.
    ASSERT_TRUE(control.ilBody.has_value());
    EXPECT_EQ(*control.ilBody, (std::vector<BYTE>{0x0A, 0x0B, 0x2A}));
    EXPECT_EQ(control.ilAddress, bBlock->GetILFunctionBody().first.get());
    EXPECT_FALSE(control.codegenFlags.has_value());
}

TEST_F(RejitProcessorTest, TargetWithoutReJITCallbacksTakesNoPart) {
    RejitTarget& a = AddTarget("A");
    a.newestInterface = 3;
    a.onGetReJITParameters = Rewrite({0x2A});
    Build();
    MarkPending(a);

    EXPECT_EQ(processor->GetReJITParameters(&control, Function), S_OK) << "nobody holds IL: reverted";

    EXPECT_TRUE(a.Calls().empty());
    EXPECT_FALSE(RejitHarness::Proxy(a).GetFunctionILBlock(Module, Method)->IsRejitPending());
    EXPECT_TRUE(control.ReceivedNothing());
}

TEST_F(RejitProcessorTest, PendingFlagIsClearedEvenWhenTheTargetFailsOrThrows) {
    RejitTarget& a = AddTarget("A");
    RejitTarget& b = AddTarget("B");
    a.onGetReJITParameters = Rewrite({0x2A}, E_INVALIDARG);
    b.throwOnRejitCallbacks = true;
    Build();
    MarkPending(a);
    MarkPending(b);

    processor->GetReJITParameters(&control, Function);

    EXPECT_FALSE(RejitHarness::Proxy(a).GetFunctionILBlock(Module, Method)->IsRejitPending());
    EXPECT_FALSE(RejitHarness::Proxy(b).GetFunctionILBlock(Module, Method)->IsRejitPending());
    // A second run finds no pending target, and passes on the IL that A still holds.
    harness.journal.Clear();
    EXPECT_EQ(processor->GetReJITParameters(&control, Function), S_OK);
    EXPECT_TRUE(harness.journal.Entries().empty());
}

TEST_F(RejitProcessorTest, CallOrderRevertingTargetHearsStartedBeforeItsGetReJITParameters) {
    RejitTarget& a = AddTarget("A");
    RejitTarget& b = AddTarget("B", true);
    a.onGetReJITParameters = Rewrite({0x0A, 0x2A});
    b.onGetReJITParameters = Rewrite({0x0B, 0x2A});
    Build();
    MarkPending(a);
    MarkPending(b);

    processor->GetReJITParameters(&control, Function);

    EXPECT_EQ(harness.journal.Entries(),
              (std::vector<std::string>{"A:GetReJITParameters", "B:ReJITCompilationStarted",
                                        "B:GetReJITParameters"}));
    EXPECT_EQ(b.Calls()[0].args, ArgsBits(Function, ReJITID{1}, BOOL{FALSE}));

    // The runtime's own notifications: Started skips B, Finished and Error reach it.
    harness.journal.Clear();
    processor->ReJITCompilationStarted(Function, 7, TRUE);
    processor->ReJITCompilationFinished(Function, 7, S_OK, TRUE);
    processor->ReJITError(Module, Method, Function, E_FAIL);
    EXPECT_EQ(harness.journal.Entries(),
              (std::vector<std::string>{"A:ReJITCompilationStarted", "A:ReJITCompilationFinished",
                                        "B:ReJITCompilationFinished", "A:ReJITError", "B:ReJITError"}));
}

TEST_F(RejitProcessorTest, FailedStartGivesTheTargetReJITErrorAndSkipsItsGetReJITParameters) {
    RejitTarget& a = AddTarget("A", true);
    a.startedResult = E_INVALIDARG;
    Build();
    MarkPending(a);

    EXPECT_EQ(processor->GetReJITParameters(&control, Function), E_INVALIDARG);

    EXPECT_EQ(a.CallNames(), (std::vector<std::string>{"ReJITCompilationStarted", "ReJITError"}));
    EXPECT_EQ(a.Calls()[1].args, ArgsBits(Module, Method, Function, HRESULT{E_INVALIDARG}));
    EXPECT_TRUE(control.ReceivedNothing());
}

TEST_F(RejitProcessorTest, CodegenFlagsAreTheOrOfTheTargetsThatSucceeded) {
    AddTarget("A").onGetReJITParameters = Rewrite({0x0A, 0x2A}, S_OK, COR_PRF_CODEGEN_DISABLE_INLINING);
    AddTarget("B").onGetReJITParameters =
        Rewrite({0x0B, 0x2A}, S_FALSE, COR_PRF_CODEGEN_DISABLE_ALL_OPTIMIZATIONS);
    AddTarget("C").onGetReJITParameters = Rewrite({0x0C, 0x2A}, E_INVALIDARG, 0x100);
    Build();
    for (const auto& proxy : proxies) {
        proxy->RequestRejit(Module, Method, true);
    }

    processor->GetReJITParameters(&control, Function);

    EXPECT_EQ(control.codegenFlags, DWORD{0x3});
    // The failed target's IL still counts as the last one held.
    EXPECT_EQ(control.ilBody, (std::vector<BYTE>{0x0C, 0x2A}));
}

TEST_F(RejitProcessorTest, ILMapComesFromTheLastTargetThatHasOne) {
    LogCapture capture("debug");
    COR_IL_MAP map[] = {{0, 0, TRUE}, {4, 10, TRUE}};
    AddTarget("A").onGetReJITParameters = [&map](RejitTarget&, ICorProfilerFunctionControl* function) {
        const BYTE il[] = {0x0A, 0x2A};
        function->SetILFunctionBody(2, il);
        return function->SetILInstrumentedCodeMap(2, map);
    };
    AddTarget("B").onGetReJITParameters = Rewrite({0x0B, 0x2A});
    Build();
    for (const auto& proxy : proxies) {
        proxy->RequestRejit(Module, Method, true);
    }

    processor->GetReJITParameters(&control, Function);

    EXPECT_EQ(control.ilBody, (std::vector<BYTE>{0x0B, 0x2A}));
    ASSERT_TRUE(control.ilMap.has_value());
    ASSERT_EQ(control.ilMap->size(), 2u);
    EXPECT_EQ((*control.ilMap)[1].oldOffset, 4u);
    EXPECT_EQ((*control.ilMap)[1].newOffset, 10u);
    EXPECT_TRUE(Contains(capture.Messages(), "RejitProcessor::GetReJITParameters, setting IL code map for " +
                                                 MethodName() + ", from A profiler"));
}

TEST_F(RejitProcessorTest, ILMapsOfSeveralTargetsReachTheRuntimeComposed) {
    LogCapture capture("debug");
    // A puts 2 instructions in front, B rewrites without a map, C puts 3 in front.
    COR_IL_MAP aMap[] = {{0, 2, TRUE}, {4, 6, TRUE}};
    COR_IL_MAP cMap[] = {{0, 3, TRUE}, {2, 5, TRUE}, {6, 9, TRUE}};
    auto rewriteWithMap = [](COR_IL_MAP* map, ULONG count) {
        return [map, count](RejitTarget&, ICorProfilerFunctionControl* function) {
            const BYTE il[] = {0x0A, 0x2A};
            function->SetILFunctionBody(2, il);
            return function->SetILInstrumentedCodeMap(count, map);
        };
    };
    AddTarget("A").onGetReJITParameters = rewriteWithMap(aMap, 2);
    AddTarget("B").onGetReJITParameters = Rewrite({0x0B, 0x2A});
    AddTarget("C").onGetReJITParameters = rewriteWithMap(cMap, 3);
    Build();
    for (const auto& proxy : proxies) {
        proxy->RequestRejit(Module, Method, true);
    }

    processor->GetReJITParameters(&control, Function);

    ASSERT_TRUE(control.ilMap.has_value());
    std::vector<std::pair<ULONG32, ULONG32>> offsets;
    for (const COR_IL_MAP& entry : *control.ilMap) {
        offsets.emplace_back(entry.oldOffset, entry.newOffset);
    }
    EXPECT_EQ(offsets, (std::vector<std::pair<ULONG32, ULONG32>>{{0, 5}, {4, 9}}));
    EXPECT_TRUE(Contains(capture.Messages(), "RejitProcessor::GetReJITParameters, setting IL code map for " +
                                                 MethodName() + ", composed of the maps of 2 profilers"));
}

TEST_F(RejitProcessorTest, RuntimeRefusingTheILGetsNoMap) {
    COR_IL_MAP map[] = {{0, 0, TRUE}};
    RejitTarget& a = AddTarget("A");
    a.onGetReJITParameters = [&map](RejitTarget&, ICorProfilerFunctionControl* function) {
        const BYTE il[] = {0x2A};
        function->SetILFunctionBody(1, il);
        return function->SetILInstrumentedCodeMap(1, map);
    };
    Build();
    MarkPending(a);
    control.setILResult = E_INVALIDARG;

    EXPECT_EQ(processor->GetReJITParameters(&control, Function), E_INVALIDARG);
    EXPECT_FALSE(control.ilMap.has_value());
}

TEST_F(RejitProcessorTest, MethodIsRevertedWhenNoTargetHoldsILAfterASuccess) {
    RejitTarget& a = AddTarget("A");
    AddTarget("B");
    Build();
    MarkPending(a);
    harness.runtime.revertStatus = CORPROF_E_ACTIVE_REJIT_REQUEST_NOT_FOUND;

    EXPECT_EQ(processor->GetReJITParameters(&control, Function), CORPROF_E_ACTIVE_REJIT_REQUEST_NOT_FOUND);

    EXPECT_TRUE(control.ReceivedNothing());
    const std::vector<RejitFakeRuntime::Request> revert{{"RequestRevert", std::nullopt, {{Module, Method}}}};
    EXPECT_EQ(harness.runtime.Requests(), revert);
}

// Whether an earlier target still holds IL when no target is pending.
class RejitNobodyPendingTest : public RejitProcessorTest, public testing::WithParamInterface<bool> {};

TEST_P(RejitNobodyPendingTest, HeldILStillReachesTheRuntimeOrTheMethodIsReverted) {
    const bool holdsIL = GetParam();
    COR_IL_MAP map[] = {{0, 0, TRUE}, {2, 6, TRUE}};
    RejitTarget& a = AddTarget("A");
    RejitTarget& b = AddTarget("B");
    AddTarget("C");
    Build();
    if (holdsIL) {
        const auto aBlock = RejitHarness::GiveIL(a, Module, Method, {0x0A, 0x2A});
        aBlock->SetILInstrumentedCodeMap(2, map);
        aBlock->SetCodegenFlags(COR_PRF_CODEGEN_DISABLE_INLINING);
        RejitHarness::GiveIL(b, Module, Method, {0x0B, 0x2A});
    }

    EXPECT_EQ(processor->GetReJITParameters(&control, Function), S_OK);

    EXPECT_TRUE(harness.journal.Entries().empty()) << "nobody was pending";
    EXPECT_EQ(processor->GetState(), State::Completed);
    if (holdsIL) {
        EXPECT_EQ(control.ilBody, (std::vector<BYTE>{0x0B, 0x2A}));
        EXPECT_EQ(control.codegenFlags, DWORD{COR_PRF_CODEGEN_DISABLE_INLINING}) << "the held IL's flags";
        ASSERT_TRUE(control.ilMap.has_value());
        EXPECT_EQ(control.ilMap->size(), 2u);
        EXPECT_TRUE(harness.runtime.Requests().empty());
    } else {
        EXPECT_TRUE(control.ReceivedNothing());
        const std::vector<RejitFakeRuntime::Request> revert{
            {"RequestRevert", std::nullopt, {{Module, Method}}}};
        EXPECT_EQ(harness.runtime.Requests(), revert);
    }
}

INSTANTIATE_TEST_SUITE_P(EarlierTarget, RejitNobodyPendingTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "HoldsIL" : "HoldsNone";
                         });

TEST_F(RejitProcessorTest, StateFollowsRequestsAndRuns) {
    RejitTarget& a = AddTarget("A");
    RejitTarget& b = AddTarget("B");
    std::optional<State> seenInside;
    a.onGetReJITParameters = [&](RejitTarget&, ICorProfilerFunctionControl*) {
        seenInside = processor->GetState();
        return S_OK;
    };
    Build();
    EXPECT_EQ(processor->GetState(), State::Requested);
    MarkPending(a);

    processor->GetReJITParameters(&control, Function);
    EXPECT_EQ(seenInside, State::InProgress);
    EXPECT_EQ(processor->GetState(), State::Completed);

    processor->ReJITCompilationStarted(Function, 1, TRUE);
    EXPECT_EQ(processor->GetState(), State::Completed);

    ITargetProfilerProxy* requester = &RejitHarness::Proxy(b);
    processor->Reset(requester);
    EXPECT_EQ(processor->GetState(), State::Requested);
    EXPECT_EQ(processor->GetRequester(), requester);
}

TEST_F(RejitProcessorTest, DumpListsEveryTargetsBlock) {
    LogCapture capture("debug");
    AddTarget("First");
    RejitTarget& second = AddTarget("Second");
    RejitTarget& third = AddTarget("Third");
    Build();
    MarkPending(second);
    const auto block = RejitHarness::GiveIL(third, Module, Method, {0x0A, 0x00, 0x2A});

    processor->DumpFunctionILBlocks("Title");

    std::ostringstream address;
    address << std::hex << reinterpret_cast<uintptr_t>(block->GetILFunctionBody().first.get());
    const std::string stars(66, '*');
    const std::string dashes(66, '-');
    const std::vector<std::string> expected{
        "",
        stars,
        "*Title. Dump target proxies function blocks for: " + MethodName(),
        "***  First   ***",
        "* No function IL Block exists.",
        "***  Second   ***",
        "* An empty function IL Block exists",
        "* A pending rejit flag exists",
        dashes,
        "***  Third   ***",
        "* A function IL Block exits, address: " + address.str() + " size: 3",
        "* No pending rejit flag exists",
        dashes,
        stars};
    const auto messages = capture.Messages();
    const auto start = std::find(messages.begin(), messages.end(), stars);
    ASSERT_NE(start, messages.end());
    ASSERT_GE(std::distance(start, messages.end()), static_cast<std::ptrdiff_t>(expected.size() - 1));
    EXPECT_EQ(std::vector<std::string>(start - 1, start - 1 + static_cast<std::ptrdiff_t>(expected.size())),
              expected);
}

// One of the runtime's three notifications, as the processor passes it on.
struct NotificationRow {
    const char* name;
    std::function<HRESULT(RejitProcessor&)> notify;
    std::string callback;
    // Of A (IL), B (no IL), C (IL, reverts the call order), D (IL, no ICorProfilerCallback4).
    std::vector<std::string> reached;
    std::vector<uint64_t> args;
};

void PrintTo(const NotificationRow& row, std::ostream* os) {
    *os << row.name;
}

class RejitNotificationTest : public RejitProcessorTest, public testing::WithParamInterface<NotificationRow> {
protected:
    void SetUp() override {
        AddTarget("A");
        AddTarget("B");
        AddTarget("C", true);
        AddTarget("D").newestInterface = 3;
        Build();
        for (const auto& proxy : proxies) {
            if (std::string(proxy->GetName()) != "B") {
                RejitHarness::GiveIL(static_cast<const RejitTarget&>(*proxy->GetTargetProfiler()), Module,
                                     Method, {0x2A});
            }
        }
    }
};

TEST_P(RejitNotificationTest, ReachesOnlyTheTargetsHoldingIL) {
    EXPECT_EQ(GetParam().notify(*processor), S_OK);

    std::vector<std::string> expected;
    for (const auto& name : GetParam().reached) {
        expected.push_back(name + ":" + GetParam().callback);
    }
    EXPECT_EQ(harness.journal.Entries(), expected);
    const auto& a = static_cast<const RejitTarget&>(*proxies[0]->GetTargetProfiler());
    ASSERT_FALSE(a.Calls().empty());
    EXPECT_EQ(a.Calls()[0].args, GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RejitNotificationTest,
    testing::Values(
        NotificationRow{"Started",
                        [](RejitProcessor& p) { return p.ReJITCompilationStarted(Function, 7, TRUE); },
                        "ReJITCompilationStarted",
                        {"A"},
                        ArgsBits(Function, ReJITID{7}, BOOL{TRUE})},
        NotificationRow{
            "Finished",
            [](RejitProcessor& p) { return p.ReJITCompilationFinished(Function, 7, S_FALSE, TRUE); },
            "ReJITCompilationFinished",
            {"A", "C"},
            ArgsBits(Function, ReJITID{7}, HRESULT{S_FALSE}, BOOL{TRUE})},
        NotificationRow{"Error",
                        [](RejitProcessor& p) { return p.ReJITError(0x2000, 0x06000002, Function, E_FAIL); },
                        "ReJITError",
                        {"A", "C"},
                        ArgsBits(ModuleID{0x2000}, mdMethodDef{0x06000002}, Function, HRESULT{E_FAIL})}),
    [](const testing::TestParamInfo<NotificationRow>& info) { return info.param.name; });

TEST_F(RejitProcessorTest, NotificationResultIsTheFirstSuccessOrEFail) {
    RejitTarget& a = AddTarget("A");
    RejitTarget& b = AddTarget("B");
    Build();
    EXPECT_EQ(processor->ReJITCompilationFinished(Function, 1, S_OK, TRUE), E_FAIL) << "no target holds IL";

    RejitHarness::GiveIL(a, Module, Method, {0x2A});
    RejitHarness::GiveIL(b, Module, Method, {0x2A});
    a.finishedResult = E_INVALIDARG;
    b.finishedResult = S_FALSE;
    EXPECT_EQ(processor->ReJITCompilationFinished(Function, 1, S_OK, TRUE), S_FALSE);
    a.finishedResult = S_OK;
    b.throwOnRejitCallbacks = true;
    EXPECT_EQ(processor->ReJITCompilationFinished(Function, 1, S_OK, TRUE), E_FAIL);
}

} // namespace
} // namespace profilermultiplexer::tests
