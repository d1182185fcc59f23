// A target that passes null where its proxy and its function control allow it: the call succeeds and
// does what the non-null arguments ask.
#include "RejitFakeFunctionControl.h"
#include "RejitHarness.h"

#include <gtest/gtest.h>

#include <vector>

namespace profilermultiplexer::tests {
namespace {

constexpr ModuleID Module = 0x1000;
constexpr mdMethodDef Method = 0x06000001;

class NullArgumentTest : public testing::Test {
protected:
    NullArgumentTest() : target(harness.AddTarget("A")) { harness.BuildAndInitialize(); }

    RejitHarness harness;
    RejitTarget& target;
};

TEST_F(NullArgumentTest, ReJITWithInlinersOfNoMethodsTakesNoArrays) {
    EXPECT_EQ(target.Info().RequestReJITWithInliners(0x1, 0, nullptr, nullptr), S_OK);
    EXPECT_TRUE(harness.runtime.Requests().empty());
}

TEST_F(NullArgumentTest, RevertWithoutStatusArrayStillReachesTheRuntime) {
    ModuleID modules[] = {Module};
    mdMethodDef methods[] = {Method};
    EXPECT_EQ(target.Info().RequestRevert(1, modules, methods, nullptr), S_OK);
    const std::vector<RejitFakeRuntime::Request> expected = {
        {"RequestReJIT", std::nullopt, {{Module, Method}}}};
    EXPECT_EQ(harness.runtime.Requests(), expected);
}

TEST_F(NullArgumentTest, ILOfAMethodWithoutABlockWithoutTheSize) {
    const std::vector<BYTE> il = {0x0A, 0x00, 0x2A};
    harness.runtime.SetMethodIL(Module, Method, il);
    LPCBYTE header = nullptr;
    ASSERT_EQ(target.Info().GetILFunctionBody(Module, Method, &header, nullptr), S_OK);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(std::vector<BYTE>(header, header + il.size()), il);
    EXPECT_EQ(RejitHarness::Proxy(target).GetFunctionILBlock(Module, Method), nullptr);
}

TEST_F(NullArgumentTest, EmptyILMapOnTheFunctionControlSetsNoMap) {
    const std::vector<BYTE> il = {0x06, 0x2A};
    target.onGetReJITParameters = [&](RejitTarget&, ICorProfilerFunctionControl* control) {
        EXPECT_EQ(control->SetILInstrumentedCodeMap(0, nullptr), S_OK);
        return control->SetILFunctionBody(static_cast<ULONG>(il.size()), il.data());
    };
    ASSERT_EQ(target.RequestReJIT({Module}, {Method}), S_OK);
    RejitFakeFunctionControl control;
    EXPECT_EQ(harness.Multiplexer().GetReJITParameters(Module, Method, &control), S_OK);
    EXPECT_EQ(control.ilBody, il);
    EXPECT_FALSE(control.ilMap);
    EXPECT_FALSE(control.codegenFlags);
}

} // namespace
} // namespace profilermultiplexer::tests
