#include "hosting/TargetProfilerProxy.h"
#include "DistinctArgs.h"
#include "FakeRuntimeInfo.h"
#include "ILFakeRuntime.h"
#include "LogCapture.h"
#include "MultiplexerHarness.h"
#include "RecordingTarget.h"
#include "hosting/ProfilerMultiplexer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

using FunctionName = ProfilerCallbackFunctionFilter::FunctionName;

const IID& InfoIid(int version) {
    return TargetProfilerProxy::s_corProfilerInfoIIDs[10 - version].first;
}

// A proxy over a target and a runtime info object, bound to an uninitialised multiplexer.
class ProxyFixture {
public:
    explicit ProxyFixture(ICorProfilerInfo10* runtime, int proxyVersion = 10, double priority = 1.0,
                          bool revertRejitCallOrder = false, const IID* infoIid = nullptr)
        : _runtime(runtime), _multiplexer(new ProfilerMultiplexer(true, {})), target(new RecordingTarget) {
        _multiplexer->AddRef();
        proxy = std::make_shared<TargetProfilerProxy>(
            ProfilerSettings(u"Target", u"/t.so", u"{}", priority, revertRejitCallOrder), target,
            infoIid != nullptr ? *infoIid : InfoIid(proxyVersion), _multiplexer);
    }
    ~ProxyFixture() {
        proxy.reset();
        _multiplexer->Release();
        target->Release();
    }

    // As the multiplexer's Initialize ends: hook setters are plain forwards from then on.
    bool Initialize() {
        const bool initialized = proxy->Initialize(_runtime);
        proxy->EndInitialization(!initialized);
        return initialized;
    }
    ICorProfilerInfo10* Info() { return proxy.get(); }

    std::shared_ptr<TargetProfilerProxy> proxy;

private:
    ICorProfilerInfo10* _runtime;
    ProfilerMultiplexer* _multiplexer;

public:
    RecordingTarget* target;
};

// (the version the runtime answered the multiplexer, the version the target asks for)
class VersionGateTest : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(VersionGateTest, GrantsNoVersionNewerThanTheRuntimes) {
    const auto [proxyVersion, askedVersion] = GetParam();
    FakeRuntimeInfo runtime(10);
    ProxyFixture fixture(&runtime, proxyVersion);
    ASSERT_TRUE(fixture.Initialize());
    const ULONG before = runtime.RefCount();
    void* out = nullptr;
    EXPECT_EQ(fixture.proxy->QueryInterface(InfoIid(askedVersion), &out), S_OK);
    // A refused version goes to the runtime, which grants its own object.
    void* expected = askedVersion <= proxyVersion ? static_cast<ICorProfilerInfo10*>(fixture.proxy.get())
                                                  : static_cast<ICorProfilerInfo10*>(&runtime);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(runtime.RefCount(), before + 1);
}

