#include "LogCapture.h"
#include "RejitFakeFunctionControl.h"
#include "RejitHarness.h"
#include "ilchain/IMetadataHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

constexpr ModuleID Module = 0x1000;
constexpr mdMethodDef Method = 0x06000001;
constexpr mdMethodDef Other = 0x06000002;
constexpr mdMethodDef Third = 0x06000003;
constexpr FunctionID Function = 0xF00;
using Request = RejitFakeRuntime::Request;

Request ReJIT(std::vector<mdMethodDef> methods, std::optional<DWORD> flags = std::nullopt) {
    Request request{flags ? "RequestReJITWithInliners" : "RequestReJIT", flags, {}};
    for (mdMethodDef method : methods) {
        request.methods.emplace_back(Module, method);
    }
    return request;
}

bool Contains(const std::vector<std::string>& messages, const std::string& text) {
    return std::find(messages.begin(), messages.end(), text) != messages.end();
}

class RejitRequestTest : public testing::Test {
protected:
    ProfilerMultiplexer& Multiplexer() { return harness.Multiplexer(); }
    std::vector<Request> Requests() const { return harness.runtime.Requests(); }

    static std::shared_ptr<IFunctionILBlock> Block(const RejitTarget& target, mdMethodDef method = Method) {
        return RejitHarness::Proxy(target).GetFunctionILBlock(Module, method);
    }
    static bool HoldsIL(const RejitTarget& target) {
        return RejitHarness::Proxy(target).HasNonEmptyILBlock(Module, Method);
    }
    static bool IsPending(const RejitTarget& target) {
        const auto block = Block(target);
        return block && block->IsRejitPending();
    }
    std::string MethodName(mdMethodDef method = Method) {
        return Multiplexer().GetMetadataHelper()->GetMethodName(Module, method);
    }

    RejitHarness harness;
    RejitFakeFunctionControl control;
};

TEST_F(RejitRequestTest, RequesterAndLaterHoldersOfILTakePart) {
    RejitTarget& a = harness.AddTarget("A");
    RejitTarget& b = harness.AddTarget("B");
    RejitTarget& c = harness.AddTarget("C");
    RejitTarget& d = harness.AddTarget("D");
    harness.BuildAndInitialize();
    RejitHarness::GiveIL(a, Module, Method, {0x0A, 0x2A});
    RejitHarness::GiveIL(c, Module, Method, {0x0C, 0x2A});

    EXPECT_EQ(b.RequestReJIT({Module}, {Method}), S_OK);

    EXPECT_TRUE(HoldsIL(a));
    EXPECT_FALSE(IsPending(a));
    ASSERT_NE(Block(b), nullptr);
    EXPECT_TRUE(IsPending(b));
    EXPECT_FALSE(HoldsIL(b));
    EXPECT_TRUE(IsPending(c));
    EXPECT_FALSE(HoldsIL(c));
    EXPECT_EQ(Block(d), nullptr) << "a later target without IL takes no part";
    EXPECT_EQ(Requests(), std::vector<Request>{ReJIT({Method})});
}

// Whether the requester of a revert holds a block (an empty one) for the method.
class RejitRevertTest : public RejitRequestTest, public testing::WithParamInterface<bool> {};

TEST_P(RejitRevertTest, RevertDropsTheRequesterAndMarksLaterHolders) {
    const bool holdsBlock = GetParam();
    RejitTarget& a = harness.AddTarget("A");
    RejitTarget& b = harness.AddTarget("B");
    RejitTarget& c = harness.AddTarget("C");
    harness.BuildAndInitialize();
    RejitHarness::GiveIL(a, Module, Method, {0x0A, 0x2A});
    RejitHarness::GiveIL(c, Module, Method, {0x0C, 0x2A});
    if (holdsBlock) {
        RejitHarness::Proxy(b).CreateFunctionILBlock(Module, Method);
    }
    HRESULT statuses[2] = {E_FAIL, E_FAIL};

    EXPECT_EQ(b.RequestRevert({Module, Module}, {Method, Other}, statuses), S_OK);

    EXPECT_EQ(statuses[0], holdsBlock ? S_OK : CORPROF_E_ACTIVE_REJIT_REQUEST_NOT_FOUND);
    EXPECT_EQ(statuses[1], CORPROF_E_ACTIVE_REJIT_REQUEST_NOT_FOUND);
    EXPECT_EQ(Block(b), nullptr);
    EXPECT_TRUE(HoldsIL(a));
    EXPECT_FALSE(IsPending(a));
    EXPECT_TRUE(IsPending(c));
    // A revert reaches the runtime as a ReJIT, every method included.
    EXPECT_EQ(Requests(), std::vector<Request>{ReJIT({Method, Other})});
}

