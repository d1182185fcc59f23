#include "hosting/ProfilerCallbackFunctionFilter.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

using FunctionName = ProfilerCallbackFunctionFilter::FunctionName;
constexpr uint64_t Always = ProfilerCallbackFunctionFilter::Always;

struct FilterRow {
    int value;
    FunctionName function;
    const char* name;
    uint64_t mask;
};

void PrintTo(const FilterRow& row, std::ostream* os) {
    *os << row.name;
}

std::string RowName(const testing::TestParamInfo<FilterRow>& info) {
    return info.param.name;
}

class FilterTableTest : public testing::TestWithParam<FilterRow> {};

TEST_P(FilterTableTest, RowHoldsItsValueNameAndMask) {
    const FilterRow& row = GetParam();
    const ProfilerCallbackFunctionFilter filter;
    EXPECT_EQ(static_cast<int>(row.function), row.value);
    EXPECT_STREQ(filter.GetCallbackName(row.function), row.name);
    EXPECT_EQ(filter.GetRequiredMask(row.function), row.mask);
}

#define ROW(value, name, mask)                                                                               \
    FilterRow {                                                                                              \
        value, FunctionName::name, #name, mask                                                               \
    }

INSTANTIATE_TEST_SUITE_P(
    AllCallbacks, FilterTableTest,
    testing::Values(
        ROW(0, None, 0x0), ROW(1, Initialize, Always), ROW(2, Shutdown, Always),
        ROW(3, AppDomainCreationStarted, 0x10), ROW(4, AppDomainCreationFinished, 0x10),
        ROW(5, AppDomainShutdownStarted, 0x10), ROW(6, AppDomainShutdownFinished, 0x10),
        ROW(7, AssemblyLoadStarted, 0x8), ROW(8, AssemblyLoadFinished, 0x8),
        ROW(9, AssemblyUnloadStarted, 0x8), ROW(10, AssemblyUnloadFinished, 0x8),
        ROW(11, ModuleLoadStarted, 0x4), ROW(12, ModuleLoadFinished, 0x4), ROW(13, ModuleUnloadStarted, 0x4),
        ROW(14, ModuleUnloadFinished, 0x4), ROW(15, ModuleAttachedToAssembly, 0x4),
        ROW(16, ClassLoadStarted, 0x2), ROW(17, ClassLoadFinished, 0x2), ROW(18, ClassUnloadStarted, 0x2),
        ROW(19, ClassUnloadFinished, 0x2), ROW(20, FunctionUnloadStarted, 0x1),
        ROW(21, JITCompilationStarted, 0x20), ROW(22, JITCompilationFinished, 0x20),
        ROW(23, JITCachedFunctionSearchStarted, 0x20000), ROW(24, JITCachedFunctionSearchFinished, 0x20000),
        ROW(25, JITFunctionPitched, 0x20), ROW(26, JITInlining, 0x20), ROW(27, ThreadCreated, 0x200),
        ROW(28, ThreadDestroyed, 0x200), ROW(29, ThreadAssignedToOSThread, 0x200),
        ROW(30, RemotingClientInvocationStarted, 0x400), ROW(31, RemotingClientSendingMessage, 0x400),
        ROW(32, RemotingClientReceivingReply, 0x400), ROW(33, RemotingClientInvocationFinished, 0x400),
        ROW(34, RemotingServerReceivingMessage, 0x400), ROW(35, RemotingServerInvocationStarted, 0x400),
        ROW(36, RemotingServerInvocationReturned, 0x400), ROW(37, RemotingServerSendingReply, 0x400),
        ROW(38, UnmanagedToManagedTransition, 0x800), ROW(39, ManagedToUnmanagedTransition, 0x800),
        ROW(40, RuntimeSuspendStarted, 0x10000), ROW(41, RuntimeSuspendFinished, 0x10000),
        ROW(42, RuntimeSuspendAborted, 0x10000), ROW(43, RuntimeResumeStarted, 0x10000),
        ROW(44, RuntimeResumeFinished, 0x10000), ROW(45, RuntimeThreadSuspended, 0x10000),
        ROW(46, RuntimeThreadResumed, 0x10000), ROW(47, MovedReferences, 0x80),
        ROW(48, ObjectAllocated, 0x14000000100), ROW(49, ObjectsAllocatedByClass, 0x80),
        ROW(50, ObjectReferences, 0x80), ROW(51, RootReferences, 0x80), ROW(52, ExceptionThrown, 0x40),
        ROW(53, ExceptionSearchFunctionEnter, 0x40), ROW(54, ExceptionSearchFunctionLeave, 0x40),
        ROW(55, ExceptionSearchFilterEnter, 0x40), ROW(56, ExceptionSearchFilterLeave, 0x40),
        ROW(57, ExceptionSearchCatcherFound, 0x40), ROW(58, ExceptionOSHandlerEnter, 0x40),
        ROW(59, ExceptionOSHandlerLeave, 0x40), ROW(60, ExceptionUnwindFunctionEnter, 0x40),
        ROW(61, ExceptionUnwindFunctionLeave, 0x40), ROW(62, ExceptionUnwindFinallyEnter, 0x40),
        ROW(63, ExceptionUnwindFinallyLeave, 0x40), ROW(64, ExceptionCatcherEnter, 0x40),
        ROW(65, ExceptionCatcherLeave, 0x40), ROW(66, COMClassicVTableCreated, 0x2000),
        ROW(67, COMClassicVTableDestroyed, 0x2000), ROW(68, ExceptionCLRCatcherFound, 0x1000000),
        ROW(69, ExceptionCLRCatcherExecute, 0x1000000), ROW(70, ThreadNameChanged, 0x200),
        ROW(71, GarbageCollectionStarted, 0x1000000080), ROW(72, SurvivingReferences, 0x80),
        ROW(73, GarbageCollectionFinished, 0x1000000080), ROW(74, FinalizeableObjectQueued, 0x80),
        ROW(75, RootReferences2, 0x80), ROW(76, HandleCreated, 0x80), ROW(77, HandleDestroyed, 0x80),
        ROW(78, InitializeForAttach, Always), ROW(79, ProfilerAttachComplete, Always),
        ROW(80, ProfilerDetachSucceeded, Always), ROW(81, ReJITCompilationStarted, 0x40000),
        ROW(82, GetReJITParameters, 0x40000), ROW(83, ReJITCompilationFinished, 0x40000),
        ROW(84, ReJITError, 0x40000), ROW(85, MovedReferences2, 0x2000000000),
        ROW(86, SurvivingReferences2, 0x2000000000), ROW(87, ConditionalWeakTableElementReferences, Always),
        ROW(88, GetAssemblyReferences, 0x100000000), ROW(89, ModuleInMemorySymbolsUpdated, 0x200000000),
        ROW(90, DynamicMethodJITCompilationStarted, 0x400000020),
        ROW(91, DynamicMethodJITCompilationFinished, 0x400000020),
        ROW(92, DynamicMethodUnloaded, 0x400000000)),
    RowName);