INSTANTIATE_TEST_SUITE_P(AllVersions, VersionGateTest,
                         testing::Combine(testing::Range(1, 11), testing::Range(1, 11)),
                         [](const testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return "Runtime" + std::to_string(std::get<0>(info.param)) + "Asked" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(ProxyQueryInterface, NewerVersionIsLoggedAndLeftToTheRuntime) {
    FakeRuntimeInfo runtime(8);
    ProxyFixture fixture(&runtime, 8);
    fixture.Initialize();
    LogCapture capture("warn");
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(fixture.proxy->QueryInterface(IID_ICorProfilerInfo10, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(capture.Messages(),
              std::vector<std::string>{
                  "TargetProfilerProxy::QueryInterface, asked for: ICorProfilerInfo10, but the "
                  "hosting clr doesn't support it"});
}

// A runtime that answers every info version past the tenth too, with itself.
class NewerRuntimeInfo : public FakeRuntimeInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        for (const IID* newer : {&IID_ICorProfilerInfo11, &IID_ICorProfilerInfo12, &IID_ICorProfilerInfo13,
                                 &IID_ICorProfilerInfo14, &IID_ICorProfilerInfo15}) {
            if (riid == *newer) {
                *ppv = static_cast<ICorProfilerInfo10*>(this);
                AddRef();
                return S_OK;
            }
        }
        return FakeRuntimeInfo::QueryInterface(riid, ppv);
    }
};

TEST(ProxyQueryInterface, RuntimeGrantingANewerVersionIsWarnedOf) {
    LogCapture capture("warn");
    NewerRuntimeInfo newer;
    ProxyFixture granted(&newer);
    granted.Initialize();
    void* out = nullptr;
    EXPECT_EQ(granted.proxy->QueryInterface(IID_ICorProfilerInfo11, &out), S_OK);
    EXPECT_EQ(out, static_cast<ICorProfilerInfo10*>(&newer));
    EXPECT_EQ(granted.proxy->QueryInterface(IID_ICorProfilerInfo15, &out), S_OK);
    // Refused: nothing to warn of.
    FakeRuntimeInfo older;
    ProxyFixture refused(&older);
    refused.Initialize();
    EXPECT_EQ(refused.proxy->QueryInterface(IID_ICorProfilerInfo11, &out), E_NOINTERFACE);
    const std::string bypass = ": event masks and IL set through that object bypass the multiplexer";
    EXPECT_EQ(
        capture.Messages(),
        (std::vector<std::string>{
            "TargetProfilerProxy::QueryInterface, the runtime granted Target its own ICorProfilerInfo11" +
                bypass,
            "TargetProfilerProxy::QueryInterface, the runtime granted Target its own ICorProfilerInfo15" +
                bypass}));
}

// As the runtime's allocator, the IL-body allocator is an object of its own.
TEST(ProxyQueryInterface, AllocatorAnswersIMethodMallocAndIUnknownWithItself) {
    ILFakeRuntime runtime;
    ProxyFixture fixture(&runtime);
    fixture.Initialize();
    IMethodMalloc* malloc = nullptr;
    ASSERT_EQ(fixture.Info()->GetILFunctionBodyAllocator(1, &malloc), S_OK);
    const ULONG held = runtime.RefCount();
    void* out = nullptr;
    EXPECT_EQ(malloc->QueryInterface(IID_IMethodMalloc, &out), S_OK);
    EXPECT_EQ(out, malloc);
    EXPECT_EQ(malloc->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, malloc);
    EXPECT_EQ(runtime.RefCount(), held + 2);
    EXPECT_EQ(malloc->QueryInterface(IID_ICorProfilerInfo, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(malloc->QueryInterface(IID_IMethodMalloc, nullptr), E_POINTER);
    for (int reference = 0; reference < 3; ++reference) {
        malloc->Release();
    }
    EXPECT_EQ(runtime.RefCount(), held - 1);
}

TEST(ProxyQueryInterface, OtherIdsGoToTheRuntimeWithoutWarning) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    fixture.Initialize();
    LogCapture capture("warn");
    void* out = nullptr;
    EXPECT_EQ(fixture.proxy->QueryInterface(IID_IMethodMalloc, &out), E_NOINTERFACE);
    EXPECT_EQ(fixture.proxy->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_TRUE(capture.Messages().empty());
}

TEST(ProxyQueryInterface, NullOutPointersAreRefused) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    fixture.Initialize();
    const ULONG before = runtime.RefCount();
    DWORD low = 0;
    EXPECT_EQ(fixture.proxy->QueryInterface(IID_ICorProfilerInfo10, nullptr), E_POINTER);
    EXPECT_EQ(fixture.proxy->QueryInterface(IID_IMethodMalloc, nullptr), E_POINTER);
    EXPECT_EQ(fixture.Info()->GetEventMask(nullptr), E_POINTER);
    EXPECT_EQ(fixture.Info()->GetEventMask2(nullptr, &low), E_POINTER);
    EXPECT_EQ(fixture.Info()->GetEventMask2(&low, nullptr), E_POINTER);
    EXPECT_EQ(runtime.RefCount(), before);
}

TEST(ProxyReferences, CountOnTheRuntimeAndNeverDestroyTheProxy) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    fixture.Initialize();
    const ULONG held = runtime.RefCount();
    EXPECT_EQ(fixture.Info()->AddRef(), held + 1);
    EXPECT_EQ(fixture.Info()->Release(), held);
    EXPECT_STREQ(fixture.proxy->GetName(), "Target");
}

TEST(ProxyLifetime, DestructorReleasesTheRuntimeReferenceOfInitialize) {
    FakeRuntimeInfo runtime;
    {
        ProxyFixture fixture(&runtime);
        fixture.Initialize();
        EXPECT_EQ(runtime.RefCount(), 1u);
    }
    EXPECT_EQ(runtime.RefCount(), 0u);
}

TEST(ProxyMasks, CacheTheTargetsOwnMask) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    fixture.Initialize();
    ICorProfilerInfo10* info = fixture.Info();
    DWORD low = 1;
    DWORD high = 1;
    EXPECT_EQ(info->GetEventMask2(&low, &high), S_OK);
    EXPECT_EQ(std::make_pair(low, high), std::make_pair(DWORD{0}, DWORD{0}));

    EXPECT_EQ(info->SetEventMask2(0xA0, 0xB), S_OK);
    info->GetEventMask2(&low, &high);
    EXPECT_EQ(std::make_pair(low, high), std::make_pair(DWORD{0xA0}, DWORD{0xB}));
    EXPECT_EQ(info->GetEventMask(&low), S_OK);
    EXPECT_EQ(low, 0xA0u);

    EXPECT_EQ(info->SetEventMask(0x4), S_OK);
    fixture.proxy->GetCashedEventMask(low, high);
    EXPECT_EQ(std::make_pair(low, high), std::make_pair(DWORD{0x4}, DWORD{0}));
    // The runtime never sees one target's mask.
    EXPECT_TRUE(runtime.EventMasks2().empty());
    EXPECT_TRUE(runtime.EventMasks().empty());
}

struct MaskCallbacksCase {
    const char* name;
    int newestInterface;
    DWORD high;
    HRESULT expected;
};

void PrintTo(const MaskCallbacksCase& row, std::ostream* os) {
    *os << row.name;
}

class ProxyMaskCallbacks : public testing::TestWithParam<MaskCallbacksCase> {};

// As the runtime does, a mask is refused, and not kept, when it asks for callbacks the target's callback
// interface does not have.
TEST_P(ProxyMaskCallbacks, HighFlagsNeedTheirCallbackInterface) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    fixture.target->newestInterface = GetParam().newestInterface;
    fixture.Initialize();
    EXPECT_EQ(fixture.Info()->SetEventMask2(COR_PRF_MONITOR_THREADS, GetParam().high), GetParam().expected);
    DWORD low = 1;
    DWORD high = 1;
    fixture.proxy->GetCashedEventMask(low, high);
    const bool kept = GetParam().expected == S_OK;
    EXPECT_EQ(std::make_pair(low, high), kept
                                             ? std::make_pair(DWORD{COR_PRF_MONITOR_THREADS}, GetParam().high)
                                             : std::make_pair(0u, 0u));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProxyMaskCallbacks,
    testing::Values(
        MaskCallbacksCase{"AssemblyReferencesWithCallback5", 5, COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES,
                          CORPROF_E_CALLBACK6_REQUIRED},
        MaskCallbacksCase{"AssemblyReferencesWithCallback6", 6, COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES, S_OK},
        MaskCallbacksCase{"InMemorySymbolsWithCallback6", 6, COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED,
                          CORPROF_E_CALLBACK7_REQUIRED},
        MaskCallbacksCase{"BothWithCallback5", 5,
                          COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES | COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED,
                          CORPROF_E_CALLBACK6_REQUIRED},
        MaskCallbacksCase{"InMemorySymbolsWithCallback7", 7, COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED, S_OK},
        MaskCallbacksCase{"OtherHighFlagsWithCallback2", 2,
                          COR_PRF_HIGH_MONITOR_DYNAMIC_FUNCTION_UNLOADS | COR_PRF_HIGH_BASIC_GC, S_OK}),
    [](const testing::TestParamInfo<MaskCallbacksCase>& info) { return std::string(info.param.name); });