INSTANTIATE_TEST_SUITE_P(Requester, RejitRevertTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "HoldsABlock" : "HoldsNoBlock";
                         });

// One way a target asks for a ReJIT.
struct RequestKind {
    const char* name;
    std::function<HRESULT(RejitTarget&)> request;
    // The runtime's answer to a target without ICorProfilerCallback4.
    HRESULT withoutCallback4;
};

void PrintTo(const RequestKind& row, std::ostream* os) {
    *os << row.name;
}

class RejitMaskGateTest : public RejitRequestTest, public testing::WithParamInterface<RequestKind> {};

TEST_P(RejitMaskGateTest, TargetWithoutTheReJITBitIsRefused) {
    LogCapture capture("err");
    RejitTarget& target = harness.AddTarget("Masked");
    target.eventMask = COR_PRF_MONITOR_JIT_COMPILATION;
    harness.AddTarget("Other");
    harness.BuildAndInitialize();

    EXPECT_EQ(GetParam().request(target), CORPROF_E_REJIT_NOT_ENABLED);

    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(Block(target), nullptr);
    EXPECT_TRUE(Contains(capture.Messages(),
                         "Profiler Masked is asking for rejit but it's event mask is masking this request"));
    // No processor was made either.
    EXPECT_EQ(Multiplexer().GetReJITParameters(Module, Method, &control), S_OK);
    EXPECT_TRUE(harness.journal.Entries().empty());
}