#undef ROW

TEST(FilterTable, HasOneRowPerCallbackAndNone) {
    EXPECT_EQ(ProfilerCallbackFunctionFilter::FunctionCount, 93u);
}

struct FilterCase {
    const char* name;
    FunctionName function;
    DWORD low;
    DWORD high;
    bool passes;
};

void PrintTo(const FilterCase& row, std::ostream* os) {
    *os << row.name;
}

class FilterTestCases : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterTestCases, PassesWhenTheMaskSharesABitWithTheRow) {
    const FilterCase& c = GetParam();
    EXPECT_EQ(ProfilerCallbackFunctionFilter().IsCallbackEnabled(c.function, c.low, c.high), c.passes);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, FilterTestCases,
    testing::Values(
        FilterCase{"NoneNeverPasses", FunctionName::None, 0xFFFFFFFF, 0xFFFFFFFF, false},
        FilterCase{"ShutdownPassesMaskZero", FunctionName::Shutdown, 0, 0, true},
        FilterCase{"WeakTablePassesMaskZero", FunctionName::ConditionalWeakTableElementReferences, 0, 0,
                   true},
        FilterCase{"ModuleLoadNeedsItsBit", FunctionName::ModuleLoadStarted, 0x8, 0, false},
        FilterCase{"ModuleLoadWithItsBit", FunctionName::ModuleLoadStarted, 0xC, 0, true},
        FilterCase{"GcStartedByLowWord", FunctionName::GarbageCollectionStarted, 0x80, 0, true},
        FilterCase{"GcStartedByHighWord", FunctionName::GarbageCollectionFinished, 0, 0x10, true},
        FilterCase{"MovedReferencesNotByHighGc", FunctionName::MovedReferences, 0, 0x20, false},
        FilterCase{"MovedReferences2ByHighWord", FunctionName::MovedReferences2, 0, 0x20, true},
        FilterCase{"MovedReferences2NotByLowGc", FunctionName::MovedReferences2, 0x80, 0, false},
        FilterCase{"ObjectAllocatedByLowWord", FunctionName::ObjectAllocated, 0x100, 0, true},
        FilterCase{"ObjectAllocatedByLargeObjects", FunctionName::ObjectAllocated, 0x800000, 0x40, true},
        FilterCase{"ObjectAllocatedByPinnedObjects", FunctionName::ObjectAllocated, 0x800000, 0x100, true},
        FilterCase{"ObjectAllocatedNotByEnableAlone", FunctionName::ObjectAllocated, 0x800000, 0, false},
        FilterCase{"RejitByEnableRejit", FunctionName::GetReJITParameters, 0x40000, 0, true},
        FilterCase{"CacheSearchNotByJit", FunctionName::JITCachedFunctionSearchStarted, 0x20, 0, false},
        FilterCase{"DynamicJitStartedByJitBit", FunctionName::DynamicMethodJITCompilationStarted, 0x20, 0,
                   true},
        FilterCase{"DynamicJitStartedByHighBit", FunctionName::DynamicMethodJITCompilationStarted, 0, 0x4,
                   true},
        FilterCase{"DynamicJitFinishedByJitBit", FunctionName::DynamicMethodJITCompilationFinished, 0x20, 0,
                   true},
        FilterCase{"DynamicJitFinishedByHighBit", FunctionName::DynamicMethodJITCompilationFinished, 0, 0x4,
                   true},
        FilterCase{"DynamicJitNotByOtherBits", FunctionName::DynamicMethodJITCompilationStarted, 0x10, 0x1,
                   false},
        FilterCase{"DynamicUnloadedNotByJitBit", FunctionName::DynamicMethodUnloaded, 0x20, 0, false},
        FilterCase{"DynamicUnloadedByHighBit", FunctionName::DynamicMethodUnloaded, 0, 0x4, true}),
    [](const testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

std::vector<std::string> TraceListing(const char* level, DWORD low, DWORD high) {
    LogCapture capture(level);
    ProfilerCallbackFunctionFilter().LogNonMaskedCallbackFunctions("target", low, high);
    return capture.Messages();
}

TEST(FilterListing, MaskZeroListsTheSixAlwaysDeliveredCallbacks) {
    EXPECT_EQ(TraceListing("trace", 0, 0),
              (std::vector<std::string>{"Callback functions for target, mask: 0", "Initialize", "Shutdown",
                                        "InitializeForAttach", "ProfilerAttachComplete",
                                        "ProfilerDetachSucceeded", "ConditionalWeakTableElementReferences"}));
}

TEST(FilterListing, HeaderShowsTheCombinedMaskInHexadecimal) {
    const auto lines = TraceListing("trace", 0, 0x10);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Callback functions for target, mask: 1000000000");
    EXPECT_EQ(lines.size(), 9u); // the six, GarbageCollectionStarted and GarbageCollectionFinished
}

TEST(FilterListing, WritesNothingAboveTrace) {
    EXPECT_TRUE(TraceListing("debug", 0xFFFFFFFF, 0xFFFFFFFF).empty());
}

} // namespace
} // namespace profilermultiplexer::tests