TEST(ProxyAccessors, ReportTheSettings) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime, 10, 2.5, true);
    EXPECT_STREQ(fixture.proxy->GetName(), "Target");
    EXPECT_EQ(fixture.proxy->GetPriority(), 2.5);
    EXPECT_TRUE(fixture.proxy->ShouldRevertRejitCallOrder());
    EXPECT_EQ(fixture.proxy->GetTargetProfiler(), fixture.target);
}

struct OrderCase {
    double first;
    double second;
    bool firstLess;
    bool secondLess;
};

void PrintTo(const OrderCase& row, std::ostream* os) {
    *os << row.first << " vs " << row.second;
}

class ProxyOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(ProxyOrder, ComparesPriorities) {
    FakeRuntimeInfo runtime;
    ProxyFixture first(&runtime, 10, GetParam().first);
    ProxyFixture second(&runtime, 10, GetParam().second);
    EXPECT_EQ(*first.proxy < *second.proxy, GetParam().firstLess);
    EXPECT_EQ(*second.proxy < *first.proxy, GetParam().secondLess);
}

INSTANTIATE_TEST_SUITE_P(Priorities, ProxyOrder,
                         testing::Values(OrderCase{1.0, 2.0, true, false}, OrderCase{2.0, 2.0, false, false},
                                         OrderCase{-1.0, 0.5, true, false},
                                         OrderCase{std::nan(""), 1.0, false, false}));