// As the runtime does, a ReJIT (not a revert) needs ICorProfilerCallback4.
TEST_P(RejitMaskGateTest, TargetWithoutCallback4IsAnsweredAsByTheRuntime) {
    RejitTarget& target = harness.AddTarget("Old");
    target.newestInterface = 3;
    harness.BuildAndInitialize();

    EXPECT_EQ(GetParam().request(target), GetParam().withoutCallback4);
    EXPECT_EQ(Requests().size(), GetParam().withoutCallback4 == S_OK ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RejitMaskGateTest,
    testing::Values(
        RequestKind{"ReJIT", [](RejitTarget& t) { return t.RequestReJIT({Module}, {Method}); },
                    CORPROF_E_CALLBACK4_REQUIRED},
        RequestKind{"WithInliners",
                    [](RejitTarget& t) { return t.RequestReJITWithInliners(1, {Module}, {Method}); },
                    CORPROF_E_CALLBACK4_REQUIRED},
        RequestKind{"Revert", [](RejitTarget& t) { return t.RequestRevert({Module}, {Method}); }, S_OK}),
    [](const testing::TestParamInfo<RequestKind>& info) { return info.param.name; });

// A module that has unloaded is refused as well, until a module takes its id.
TEST_P(RejitMaskGateTest, ModuleThatUnloadedIsRefusedUntilItsIdIsTaken) {
    RejitTarget& target = harness.AddTarget("A");
    harness.BuildAndInitialize();
    Multiplexer().ModuleUnloadStarted(Module);
    Multiplexer().ModuleUnloadFinished(Module, S_OK);

    EXPECT_EQ(GetParam().request(target), E_FAIL);
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(Block(target), nullptr);

    Multiplexer().ModuleLoadStarted(Module);
    EXPECT_EQ(GetParam().request(target), S_OK);
    EXPECT_EQ(Requests().size(), 1u);
}

TEST_F(RejitRequestTest, NullArraysAreRefusedBeforeAnythingHappens) {
    RejitTarget& a = harness.AddTarget("A");
    harness.BuildAndInitialize();
    HRESULT status = E_FAIL;

    EXPECT_EQ(a.Info().RequestReJIT(1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(a.Info().RequestReJITWithInliners(0, 1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(a.Info().RequestRevert(0, nullptr, nullptr, &status), E_INVALIDARG);
    EXPECT_EQ(status, E_FAIL);
    EXPECT_EQ(a.Info().RequestReJIT(0, nullptr, nullptr), S_OK) << "nothing asked, nothing done";
    EXPECT_TRUE(Requests().empty());
}

TEST_F(RejitRequestTest, InlinersFlagsZeroStayFlagsAndTheRuntimesAnswerGoesBack) {
    RejitTarget& a = harness.AddTarget("A");
    harness.BuildAndInitialize();
    harness.runtime.rejitResult = E_OUTOFMEMORY;

    EXPECT_EQ(a.RequestReJITWithInliners(0, {Module, Module}, {Method, Other}), E_OUTOFMEMORY);

    EXPECT_EQ(Requests(), std::vector<Request>{ReJIT({Method, Other}, DWORD{0})});
    EXPECT_TRUE(IsPending(a)) << "the preparation stays";
}

TEST_F(RejitRequestTest, RequestForTheMethodInGetReJITParametersWaitsAndIsReplayedUnchanged) {
    RejitTarget& a = harness.AddTarget("A");
    harness.BuildAndInitialize();
    std::vector<HRESULT> inside;
    std::size_t requestsSeenInside = 0;
    a.onGetReJITParameters = [&](RejitTarget& target, ICorProfilerFunctionControl* function) {
        inside.push_back(target.RequestReJIT({Module, Module, Module}, {Other, Method, Third}));
        inside.push_back(target.RequestReJITWithInliners(0, {Module}, {Method}));
        inside.push_back(target.RequestRevert({Module}, {Method}));
        requestsSeenInside = harness.runtime.Requests().size();
        const BYTE il[] = {0x2A};
        return function->SetILFunctionBody(1, il);
    };
    a.RequestReJIT({Module}, {Method});
    harness.runtime.ClearRequests();

    EXPECT_EQ(Multiplexer().GetReJITParameters(Module, Method, &control), S_OK);

    EXPECT_EQ(inside, (std::vector<HRESULT>{S_OK, S_OK, S_OK}));
    EXPECT_EQ(requestsSeenInside, 1u) << "only the methods not in progress reached the runtime at once";
    const std::vector<Request> expected{ReJIT({Other, Third}), ReJIT({Method}), ReJIT({Method}, DWORD{0}),
                                        ReJIT({Method})};
    EXPECT_EQ(Requests(), expected);
    // The queued revert dropped the requester's block, and the replay marked nobody.
    EXPECT_EQ(Block(a), nullptr);
    RejitFakeFunctionControl second;
    Multiplexer().GetReJITParameters(Module, Method, &second);
    EXPECT_EQ(a.Calls().size(), 1u);
    EXPECT_TRUE(second.ReceivedNothing());
}

// Whether the later target writes IL again after the earlier one reverted.
class RejitRevertRoadTest : public RejitRequestTest, public testing::WithParamInterface<bool> {};

TEST_P(RejitRevertRoadTest, LaterTargetRewritesOrTheMethodIsReverted) {
    const bool rewrites = GetParam();
    RejitTarget& a = harness.AddTarget("A");
    RejitTarget& b = harness.AddTarget("B");
    harness.BuildAndInitialize();
    RejitHarness::GiveIL(a, Module, Method, {0x0A, 0x2A});
    RejitHarness::GiveIL(b, Module, Method, {0x0B, 0x2A});
    b.onGetReJITParameters = [rewrites](RejitTarget&, ICorProfilerFunctionControl* function) {
        const BYTE il[] = {0x0B, 0x0B, 0x2A};
        return rewrites ? function->SetILFunctionBody(3, il) : S_OK;
    };

    a.RequestRevert({Module}, {Method});
    EXPECT_EQ(Multiplexer().GetReJITParameters(Module, Method, &control), S_OK);

    EXPECT_EQ(harness.journal.Entries(), std::vector<std::string>{"B:GetReJITParameters"});
    if (rewrites) {
        EXPECT_EQ(control.ilBody, (std::vector<BYTE>{0x0B, 0x0B, 0x2A}));
        EXPECT_EQ(Requests(), std::vector<Request>{ReJIT({Method})});
    } else {
        EXPECT_TRUE(control.ReceivedNothing());
        const Request revert{"RequestRevert", std::nullopt, {{Module, Method}}};
        EXPECT_EQ(Requests(), (std::vector<Request>{ReJIT({Method}), revert}));
    }
}

INSTANTIATE_TEST_SUITE_P(LaterTarget, RejitRevertRoadTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Rewrites" : "WritesNothing";
                         });

// A ReJIT in which no target is pending still passes on the IL that earlier targets hold.
TEST_F(RejitRequestTest, RevertOfTheLastTargetKeepsTheEarlierRewrite) {
    RejitTarget& a = harness.AddTarget("A");
    RejitTarget& b = harness.AddTarget("B");
    harness.BuildAndInitialize();
    RejitHarness::GiveIL(a, Module, Method, {0x0A, 0x2A});
    RejitHarness::GiveIL(b, Module, Method, {0x0B, 0x2A});

    b.RequestRevert({Module}, {Method});
    EXPECT_EQ(Multiplexer().GetReJITParameters(Module, Method, &control), S_OK);

    EXPECT_TRUE(harness.journal.Entries().empty());
    EXPECT_EQ(control.ilBody, (std::vector<BYTE>{0x0A, 0x2A}));
    EXPECT_EQ(Requests(), std::vector<Request>{ReJIT({Method})}) << "no revert in the runtime";
}

TEST_F(RejitRequestTest, ReplayedReJITPassesTheRewriteAgain) {
    RejitTarget& a = harness.AddTarget("A");
    harness.BuildAndInitialize();
    a.onGetReJITParameters = [](RejitTarget& target, ICorProfilerFunctionControl* function) {
        target.RequestReJIT({Module}, {Method});
        const BYTE il[] = {0x0A, 0x2A};
        return function->SetILFunctionBody(2, il);
    };
    a.RequestReJIT({Module}, {Method});
    Multiplexer().GetReJITParameters(Module, Method, &control);
    a.onGetReJITParameters = nullptr;

    // The runtime's answer to the replayed request.
    RejitFakeFunctionControl replayed;
    EXPECT_EQ(Multiplexer().GetReJITParameters(Module, Method, &replayed), S_OK);

    EXPECT_EQ(a.Calls().size(), 1u) << "the replay marked nobody";
    EXPECT_EQ(replayed.ilBody, (std::vector<BYTE>{0x0A, 0x2A}));
}

TEST_F(RejitRequestTest, QueuedRevertTakesTheRequesterOutOfTheChain) {
    RejitTarget& a = harness.AddTarget("A");
    RejitTarget& b = harness.AddTarget("B");
    harness.BuildAndInitialize();
    const std::vector<BYTE> original{0x06, 0x2A};
    harness.runtime.SetMethodIL(Module, Method, original);
    a.onGetReJITParameters = [](RejitTarget& target, ICorProfilerFunctionControl* function) {
        target.RequestRevert({Module}, {Method});
        const BYTE il[] = {0x0A, 0x00, 0x2A};
        return function->SetILFunctionBody(3, il);
    };
    a.RequestReJIT({Module}, {Method});
    Multiplexer().GetReJITParameters(Module, Method, &control);
    a.onGetReJITParameters = nullptr;

    EXPECT_EQ(Block(a), nullptr);
    const std::vector<Request> replayed{ReJIT({Method}), ReJIT({Method})};
    EXPECT_EQ(Requests(), replayed) << "the revert reaches the runtime as a ReJIT";
    RejitFakeFunctionControl afterReplay;
    Multiplexer().GetReJITParameters(Module, Method, &afterReplay);
    EXPECT_TRUE(afterReplay.ReceivedNothing());
    EXPECT_EQ(Requests().back().kind, "RequestRevert") << "no IL is left in the chain";

    // The next ReJIT of B starts from the method's own IL.
    std::vector<BYTE> seen;
    b.onGetReJITParameters = [&seen](RejitTarget& target, ICorProfilerFunctionControl*) {
        LPCBYTE header = nullptr;
        ULONG size = 0;
        const HRESULT hr = target.Info().GetILFunctionBody(Module, Method, &header, &size);
        if (SUCCEEDED(hr)) {
            seen.assign(header, header + size);
        }
        return hr;
    };
    b.RequestReJIT({Module}, {Method});
    RejitFakeFunctionControl next;
    Multiplexer().GetReJITParameters(Module, Method, &next);
    EXPECT_EQ(seen, original);
    EXPECT_EQ(a.Calls().size(), 1u);
}

// As a direct revert does, the replayed one makes the later holders of IL rewrite without the requester.
TEST_F(RejitRequestTest, QueuedRevertMakesLaterHoldersRewriteWithoutTheRequester) {
    RejitTarget& a = harness.AddTarget("A");
    RejitTarget& b = harness.AddTarget("B");
    harness.BuildAndInitialize();
    const std::vector<BYTE> original{0x06, 0x2A};
    harness.runtime.SetMethodIL(Module, Method, original);
    RejitHarness::GiveIL(b, Module, Method, {0x0B, 0x2A});
    a.onGetReJITParameters = [](RejitTarget& target, ICorProfilerFunctionControl* function) {
        target.RequestRevert({Module}, {Method});
        const BYTE il[] = {0x0A, 0x00, 0x2A};
        return function->SetILFunctionBody(3, il);
    };
    std::vector<std::vector<BYTE>> seen;
    b.onGetReJITParameters = [&seen](RejitTarget& target, ICorProfilerFunctionControl* function) {
        LPCBYTE header = nullptr;
        ULONG size = 0;
        const HRESULT hr = target.Info().GetILFunctionBody(Module, Method, &header, &size);
        if (FAILED(hr)) {
            return hr;
        }
        seen.emplace_back(header, header + size);
        const BYTE il[] = {0x0B, 0x0B, 0x2A};
        return function->SetILFunctionBody(3, il);
    };
    a.RequestReJIT({Module}, {Method});
    Multiplexer().GetReJITParameters(Module, Method, &control);
    a.onGetReJITParameters = nullptr;

    RejitFakeFunctionControl afterReplay;
    Multiplexer().GetReJITParameters(Module, Method, &afterReplay);
    EXPECT_EQ(seen, (std::vector<std::vector<BYTE>>{{0x0A, 0x00, 0x2A}, original}));
    EXPECT_EQ(afterReplay.ilBody, (std::vector<BYTE>{0x0B, 0x0B, 0x2A}));
    EXPECT_EQ(a.Calls().size(), 1u);
}

TEST_F(RejitRequestTest, GetReJITParametersWithoutAProcessorAnswersSOk) {
    LogCapture capture("err");
    harness.AddTarget("A");
    harness.BuildAndInitialize();

    EXPECT_EQ(Multiplexer().GetReJITParameters(Module, Method, &control), S_OK);

    EXPECT_TRUE(control.ReceivedNothing());
    EXPECT_TRUE(Contains(capture.Messages(),
                         "ProfilerMultiplexer::GetReJITParameters, cant find the RejitProcessor object for " +
                             MethodName()));
}

// The runtime also ReJITs the methods that inlined one asked for with its inliners (Other inlines Method):
// after such a request, the targets that made it take part in that ReJIT, and in its notifications, whether
// they rewrite the inliner or not; after a plain request, they are dropped as before.
struct InlinerRow {
    const char* name;
    bool withInliners;
    bool rewritesInliner;
    std::vector<std::string> journal;
    std::optional<std::vector<BYTE>> ilPassed;
};

void PrintTo(const InlinerRow& row, std::ostream* os) {
    *os << row.name;
}

class RejitInlinerTest : public RejitRequestTest, public testing::WithParamInterface<InlinerRow> {};

TEST_P(RejitInlinerTest, InlinerIsReJITtedForTheTargetsThatAskedWithInliners) {
    LogCapture capture("err");
    harness.AddTarget("A");
    RejitTarget& b = harness.AddTarget("B");
    RejitTarget& c = harness.AddTarget("C");
    b.onGetReJITParameters = [this](RejitTarget&, ICorProfilerFunctionControl* function) {
        const BYTE il[] = {0x0B, 0x2A};
        return GetParam().rewritesInliner ? function->SetILFunctionBody(2, il) : S_OK;
    };
    harness.BuildAndInitialize();
    harness.runtime.AddFunction(Function, Module, Other);
    RejitHarness::GiveIL(c, Module, Other, {0x0C, 0x2A});
    if (GetParam().withInliners) {
        b.RequestReJITWithInliners(COR_PRF_REJIT_INLINING_CALLBACKS, {Module}, {Method});
    } else {
        b.RequestReJIT({Module}, {Method});
    }
    harness.journal.Clear();
    harness.runtime.ClearRequests();

    EXPECT_EQ(Multiplexer().GetReJITParameters(Module, Other, &control), S_OK);
    Multiplexer().ReJITCompilationFinished(Function, 2, S_OK, TRUE);
    // Raised for an inliner that never got as far as GetReJITParameters.
    Multiplexer().ReJITError(Module, Third, 0, E_FAIL);

    EXPECT_EQ(harness.journal.Entries(), GetParam().journal);
    EXPECT_EQ(control.ilBody, GetParam().ilPassed);
    EXPECT_TRUE(Requests().empty()) << "an inliner left alone keeps its own IL: no revert";
    EXPECT_EQ(Contains(capture.Messages(),
                       "ProfilerMultiplexer::GetReJITParameters, cant find the RejitProcessor object for " +
                           MethodName(Other)),
              !GetParam().withInliners);
}

INSTANTIATE_TEST_SUITE_P(Rows, RejitInlinerTest,
                         testing::Values(InlinerRow{"PlainRequest", false, true, {}, std::nullopt},
                                         InlinerRow{"Rewritten",
                                                    true,
                                                    true,
                                                    {"B:GetReJITParameters", "C:GetReJITParameters",
                                                     "B:ReJITCompilationFinished", "B:ReJITError"},
                                                    std::vector<BYTE>{0x0B, 0x2A}},
                                         InlinerRow{"LeftAlone",
                                                    true,
                                                    false,
                                                    {"B:GetReJITParameters", "C:GetReJITParameters",
                                                     "B:ReJITCompilationFinished", "B:ReJITError"},
                                                    std::nullopt}),
                         [](const testing::TestParamInfo<InlinerRow>& info) { return info.param.name; });

// An instantiation over an unloaded plugin's type (Third<PluginStruct>) is freed with the plugin, though
// it is kept under Third: its id is no longer handed out.
TEST_F(RejitRequestTest, ProcessorGetsTheRecordedFunctionIdOrZero) {
    constexpr ModuleID Plugin = 0x2000;
    constexpr ModuleID EarlierPlugin = 0x3000;
    constexpr mdMethodDef Fourth = 0x06000004;
    constexpr mdMethodDef Fifth = 0x06000005;
    constexpr ClassID LibType = 0xC1;
    constexpr ClassID PluginStruct = 0xC2;
    constexpr ClassID LibListOfPluginStruct = 0xC3;
    constexpr FunctionID Instantiation = 0xF01;
    constexpr FunctionID OverAClass = 0xF02;
    constexpr FunctionID FirstOfFifth = 0xF03;
    constexpr FunctionID LaterOfFifth = 0xF04;
    RejitTarget& a = harness.AddTarget("A", true);
    harness.BuildAndInitialize();
    harness.runtime.AddClass(LibType, Module);
    harness.runtime.AddClass(PluginStruct, Plugin);
    harness.runtime.AddClass(LibListOfPluginStruct, Module, {PluginStruct});
    harness.runtime.AddFunction(Function, Module, Other, LibType);
    harness.runtime.AddFunction(Instantiation, Module, Third, LibType, {PluginStruct});
    // Fourth<LibList<PluginStruct>>: the type argument is a class, made of the plugin's type.
    harness.runtime.AddFunction(OverAClass, Module, Fourth, LibType, {LibListOfPluginStruct});
    harness.runtime.AddFunction(FirstOfFifth, Module, Fifth, LibType);
    harness.runtime.AddFunction(LaterOfFifth, Module, Fifth, LibType, {PluginStruct});
    for (const FunctionID function : {Function, Instantiation, OverAClass, FirstOfFifth}) {
        Multiplexer().JITCompilationStarted(function, TRUE);
    }
    // An earlier unload finds Fifth's first id of its own module only; its later id is over the plugin.
    Multiplexer().ModuleUnloadStarted(EarlierPlugin);
    Multiplexer().JITCompilationStarted(LaterOfFifth, TRUE);
    Multiplexer().ModuleUnloadStarted(Plugin);

    const std::vector<mdMethodDef> methods{Method, Other, Third, Fourth, Fifth};
    a.RequestReJIT(std::vector<ModuleID>(methods.size(), Module), methods);
    for (const mdMethodDef method : methods) {
        Multiplexer().GetReJITParameters(Module, method, &control);
    }

    const auto calls = a.Calls();
    ASSERT_EQ(calls.size(), 2 * methods.size());
    const FunctionID expected[] = {0, Function, 0, 0, 0};
    for (std::size_t index = 0; index < methods.size(); ++index) {
        EXPECT_EQ(calls[2 * index].name, "ReJITCompilationStarted");
        EXPECT_EQ(calls[2 * index].args, ArgsBits(expected[index], ReJITID{1}, BOOL{FALSE})) << index;
    }
}

TEST_F(RejitRequestTest, NotificationsNeedTheFunctionAndItsProcessor) {
    LogCapture capture("err");
    RejitTarget& a = harness.AddTarget("A");
    harness.BuildAndInitialize();
    RejitHarness::GiveIL(a, Module, Method, {0x2A});

    EXPECT_EQ(Multiplexer().ReJITCompilationStarted(Function, 1, TRUE), E_FAIL) << "unknown function";
    harness.runtime.AddFunction(Function, Module, Method);
    EXPECT_EQ(Multiplexer().ReJITCompilationStarted(Function, 1, TRUE), E_FAIL) << "no processor";
    EXPECT_EQ(Multiplexer().ReJITCompilationFinished(Function, 1, S_OK, TRUE), E_FAIL);
    EXPECT_EQ(Multiplexer().ReJITError(Module, Method, Function, E_FAIL), E_FAIL);
    EXPECT_TRUE(a.Calls().empty());
    const auto messages = capture.Messages();
    EXPECT_TRUE(
        Contains(messages, "ProfilerMultiplexer::ReJITCompilationStarted, GetFunctionInfo, hr = -7ff8ffa9"));
    EXPECT_TRUE(
        Contains(messages,
                 "ProfilerMultiplexer::ReJITError, cant find the RejitProcessor object for " + MethodName()));

    a.RequestReJIT({Module}, {Method});
    EXPECT_EQ(Multiplexer().ReJITCompilationStarted(Function, 1, TRUE), E_FAIL)
        << "the request emptied A's block";
    a.onGetReJITParameters = [](RejitTarget&, ICorProfilerFunctionControl* function) {
        const BYTE il[] = {0x2A};
        return function->SetILFunctionBody(1, il);
    };
    Multiplexer().GetReJITParameters(Module, Method, &control);
    EXPECT_EQ(Multiplexer().ReJITCompilationStarted(Function, 1, TRUE), S_OK);
    EXPECT_EQ(Multiplexer().ReJITCompilationFinished(Function, 1, S_OK, TRUE), S_OK);
    EXPECT_EQ(a.CallNames(), (std::vector<std::string>{"GetReJITParameters", "ReJITCompilationStarted",
                                                       "ReJITCompilationFinished"}));
}

TEST_F(RejitRequestTest, RevertFromRejitDropsTheCachedILAndReportsTheRuntimesOutcome) {
    LogCapture capture("err");
    RejitTarget& a = harness.AddTarget("A");
    harness.BuildAndInitialize();
    harness.runtime.SetMethodIL(Module, Method, {0x0A, 0x2A});
    LPCBYTE header = nullptr;
    a.Info().GetILFunctionBody(Module, Method, &header, nullptr);

    EXPECT_EQ(Multiplexer().RevertFromRejit(Module, Method), S_OK);
    a.Info().GetILFunctionBody(Module, Method, &header, nullptr);
    EXPECT_EQ(harness.runtime.ILRequests(Module, Method), 2) << "the cached IL went";

    harness.runtime.revertStatus = S_FALSE;
    EXPECT_EQ(Multiplexer().RevertFromRejit(Module, Other), S_FALSE) << "the runtime's own success";
    EXPECT_TRUE(Contains(capture.Messages(),
                         "ProfilerMultiplexer::RevertFromRejit, Cant find module: 1000 method: 6000002"));
    harness.runtime.revertStatus = CORPROF_E_ACTIVE_REJIT_REQUEST_NOT_FOUND;
    EXPECT_EQ(Multiplexer().RevertFromRejit(Module, Method), CORPROF_E_ACTIVE_REJIT_REQUEST_NOT_FOUND);
    harness.runtime.revertResult = E_INVALIDARG;
    EXPECT_EQ(Multiplexer().RevertFromRejit(Module, Method), E_INVALIDARG);
}

TEST_F(RejitRequestTest, ExceptionInGetReJITParametersStillEndsTheRun) {
    RejitTarget& a = harness.AddTarget("A");
    harness.BuildAndInitialize();
    a.onGetReJITParameters = [](RejitTarget& target, ICorProfilerFunctionControl* function) {
        target.RequestReJIT({Module}, {Method});
        const BYTE il[] = {0x2A};
        return function->SetILFunctionBody(1, il);
    };
    a.RequestReJIT({Module}, {Method});
    control.throwOnSetIL = true;

    EXPECT_EQ(Multiplexer().GetReJITParameters(Module, Method, &control), S_OK);

    EXPECT_EQ(Requests(), (std::vector<Request>{ReJIT({Method}), ReJIT({Method})})) << "replayed";
    // Another thread can take the lock, and the method is no longer in progress.
    auto later = std::async(std::launch::async, [&a] { return a.RequestReJIT({Module}, {Method}); });
    ASSERT_EQ(later.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(later.get(), S_OK);
    EXPECT_EQ(Requests().size(), 3u);
    EXPECT_TRUE(IsPending(a));
}

// A target waits in a callback for the requests its own thread makes for another method: they are carried
// out at once and answered with the runtime's answer, and the chain's result stays.
class RejitWaitInCallbackTest : public RejitRequestTest, public testing::WithParamInterface<const char*> {};

TEST_P(RejitWaitInCallbackTest, OwnThreadsRequestsAreAnsweredWhileTheTargetWaits) {
    RejitTarget& a = harness.AddTarget("A");
    harness.AddTarget("B");
    harness.BuildAndInitialize();
    harness.runtime.AddFunction(Function, Module, Method);
    a.onGetReJITParameters = [](RejitTarget&, ICorProfilerFunctionControl* function) {
        const BYTE il[] = {0x2A};
        return function->SetILFunctionBody(1, il);
    };
    a.RequestReJIT({Module}, {Method});
    harness.runtime.rejitResult = S_FALSE;
    std::vector<std::future<HRESULT>> requests;
    std::vector<std::future_status> waits;
    a.actsIn = GetParam();
    a.act = [&](RejitTarget& target) {
        // Kept out of the callback: on a time-out they end only once it returns.
        requests.push_back(
            std::async(std::launch::async, [&target] { return target.RequestReJIT({Module}, {Other}); }));
        requests.push_back(
            std::async(std::launch::async, [&target] { return target.RequestRevert({Module}, {Other}); }));
        for (auto& request : requests) {
            waits.push_back(request.wait_for(std::chrono::seconds(2)));
        }
    };

    Multiplexer().JITCompilationStarted(Function, TRUE);
    Multiplexer().GetReJITParameters(Module, Method, &control);
    Multiplexer().ReJITCompilationStarted(Function, 1, TRUE);
    Multiplexer().ReJITCompilationFinished(Function, 1, S_OK, TRUE);
    Multiplexer().ReJITError(Module, Method, Function, E_FAIL);

    EXPECT_EQ(waits, std::vector<std::future_status>(2, std::future_status::ready));
    for (auto& request : requests) {
        EXPECT_EQ(request.get(), S_FALSE) << "the runtime's answer";
    }
    EXPECT_EQ(control.ilBody, std::vector<BYTE>{0x2A});
}

INSTANTIATE_TEST_SUITE_P(Callback, RejitWaitInCallbackTest,
                         testing::Values("JITCompilationStarted", "GetReJITParameters",
                                         "ReJITCompilationStarted", "ReJITCompilationFinished", "ReJITError"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

// Another thread's request for the method in GetReJITParameters is passed to the runtime at once; its
// targets are prepared when the run ends, which leaves the run's result alone.
TEST_F(RejitRequestTest, OtherThreadsRequestForTheMethodInGetReJITParametersIsPreparedAfterTheRun) {
    RejitTarget& a = harness.AddTarget("A");
    harness.BuildAndInitialize();
    std::future<HRESULT> request;
    std::future_status wait = std::future_status::timeout;
    a.onGetReJITParameters = [&](RejitTarget& target, ICorProfilerFunctionControl* function) {
        const BYTE il[] = {0x2A};
        const HRESULT hr = function->SetILFunctionBody(1, il);
        request =
            std::async(std::launch::async, [&target] { return target.RequestReJIT({Module}, {Method}); });
        wait = request.wait_for(std::chrono::seconds(2));
        return hr;
    };
    a.RequestReJIT({Module}, {Method});
    harness.runtime.rejitResult = S_FALSE;

    Multiplexer().GetReJITParameters(Module, Method, &control);

    EXPECT_EQ(wait, std::future_status::ready);
    EXPECT_EQ(request.get(), S_FALSE);
    EXPECT_EQ(control.ilBody, std::vector<BYTE>{0x2A});
    EXPECT_TRUE(IsPending(a));
    EXPECT_FALSE(HoldsIL(a));
}

TEST_F(RejitRequestTest, ConcurrentRequestsAndRunsKeepEveryRequest) {
    RejitTarget& a = harness.AddTarget("A");
    RejitTarget& b = harness.AddTarget("B");
    harness.BuildAndInitialize();
    constexpr int Rounds = 200;
    a.onGetReJITParameters = [](RejitTarget& target, ICorProfilerFunctionControl* function) {
        target.RequestReJIT({Module}, {Method});
        const BYTE il[] = {0x2A};
        return function->SetILFunctionBody(1, il);
    };

    std::thread runtime([&] {
        for (int round = 0; round < Rounds; ++round) {
            a.RequestReJIT({Module}, {Method});
            RejitFakeFunctionControl function;
            Multiplexer().GetReJITParameters(Module, Method, &function);
        }
    });
    std::thread requester([&] {
        for (int round = 0; round < Rounds; ++round) {
            b.RequestReJIT({Module}, {Other});
        }
    });
    runtime.join();
    requester.join();

    // Every run queued one request and replayed it; b's requests went straight through.
    EXPECT_EQ(Requests().size(), 3u * Rounds);
}

} // namespace
} // namespace profilermultiplexer::tests
