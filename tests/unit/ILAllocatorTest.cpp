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

class ILAllocatorTest : public testing::Test {
protected:
    ILAllocatorTest() {
        harness.AddTarget("Target");
        harness.BuildAndInitialize();
        EXPECT_EQ(Allocator().PrepareILBodyAllocator(&harness.runtime, 1), S_OK);
    }

    ProfilerMultiplexer& Allocator() { return harness.Multiplexer(); }
    const BYTE* Alloc(ULONG size) { return static_cast<const BYTE*>(Allocator().Alloc(size)); }

    LogCapture capture{"trace"};
    ILHarness harness;
};

TEST_F(ILAllocatorTest, PiecesAreTheRuntimesAndRecordedUntilTaken) {
    const BYTE* first = Alloc(100);
    const BYTE* second = Alloc(28);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(harness.runtime.methodMalloc.SizeOf(first), 100u);
    EXPECT_EQ(Allocator().TakeAllocationSize(first), 100u);
    EXPECT_EQ(Allocator().TakeAllocationSize(first), 0u);
    EXPECT_EQ(Allocator().TakeAllocationSize(second), 28u);
    EXPECT_EQ(Count(capture.Messages(), "Alloc with size: 28 in address " + Address(second) +
                                            "  Total allocated memory: 128 bytes"),
              1);
    EXPECT_EQ(Count(capture.Messages(), "Can't find allocation size for: " + Address(first)), 1);
}

TEST_F(ILAllocatorTest, EmptyPieceIsDistinctAndRecordedWithSizeZero) {
    const BYTE* empty = Alloc(0);
    const BYTE* other = Alloc(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(empty, other);
    // Read as an IL header, an empty piece is no method at all.
    EXPECT_EQ(TargetProfilerProxy::DetermineSizeFromIL(empty), 0u);
    EXPECT_EQ(Allocator().TakeAllocationSize(empty), 0u);
    EXPECT_EQ(Count(capture.Messages(), "Can't find allocation size for: " + Address(empty)), 0);
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
    EXPECT_EQ(harness.runtime.methodMalloc.SizeOf(memory), 40u);
    first->Release();
    second->Release();
    EXPECT_EQ(target.Info().GetILFunctionBodyAllocator(1, nullptr), E_INVALIDARG);
    harness.Destroy();
    EXPECT_EQ(harness.runtime.methodMalloc.RefCount(), 0u);
}

// As loaded alone: without the runtime's allocator, the target gets the runtime's answer.
TEST(ILAllocator, RuntimeWithoutAnAllocatorGivesNone) {
    ILHarness harness;
    ILTarget& target = harness.AddTarget("Target");
    harness.BuildAndInitialize();
    harness.runtime.allocatorResult = E_NOINTERFACE;
    IMethodMalloc* malloc = nullptr;
    EXPECT_EQ(target.Info().GetILFunctionBodyAllocator(1, &malloc), E_NOINTERFACE);
    EXPECT_EQ(malloc, nullptr);
    EXPECT_EQ(harness.Multiplexer().Alloc(8), nullptr);
}

} // namespace
} // namespace profilermultiplexer::tests