TEST(ProxyVersionLookup, FindsTableRowsAndWarnsOtherwise) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    LogCapture capture("warn");
    EXPECT_EQ(fixture.proxy->GetCorProfilerInfoInterfaceIndex(IID_ICorProfilerInfo), 9);
    EXPECT_EQ(fixture.proxy->GetCorProfilerInfoInterfaceIndex(IID_ICorProfilerInfo10), 0);
    EXPECT_EQ(fixture.proxy->GetCorProfilerInfoInterfaceIndex(IID_IUnknown), -1);
    EXPECT_EQ(capture.Messages(),
              std::vector<std::string>{"TargetProfilerProxy::GetCorProfilerInfoInterfaceIndex, "
                                       "can't find CorProfilerInfo interface"});
}

struct InitializeCase {
    const char* name;
    HRESULT targetResult;
    bool targetThrows;
    bool expected;
};

void PrintTo(const InitializeCase& row, std::ostream* os) {
    *os << row.name;
}

class ProxyInitialize : public testing::TestWithParam<InitializeCase> {};

TEST_P(ProxyInitialize, SucceedsWhenTheTargetDoes) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    fixture.target->initializeResult = GetParam().targetResult;
    fixture.target->throwOnInitialize = GetParam().targetThrows;
    EXPECT_EQ(fixture.Initialize(), GetParam().expected);
    EXPECT_EQ(fixture.target->Info(), static_cast<IUnknown*>(fixture.Info()));
}

INSTANTIATE_TEST_SUITE_P(Results, ProxyInitialize,
                         testing::Values(InitializeCase{"Ok", S_OK, false, true},
                                         InitializeCase{"SFalse", S_FALSE, false, true},
                                         InitializeCase{"Fail", E_FAIL, false, false},
                                         InitializeCase{"Throws", S_OK, true, false}),
                         [](const testing::TestParamInfo<InitializeCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ProxyInitialize, UnknownInfoVersionNeverReachesTheTarget) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime, 10, 1.0, false, &IID_IUnknown);
    LogCapture capture("err");
    EXPECT_FALSE(fixture.Initialize());
    EXPECT_TRUE(fixture.target->Calls().empty());
    EXPECT_EQ(runtime.RefCount(), 0u);
    EXPECT_EQ(capture.Messages(),
              std::vector<std::string>{"TargetProfilerProxy::Initialize, An unknown "
                                       "ICorProfilerInfo interface version was provided"});
}

