#include "ILHarness.h"
#include "LogCapture.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

std::string Address(const void* address) {
    return fmt::format("{:p}", address);
}

int Count(const std::vector<std::string>& messages, const std::string& text) {
    return static_cast<int>(std::count(messages.begin(), messages.end(), text));
}

// Messages that start with prefix, in order.
std::vector<std::string> StartingWith(const std::vector<std::string>& messages, const std::string& prefix) {
    std::vector<std::string> found;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                 [&](const std::string& message) { return message.rfind(prefix, 0) == 0; });
    return found;
}

class ILAllocatorTest : public testing::Test {
protected:
    ILAllocatorTest() { harness.Build(); }

    ProfilerMultiplexer& Allocator() { return harness.Multiplexer(); }
    const BYTE* Alloc(ULONG size) { return static_cast<const BYTE*>(Allocator().Alloc(size)); }

    LogCapture capture{"trace"};
    ILHarness harness;
};

TEST_F(ILAllocatorTest, RecordsEachPieceAndKeepsTheTotal) {
    const BYTE* first = Alloc(100);
    const BYTE* second = Alloc(28);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Allocator().GetAllocationSize(first), 100u);
    EXPECT_EQ(Allocator().GetAllocationSize(second), 28u);

    Allocator().FreeAllocation(first);
    EXPECT_EQ(Allocator().GetAllocationSize(first), 0u);
    const auto messages = capture.Messages();
    EXPECT_EQ(Count(messages, "Alloc with size: 28 in address " + Address(second) +
                                  "  Total allocated memory: 128 bytes"),
              1);
    EXPECT_EQ(Count(messages,
                    "FreeAllocation for address " + Address(first) + "  Remained allocated memory: 28 bytes"),
              1);
}

TEST_F(ILAllocatorTest, EmptyPieceIsDistinctAndRecordedWithSizeZero) {
    const BYTE* empty = Alloc(0);
    const BYTE* other = Alloc(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(empty, other);
    EXPECT_EQ(Allocator().GetAllocationSize(empty), 0u);
    EXPECT_EQ(Count(capture.Messages(), "Can't find allocation size for: " + Address(empty)), 0);
    // Read as an IL header, an empty piece is no method at all.
    EXPECT_EQ(TargetProfilerProxy::DetermineSizeFromIL(empty), 0u);
}

TEST_F(ILAllocatorTest, UnknownAddressHasSizeZeroAndIsReleasedOnlyOnce) {
    const BYTE local[4] = {};
    EXPECT_EQ(Allocator().GetAllocationSize(local), 0u);
    EXPECT_EQ(Count(capture.Messages(), "Can't find allocation size for: " + Address(local)), 1);

    // Set for methods of two modules: kept for the first, and released once.
    const BYTE* piece = Alloc(16);
    Allocator().AddPendingDeallocation(1, piece);
    Allocator().AddPendingDeallocation(2, piece);
    Allocator().FreePendingDeallocation(1);
    Allocator().FreePendingDeallocation(2);
    const auto messages = capture.Messages();
    EXPECT_EQ(StartingWith(messages, "FreeAllocation for address " + Address(piece)).size(), 1u);
    Allocator().FreeAllocation(piece);
    EXPECT_EQ(Count(capture.Messages(),
                    "ProfilerMultiplexer::FreeAllocation: Can't find allocation for: " + Address(piece)),
              1);
}

TEST_F(ILAllocatorTest, QueueIsReleasedLastFirst) {
    const BYTE* first = Alloc(10);
    const BYTE* second = Alloc(20);
    Allocator().AddPendingDeallocation(1, first);
    Allocator().AddPendingDeallocation(1, second);
    Allocator().FreePendingDeallocation(1);
    EXPECT_EQ(StartingWith(capture.Messages(), "FreeAllocation for address "),
              (std::vector<std::string>{
                  "FreeAllocation for address " + Address(second) + "  Remained allocated memory: 10 bytes",
                  "FreeAllocation for address " + Address(first) + "  Remained allocated memory: 0 bytes"}));
}

TEST(ILAllocator, ProxyHandsOutOneAllocatorForEveryModule) {
    ILHarness harness;
    ILTarget& target = harness.AddTarget("Target");
    harness.BuildAndInitialize();
    const ULONG references = harness.runtime.RefCount();
    IMethodMalloc* first = nullptr;
    IMethodMalloc* second = nullptr;
    ASSERT_EQ(target.Info().GetILFunctionBodyAllocator(1, &first), S_OK);
    ASSERT_EQ(target.Info().GetILFunctionBodyAllocator(2, &second), S_OK);
    EXPECT_EQ(first, second);
    EXPECT_EQ(harness.runtime.RefCount(), references + 2);

    const auto* memory = static_cast<const BYTE*>(first->Alloc(40));
    EXPECT_EQ(harness.Multiplexer().GetAllocationSize(memory), 40u);
    first->Release();
    second->Release();
    EXPECT_EQ(target.Info().GetILFunctionBodyAllocator(1, nullptr), E_INVALIDARG);
}

// Left for the multiplexer to release: a leak checker reports these if it does not.
TEST(ILAllocator, MemoryStillRecordedGoesWithTheMultiplexer) {
    ILHarness harness;
    ProfilerMultiplexer& multiplexer = harness.Build();
    multiplexer.Alloc(64);
    multiplexer.AddPendingDeallocation(1, static_cast<const BYTE*>(multiplexer.Alloc(32)));
}

} // namespace
} // namespace profilermultiplexer::tests