struct CallbackLimitCase {
    int newestInterface;
    FunctionName last;
};

void PrintTo(const CallbackLimitCase& row, std::ostream* os) {
    *os << "ICorProfilerCallback" << row.newestInterface << " up to callback " << static_cast<int>(row.last);
}

class ProxyCallbackLimit : public testing::TestWithParam<CallbackLimitCase> {};

TEST_P(ProxyCallbackLimit, SupportsCallbacksUpToTheNewestInterface) {
    FakeRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    fixture.target->newestInterface = GetParam().newestInterface;
    fixture.Initialize();
    const ITargetProfilerProxy& proxy = *fixture.proxy;
    EXPECT_TRUE(proxy.SupportsCallback(FunctionName::Initialize));
    EXPECT_TRUE(proxy.SupportsCallback(GetParam().last));
    if (GetParam().last != FunctionName::DynamicMethodUnloaded) {
        EXPECT_FALSE(
            proxy.SupportsCallback(static_cast<FunctionName>(static_cast<int>(GetParam().last) + 1)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, ProxyCallbackLimit,
    testing::Values(CallbackLimitCase{1, FunctionName::HandleDestroyed},
                    CallbackLimitCase{2, FunctionName::HandleDestroyed},
                    CallbackLimitCase{3, FunctionName::ProfilerDetachSucceeded},
                    CallbackLimitCase{4, FunctionName::SurvivingReferences2},
                    CallbackLimitCase{5, FunctionName::ConditionalWeakTableElementReferences},
                    CallbackLimitCase{6, FunctionName::GetAssemblyReferences},
                    CallbackLimitCase{7, FunctionName::ModuleInMemorySymbolsUpdated},
                    CallbackLimitCase{8, FunctionName::DynamicMethodJITCompilationFinished},
                    CallbackLimitCase{9, FunctionName::DynamicMethodUnloaded}),
    [](const testing::TestParamInfo<CallbackLimitCase>& info) {
        return "Callback" + std::to_string(info.param.newestInterface);
    });

// A runtime that records every forwarded call (the hook setters' too) and answers each method with its own
// code.
class RecordingRuntimeInfo : public NullCorProfilerInfo {
public:
    static HRESULT CodeOf(const char* name) {
        return static_cast<HRESULT>(std::hash<std::string>{}(name)&0x7FFFFFF) | 0x100;
    }
    std::vector<RecordedCall> calls;

#define PM_RECORD_INFO(kind, name, params, args) PM_RECORD_INFO_##kind(name, params, args)
#define PM_RECORD_INFO_OWN(name, params, args)
#define PM_RECORD_INFO_FORWARD(name, params, args)                                                           \
    HRESULT name params override {                                                                           \
        calls.push_back({#name, ArgsBits args});                                                             \
        return CodeOf(#name);                                                                                \
    }
#define PM_RECORD_INFO_HOOKS PM_RECORD_INFO_FORWARD
    PM_ALL_CORPROFILERINFO_METHODS(PM_RECORD_INFO)
#undef PM_RECORD_INFO_HOOKS
#undef PM_RECORD_INFO_FORWARD
#undef PM_RECORD_INFO_OWN
#undef PM_RECORD_INFO
};

struct ForwardEntry {
    const char* name;
    std::pair<HRESULT, std::vector<uint64_t>> (*call)(ICorProfilerInfo10* info, uint64_t seed);
};

void PrintTo(const ForwardEntry& row, std::ostream* os) {
    *os << row.name;
}

#define PM_FORWARD_ENTRY(kind, name, params, args) PM_FORWARD_ENTRY_##kind(name)
#define PM_FORWARD_ENTRY_OWN(name)
#define PM_FORWARD_ENTRY_FORWARD(name)                                                                       \
    ForwardEntry{#name, [](ICorProfilerInfo10* info, uint64_t seed) {                                        \
                     return CallWithDistinctArgs(info, &ICorProfilerInfo10::name, seed);                     \
                 }},
#define PM_FORWARD_ENTRY_HOOKS PM_FORWARD_ENTRY_FORWARD
const ForwardEntry ForwardEntries[] = {PM_ALL_CORPROFILERINFO_METHODS(PM_FORWARD_ENTRY)};
#undef PM_FORWARD_ENTRY_HOOKS
#undef PM_FORWARD_ENTRY_FORWARD
#undef PM_FORWARD_ENTRY_OWN
#undef PM_FORWARD_ENTRY

TEST(ProxyForwards, ThereAre82) {
    EXPECT_EQ(std::size(ForwardEntries), 82u);
}

class ProxyForward : public testing::TestWithParam<ForwardEntry> {};

TEST_P(ProxyForward, ReachesTheSameRuntimeMethodWithTheSameArguments) {
    RecordingRuntimeInfo runtime;
    ProxyFixture fixture(&runtime);
    ASSERT_TRUE(fixture.Initialize());
    const auto [hr, args] = GetParam().call(fixture.Info(), 5);
    EXPECT_EQ(hr, RecordingRuntimeInfo::CodeOf(GetParam().name));
    EXPECT_EQ(runtime.calls, (std::vector<RecordedCall>{{GetParam().name, args}}));
}

INSTANTIATE_TEST_SUITE_P(AllForwards, ProxyForward, testing::ValuesIn(ForwardEntries),
                         [](const testing::TestParamInfo<ForwardEntry>& info) {
                             return std::string(info.param.name);
                         });

// The runtime detaches its one profiler with every target: only the last target served may ask it.
std::vector<std::string> DetachWarnings(const LogCapture& capture) {
    std::vector<std::string> warnings;
    for (const std::string& message : capture.Messages()) {
        if (message.rfind("TargetProfilerProxy::RequestProfilerDetach", 0) == 0) {
            warnings.push_back(message);
        }
    }
    return warnings;
}

std::string DetachRefused(const std::string& name) {
    return "TargetProfilerProxy::RequestProfilerDetach, " + name +
           " asked to be detached, but a target cannot be detached alone while other targets are served: "
           "refused with 0x80004005";
}

TEST(ProxyDetach, IsRefusedWhileAnotherTargetIsServed) {
    LogCapture capture("warn");
    MultiplexerHarness harness;
    RecordingTarget& first = harness.AddTarget("First");
    harness.AddTarget("Second");
    RecordingTarget& declined = harness.AddTarget("Declined");
    declined.initializeResult = E_FAIL;
    ASSERT_EQ(harness.BuildAndInitialize(), S_OK);
    EXPECT_EQ(static_cast<ICorProfilerInfo10*>(first.Info())->RequestProfilerDetach(5000), E_FAIL);
    EXPECT_EQ(static_cast<ICorProfilerInfo10*>(declined.Info())->RequestProfilerDetach(5000), E_FAIL);
    EXPECT_TRUE(harness.runtime.DetachRequests().empty());
    EXPECT_EQ(DetachWarnings(capture),
              (std::vector<std::string>{DetachRefused("First"), DetachRefused("Declined")}));
}

TEST(ProxyDetach, ReachesTheRuntimeFromTheOnlyTargetServed) {
    LogCapture capture("warn");
    MultiplexerHarness harness;
    harness.AddTarget("Declined").initializeResult = E_FAIL;
    RecordingTarget& served = harness.AddTarget("Served");
    harness.runtime.detachResult = static_cast<HRESULT>(0x80131368);
    ASSERT_EQ(harness.BuildAndInitialize(), S_OK);
    EXPECT_EQ(static_cast<ICorProfilerInfo10*>(served.Info())->RequestProfilerDetach(5000),
              static_cast<HRESULT>(0x80131368));
    EXPECT_EQ(harness.runtime.DetachRequests(), std::vector<DWORD>{5000});
    EXPECT_TRUE(DetachWarnings(capture).empty());
}

} // namespace
} // namespace profilermultiplexer::tests
