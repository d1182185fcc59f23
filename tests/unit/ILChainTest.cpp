#include "ILHarness.h"
#include "LogCapture.h"
#include "ilchain/IFunctionILBlock.h"
#include "ilchain/MetadataHelper.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

constexpr ModuleID Module = 0x1000;
constexpr mdMethodDef Method = 0x06000001;
constexpr mdMethodDef OtherMethod = 0x06000002;
constexpr FunctionID Function = 0xF1;
constexpr FunctionID OtherFunction = 0xF2;
const std::string MethodName = "(moduleId: 0x1000,methodId: 0x6000001)";
const std::string OtherMethodName = "(moduleId: 0x1000,methodId: 0x6000002)";

// Tiny methods: ldc.i4.1 ret, and two rewrites of it.
const std::vector<BYTE> RuntimeIL = {0x0A, 0x17, 0x2A};
const std::vector<BYTE> FirstIL = {0x0E, 0x00, 0x17, 0x2A};
const std::vector<BYTE> SecondIL = {0x12, 0x00, 0x00, 0x17, 0x2A};

// A fat method (12-byte header, 6 code bytes, 2 bytes padding) with a small exception section of one
// clause: 36 bytes. Four bytes of something else follow it.
const std::vector<BYTE> FatMethodWithEH = {
    0x0B, 0x30, 0x02, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // header, MoreSects
    0x00, 0x00, 0xDE, 0x00, 0x00, 0x2A, 0x00, 0x00,                         // code and padding
    0x01, 0x10, 0x00, 0x00,                                                 // EH section, 16 bytes
    0x00, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, // one small clause
    0xEE, 0xEE, 0xEE, 0xEE};
constexpr ULONG FatMethodWithEHSize = 36;

std::vector<BYTE> Bytes(LPCBYTE header, ULONG size) {
    return header == nullptr ? std::vector<BYTE>() : std::vector<BYTE>(header, header + size);
}

std::string Address(const void* address) {
    return fmt::format("{:p}", address);
}

int Count(const std::vector<std::string>& messages, const std::string& text) {
    return static_cast<int>(std::count(messages.begin(), messages.end(), text));
}

class ILChainTest : public testing::Test {
protected:
    ILChainTest() : first(harness.AddTarget("First")), second(harness.AddTarget("Second")) {
        harness.runtime.AddFunction(Function, Module, Method);
        harness.runtime.AddFunction(OtherFunction, Module, OtherMethod);
        harness.runtime.SetMethodIL(Module, Method, RuntimeIL);
        harness.runtime.SetMethodIL(Module, OtherMethod, RuntimeIL);
        harness.BuildAndInitialize();
    }

    HRESULT JitStarted(FunctionID function = Function) {
        return harness.Multiplexer().JITCompilationStarted(function, 1);
    }
    HRESULT JitFinished(FunctionID function = Function) {
        return harness.Multiplexer().JITCompilationFinished(function, S_OK, 1);
    }
    static std::shared_ptr<IFunctionILBlock> Block(const ILTarget& target, mdMethodDef method = Method) {
        return ILHarness::Proxy(target).GetFunctionILBlock(Module, method);
    }
    static bool HoldsIL(const ILTarget& target) {
        return ILHarness::Proxy(target).HasNonEmptyILBlock(Module, Method);
    }
    std::vector<std::vector<BYTE>> AppliedBodies() const {
        std::vector<std::vector<BYTE>> bodies;
        for (const auto& applied : harness.runtime.Applied()) {
            bodies.push_back(applied.body);
        }
        return bodies;
    }
    // At its next JIT, the first target reads the method's IL into saw and writes none.
    void RecordFirstTargetsRead(std::vector<BYTE>& saw) {
        first.onJitStarted = [&saw](ILTarget& target, FunctionID) {
            const auto read = target.ReadIL(Module, Method);
            saw = Bytes(read.header, read.size);
            return S_OK;
        };
    }

    LogCapture capture{"trace"};
    ILHarness harness;
    ILTarget& first;
    ILTarget& second;
};

TEST_F(ILChainTest, OneRewriteReachesTheRuntimeAtTheEndOfJitStarted) {
    ILTarget::ILRead read{};
    std::vector<BYTE> readBytes;
    LPCBYTE allocation = nullptr;
    HRESULT written = E_FAIL;
    std::size_t appliedDuringFanOut = 1;
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        read = target.ReadIL(Module, Method);
        readBytes = Bytes(read.header, read.size);
        written = target.WriteIL(Module, Method, FirstIL, &allocation);
        appliedDuringFanOut = harness.runtime.Applied().size();
        return S_OK;
    };

    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(read.hr, S_OK);
    // The runtime's own IL, as loaded alone.
    EXPECT_EQ(read.header, harness.runtime.OwnIL(Module, Method));
    EXPECT_EQ(readBytes, RuntimeIL);
    EXPECT_EQ(written, S_OK);
    EXPECT_EQ(appliedDuringFanOut, 0u);
    const auto applied = harness.runtime.Applied();
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].body, FirstIL);
    // The target's own piece of the runtime's allocator, as loaded alone: no copy.
    EXPECT_EQ(applied[0].header, allocation);
    EXPECT_EQ(std::make_pair(applied[0].moduleId, applied[0].methodDef), std::make_pair(Module, Method));

    EXPECT_EQ(JitFinished(), S_OK);
    // The target's memory holds its IL after other compilations and unloads, as the runtime's does.
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        return target.WriteIL(Module, OtherMethod, SecondIL);
    };
    JitStarted(OtherFunction);
    JitFinished(OtherFunction);
    EXPECT_EQ(harness.Multiplexer().ModuleUnloadFinished(Module, S_OK), S_OK);
    EXPECT_EQ(Bytes(allocation, static_cast<ULONG>(FirstIL.size())), FirstIL);
}

TEST_F(ILChainTest, LaterTargetSharesTheEarlierRewriteAndTheRuntimeGetsIt) {
    LPCBYTE firstBuffer = nullptr;
    ILTarget::ILRead read{};
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        target.WriteIL(Module, Method, FirstIL);
        firstBuffer = Block(target)->GetILFunctionBody().first.get();
        return S_OK;
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID) {
        read = target.ReadIL(Module, Method);
        return S_OK;
    };

    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(read.hr, S_OK);
    EXPECT_EQ(read.header, firstBuffer);
    EXPECT_EQ(read.size, FirstIL.size());
    EXPECT_EQ(Block(second), nullptr);
    EXPECT_EQ(AppliedBodies(), std::vector<std::vector<BYTE>>{FirstIL});
}

TEST_F(ILChainTest, LastRewriteInTheListWins) {
    std::vector<BYTE> secondSaw;
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        return target.WriteIL(Module, Method, FirstIL);
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID) {
        const auto read = target.ReadIL(Module, Method);
        secondSaw = Bytes(read.header, read.size);
        return target.WriteIL(Module, Method, SecondIL);
    };

    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(secondSaw, FirstIL);
    EXPECT_EQ(AppliedBodies(), std::vector<std::vector<BYTE>>{SecondIL});
}

TEST_F(ILChainTest, MapsOfTwoRewritesReachTheRuntimeComposedAndOneMapAsItIs) {
    // Each rewrite puts one nop in front: the first of Method and OtherMethod, the second of Method.
    COR_IL_MAP firstMap[] = {{0, 1, TRUE}, {1, 2, TRUE}};
    COR_IL_MAP secondMap[] = {{0, 1, TRUE}, {1, 2, TRUE}, {2, 3, TRUE}};
    first.onJitStarted = [&](ILTarget& target, FunctionID function) {
        target.WriteIL(Module, function == Function ? Method : OtherMethod, FirstIL);
        return target.Info().SetILInstrumentedCodeMap(function, TRUE, 2, firstMap);
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID function) {
        if (function != Function) {
            return S_OK;
        }
        target.WriteIL(Module, Method, SecondIL);
        return target.Info().SetILInstrumentedCodeMap(function, TRUE, 3, secondMap);
    };
    auto entries = [](const std::vector<COR_IL_MAP>& map) {
        std::vector<std::pair<ULONG32, ULONG32>> offsets;
        for (const COR_IL_MAP& entry : map) {
            offsets.emplace_back(entry.oldOffset, entry.newOffset);
        }
        return offsets;
    };

    EXPECT_EQ(JitStarted(), S_OK);
    auto maps = harness.runtime.Maps();
    ASSERT_EQ(maps.size(), 3u);
    EXPECT_EQ(maps[0].address, firstMap);
    EXPECT_EQ(maps[1].address, secondMap);
    EXPECT_EQ(maps[2].functionId, Function);
    EXPECT_EQ(entries(maps[2].entries), (std::vector<std::pair<ULONG32, ULONG32>>{{0, 2}, {1, 3}}));

    EXPECT_EQ(JitStarted(OtherFunction), S_OK);
    maps = harness.runtime.Maps();
    ASSERT_EQ(maps.size(), 4u);
    EXPECT_EQ(maps[3].address, firstMap);
}

TEST_F(ILChainTest, BlockThatOnlyReadTheChainCountsAsHoldingIL) {
    ILHarness::Proxy(second).CreateFunctionILBlock(Module, Method);
    bool secondHeldIL = false;
    LPCBYTE firstBuffer = nullptr;
    LPCBYTE secondBuffer = nullptr;
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        target.WriteIL(Module, Method, FirstIL);
        firstBuffer = Block(target)->GetILFunctionBody().first.get();
        return S_OK;
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID) {
        secondBuffer = target.ReadIL(Module, Method).header;
        secondHeldIL = HoldsIL(target);
        return S_OK;
    };

    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_TRUE(secondHeldIL);
    EXPECT_EQ(secondBuffer, firstBuffer);
    EXPECT_EQ(AppliedBodies(), std::vector<std::vector<BYTE>>{FirstIL});
}

TEST_F(ILChainTest, BlocksAreEmptiedAfterJitStartedButKeepTheirFlags) {
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        target.WriteIL(Module, Method, FirstIL);
        Block(target)->SetCodegenFlags(0x1);
        return S_OK;
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID) {
        return target.WriteIL(Module, Method, SecondIL);
    };

    EXPECT_EQ(JitStarted(), S_OK);
    ASSERT_NE(Block(first), nullptr);
    ASSERT_NE(Block(second), nullptr);
    EXPECT_FALSE(HoldsIL(first));
    EXPECT_FALSE(HoldsIL(second));
    EXPECT_EQ(Block(first)->GetCodegenFlags(), 0x1u);
}

TEST_F(ILChainTest, FailedFanOutAppliesNothingAndStillEmptiesTheBlocks) {
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        target.WriteIL(Module, Method, FirstIL);
        return E_FAIL;
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID) -> HRESULT {
        target.WriteIL(Module, Method, SecondIL);
        throw std::runtime_error("target failure");
    };

    EXPECT_EQ(JitStarted(), E_FAIL);
    EXPECT_TRUE(harness.runtime.Applied().empty());
    EXPECT_FALSE(HoldsIL(first));
    EXPECT_FALSE(HoldsIL(second));
    EXPECT_EQ(
        Count(capture.Messages(), "ProfilerMultiplexer::JITCompilationStarted, JITCompilationStarted for " +
                                      MethodName + ", returns error: hr=-7fffbffb"),
        1);
}

TEST_F(ILChainTest, FailedFunctionLookupStillCallsTheTargetsButTouchesNoBlock) {
    const auto block = ILHarness::Proxy(first).CreateFunctionILBlock(Module, Method);
    block->SetILFunctionBody(static_cast<ULONG>(FirstIL.size()), FirstIL.data());
    constexpr FunctionID Unknown = 0xBAD;

    EXPECT_EQ(JitStarted(Unknown), S_OK);
    EXPECT_EQ(first.JitCalls(), std::vector<FunctionID>{Unknown});
    EXPECT_EQ(second.JitCalls(), std::vector<FunctionID>{Unknown});
    EXPECT_TRUE(block->HasNonEmptyILBlock());
    EXPECT_TRUE(harness.runtime.Applied().empty());
    EXPECT_EQ(
        Count(capture.Messages(),
              "ProfilerMultiplexer::JITCompilationStarted, GetFunctionInfo returns error: hr=-7ff8ffa9"),
        1);
}

TEST_F(ILChainTest, MethodNeverAnnouncedGetsTheILAtOnceInTheTargetsMemory) {
    LPCBYTE allocation = nullptr;
    EXPECT_EQ(first.WriteIL(Module, OtherMethod, FirstIL, &allocation), S_OK);
    const auto applied = harness.runtime.Applied();
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].methodDef, OtherMethod);
    EXPECT_EQ(applied[0].body, FirstIL);
    EXPECT_EQ(Count(capture.Messages(),
                    "ProfilerMultiplexer::SetFunctionILIfNewFunction, Found new created function: " +
                        OtherMethodName),
              1);

    EXPECT_EQ(applied[0].header, allocation);
    JitStarted(Function);
    JitFinished(Function);
    EXPECT_EQ(harness.Multiplexer().ModuleUnloadFinished(Module, S_OK), S_OK);
    EXPECT_EQ(Bytes(allocation, static_cast<ULONG>(FirstIL.size())), FirstIL);
}

// A later target sets IL while the module loads, before the method compiles; an earlier one rewrites
// at the compilation from that IL, and the runtime ends with both rewrites.
TEST_F(ILChainTest, ILSetBeforeTheFirstCompilationIsWhereJitRewritesStart) {
    EXPECT_EQ(second.WriteIL(Module, Method, SecondIL), S_OK);
    std::vector<BYTE> firstSaw;
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        const auto read = target.ReadIL(Module, Method);
        firstSaw = Bytes(read.header, read.size);
        return target.WriteIL(Module, Method, FirstIL);
    };
    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(firstSaw, SecondIL);
    EXPECT_EQ(AppliedBodies(), (std::vector<std::vector<BYTE>>{SecondIL, FirstIL}));
}

// The next target reads the body, not the slack of a larger allocation.
TEST_F(ILChainTest, BodyInALargerAllocationIsReadAtItsOwnSize) {
    std::vector<BYTE> padded = FirstIL;
    padded.resize(29, 0xEE);
    ILTarget::ILRead read{};
    LPCBYTE allocation = nullptr;
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        return target.WriteIL(Module, Method, padded, &allocation);
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID) {
        read = target.ReadIL(Module, Method);
        return S_OK;
    };
    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(Bytes(read.header, read.size), FirstIL);
    ASSERT_EQ(harness.runtime.Applied().size(), 1u);
    EXPECT_EQ(harness.runtime.Applied()[0].header, allocation);
}

TEST_F(ILChainTest, AnnouncedMethodWaitsForItsJitStarted) {
    JitStarted(Function);
    EXPECT_EQ(first.WriteIL(Module, Method, FirstIL), S_OK);
    EXPECT_TRUE(harness.runtime.Applied().empty());
    EXPECT_EQ(
        Count(capture.Messages(),
              "ProfilerMultiplexer::SetFunctionILIfNewFunction, Found an existing function: " + MethodName),
        1);
}

TEST_F(ILChainTest, BodyFromOtherMemoryIsSizedFromItsWholeHeaderAndStaysTheTargets) {
    HRESULT written = E_FAIL;
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        written = target.Info().SetILFunctionBody(Module, Method, FatMethodWithEH.data());
        return S_OK;
    };

    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(written, S_OK);
    const std::vector<BYTE> wholeMethod(FatMethodWithEH.begin(),
                                        FatMethodWithEH.begin() + FatMethodWithEHSize);
    EXPECT_EQ(AppliedBodies(), std::vector<std::vector<BYTE>>{wholeMethod});
    JitFinished();
    const auto messages = capture.Messages();
    EXPECT_EQ(Count(messages, "Can't find allocation size for: " + Address(FatMethodWithEH.data())), 1);
    EXPECT_EQ(Count(messages, "IL size of " + MethodName + " is 36 taken from its IL header"), 1);
    // Copied: the target may free its own memory.
    EXPECT_NE(harness.runtime.Applied()[0].header, FatMethodWithEH.data());
}

TEST_F(ILChainTest, BodyWithoutLengthEmptiesTheBlockAndIsNeverApplied) {
    const BYTE noHeader[] = {0x00, 0x2A};
    HRESULT onNewBlock = E_FAIL;
    HRESULT onExistingBlock = S_OK;
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        onNewBlock = target.Info().SetILFunctionBody(Module, Method, noHeader);
        onExistingBlock = target.Info().SetILFunctionBody(Module, Method, noHeader);
        return S_OK;
    };

    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(onNewBlock, S_OK);
    EXPECT_EQ(onExistingBlock, E_FAIL);
    EXPECT_NE(Block(first), nullptr);
    EXPECT_TRUE(harness.runtime.Applied().empty());
    EXPECT_EQ(first.Info().SetILFunctionBody(Module, Method, nullptr), E_INVALIDARG);
}

TEST_F(ILChainTest, FirstTargetReadsTheRuntimesILOnceThenTheCache) {
    ILTarget::ILRead reads[2]{};
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        reads[0] = target.ReadIL(Module, Method);
        reads[1] = target.ReadIL(Module, Method);
        return S_OK;
    };

    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(reads[0].hr, S_OK);
    EXPECT_EQ(reads[1].header, reads[0].header);
    EXPECT_EQ(harness.runtime.ILRequests(Module, Method), 1);
    EXPECT_EQ(Block(first), nullptr);
}

TEST_F(ILChainTest, LaterChainStartsFromTheILLastGivenToTheRuntime) {
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        target.ReadIL(Module, Method);
        return target.WriteIL(Module, Method, FirstIL);
    };
    ASSERT_EQ(JitStarted(), S_OK);
    JitFinished();

    std::vector<BYTE> firstSaw;
    RecordFirstTargetsRead(firstSaw);
    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(firstSaw, FirstIL);
    EXPECT_EQ(harness.runtime.ILRequests(Module, Method), 1);
    // The block that read the cache holds that IL, so the runtime receives it again.
    EXPECT_EQ(AppliedBodies(), (std::vector<std::vector<BYTE>>{FirstIL, FirstIL}));
}

// The runtime's IL pointers stay valid; so must those a proxy hands out after the chain has moved on:
// the read cache entry replaced, the earlier block cleared, the reader's own block given new IL.
TEST_F(ILChainTest, ILHandedToATargetStaysReadableAfterTheChainMovesOn) {
    ILTarget::ILRead fromCache{};
    ILTarget::ILRead fromEarlierBlock{};
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        fromCache = target.ReadIL(Module, Method);
        return target.WriteIL(Module, Method, FirstIL);
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID) {
        fromEarlierBlock = target.ReadIL(Module, Method);
        return S_OK;
    };
    ASSERT_EQ(JitStarted(), S_OK);
    JitFinished();

    ILTarget::ILRead ownBlock{};
    second.onJitStarted = [&](ILTarget& target, FunctionID) {
        target.WriteIL(Module, Method, SecondIL);
        ownBlock = target.ReadIL(Module, Method);
        return target.WriteIL(Module, Method, FirstIL);
    };
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        return target.WriteIL(Module, Method, SecondIL);
    };
    ASSERT_EQ(JitStarted(), S_OK);
    JitFinished();

    EXPECT_EQ(Bytes(fromCache.header, fromCache.size), RuntimeIL);
    EXPECT_EQ(Bytes(fromEarlierBlock.header, fromEarlierBlock.size), FirstIL);
    EXPECT_EQ(Bytes(ownBlock.header, ownBlock.size), SecondIL);
}

// Many methods, each read twice: the IL handed out for every one of them stays readable while the
// proxy drops the repeated entries of what it keeps.
TEST_F(ILChainTest, EveryILHandedOutStaysReadableOverManyMethods) {
    constexpr mdMethodDef Methods = 300;
    constexpr FunctionID FirstFunction = 0x1000;
    std::vector<ILTarget::ILRead> reads;
    first.onJitStarted = [&](ILTarget& target, FunctionID function) {
        const mdMethodDef method = OtherMethod + static_cast<mdMethodDef>(function - FirstFunction) + 1;
        reads.push_back(target.ReadIL(Module, method));
        reads.push_back(target.ReadIL(Module, method));
        return target.WriteIL(Module, method, FirstIL);
    };
    for (mdMethodDef index = 0; index < Methods; ++index) {
        harness.runtime.AddFunction(FirstFunction + index, Module, OtherMethod + index + 1);
        harness.runtime.SetMethodIL(Module, OtherMethod + index + 1, {0x0A, static_cast<BYTE>(index), 0x2A});
        ASSERT_EQ(JitStarted(FirstFunction + index), S_OK);
        JitFinished(FirstFunction + index);
    }
    ASSERT_EQ(reads.size(), 2 * Methods);
    for (mdMethodDef index = 0; index < Methods; ++index) {
        const std::vector<BYTE> own{0x0A, static_cast<BYTE>(index), 0x2A};
        EXPECT_EQ(Bytes(reads[2 * index].header, reads[2 * index].size), own) << index;
        EXPECT_EQ(reads[2 * index + 1].header, reads[2 * index].header) << index;
    }
}

// What is kept grows with what is alive: a method compiled again and again to the same IL, and modules
// loaded and unloaded one after another.
TEST_F(ILChainTest, WhatIsKeptStaysBoundedOverCompilationsAndUnloads) {
    // Set from the target's own memory: copied, and the copy handed to the second is kept for it.
    auto rewrite = [](ModuleID module) {
        return [module](ILTarget& target, FunctionID) {
            target.ReadIL(module, Method);
            return target.Info().SetILFunctionBody(module, Method, FirstIL.data());
        };
    };
    auto read = [](ModuleID module) {
        return [module](ILTarget& target, FunctionID) { return target.ReadIL(module, Method).hr; };
    };
    first.onJitStarted = rewrite(Module);
    second.onJitStarted = read(Module);
    for (int compilation = 0; compilation < 20; ++compilation) {
        ASSERT_EQ(JitStarted(), S_OK);
        JitFinished();
    }
    // The runtime's IL and what it was given are the runtime's to keep.
    EXPECT_EQ(ILHarness::Proxy(first).HandedOutILCount(), 0u);
    EXPECT_EQ(ILHarness::Proxy(second).HandedOutILCount(), 1u);

    constexpr ModuleID FirstLoaded = 0x20000;
    for (ModuleID module = FirstLoaded; module < FirstLoaded + 50; ++module) {
        const FunctionID function = module;
        harness.runtime.AddFunction(function, module, Method);
        harness.runtime.SetMethodIL(module, Method, RuntimeIL);
        first.onJitStarted = rewrite(module);
        second.onJitStarted = read(module);
        ASSERT_EQ(harness.Multiplexer().ModuleLoadStarted(module), S_OK);
        ASSERT_EQ(JitStarted(function), S_OK);
        JitFinished(function);
        ASSERT_EQ(harness.Multiplexer().ModuleUnloadStarted(module), S_OK);
        ASSERT_EQ(harness.Multiplexer().ModuleUnloadFinished(module, S_OK), S_OK);
    }
    EXPECT_EQ(ILHarness::Proxy(second).HandedOutILCount(), 1u);
    const auto names = std::dynamic_pointer_cast<MetadataHelper>(harness.Multiplexer().GetMetadataHelper());
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->ModuleCount(), 1u);
    // An unloaded module's id is still refused.
    EXPECT_EQ(second.ReadIL(FirstLoaded, OtherMethod).hr, E_FAIL);
    EXPECT_EQ(harness.runtime.ILRequests(FirstLoaded, OtherMethod), 0);
}

// Once the module has unloaded its id may name a new module: nothing kept for the old one is served.
TEST_F(ILChainTest, UnloadedModuleLeavesNothingForTheNextModuleWithItsId) {
    first.onJitStarted = [&](ILTarget& target, FunctionID function) {
        if (function == Function) {
            target.WriteIL(Module, Method, FirstIL);
        }
        return S_OK;
    };
    second.onJitStarted = [&](ILTarget& target, FunctionID) {
        target.ReadIL(Module, Method);
        return S_OK;
    };
    for (const FunctionID function : {Function, OtherFunction}) {
        ASSERT_EQ(JitStarted(function), S_OK);
        JitFinished(function);
    }

    EXPECT_EQ(harness.Multiplexer().ModuleUnloadFinished(Module, S_OK), S_OK);
    EXPECT_EQ(harness.Multiplexer().ModuleLoadStarted(Module), S_OK);
    // A method of the new module was never compiled: its IL goes to the runtime at once.
    EXPECT_EQ(first.WriteIL(Module, OtherMethod, SecondIL), S_OK);
    EXPECT_EQ(AppliedBodies(), (std::vector<std::vector<BYTE>>{FirstIL, SecondIL}));

    const std::vector<BYTE> newIL = {0x0A, 0x16, 0x2A};
    harness.runtime.SetMethodIL(Module, Method, newIL);
    std::vector<BYTE> firstSaw;
    RecordFirstTargetsRead(firstSaw);
    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(firstSaw, newIL);
    EXPECT_EQ(harness.runtime.ILRequests(Module, Method), 1);
}

// Targets' threads whose calls began before the unload and end after it: what they leave behind goes
// before the next module with the id compiles anything.
TEST_F(ILChainTest, CallsInFlightAcrossAnUnloadLeaveNothingForTheNextModuleWithItsId) {
    // The module stays readable until its ModuleUnloadStarted returns: a target reads it there.
    second.Info().SetEventMask2(COR_PRF_MONITOR_JIT_COMPILATION | COR_PRF_MONITOR_MODULE_LOADS, 0);
    ILTarget::ILRead lastRead{E_FAIL, nullptr, 0};
    second.onModuleUnloadStarted = [&](ILTarget& target, ModuleID moduleId) {
        lastRead = target.ReadIL(moduleId, Method);
        return S_OK;
    };
    EXPECT_EQ(harness.Multiplexer().ModuleUnloadStarted(Module), S_OK);
    EXPECT_EQ(Bytes(lastRead.header, lastRead.size), RuntimeIL);
    // The runtime may have freed the module: it is not asked.
    EXPECT_EQ(second.ReadIL(Module, OtherMethod).hr, E_FAIL);
    EXPECT_EQ(harness.runtime.ILRequests(Module, OtherMethod), 0);
    EXPECT_EQ(harness.Multiplexer().ModuleUnloadFinished(Module, S_OK), S_OK);
    EXPECT_EQ(first.WriteIL(Module, Method, FirstIL), S_OK);
    EXPECT_TRUE(AppliedBodies().empty()) << "the runtime was given IL for a module it has freed";

    const std::vector<BYTE> newIL = {0x0A, 0x16, 0x2A};
    harness.runtime.SetMethodIL(Module, Method, newIL);
    EXPECT_EQ(harness.Multiplexer().ModuleLoadStarted(Module), S_OK);
    std::vector<BYTE> firstSaw;
    RecordFirstTargetsRead(firstSaw);
    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(firstSaw, newIL);
}

TEST_F(ILChainTest, RuntimeWithoutTheMethodsILFailsTheRead) {
    harness.runtime.getILResult = E_FAIL;
    ILTarget::ILRead read{S_OK, nullptr, 0};
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        read = target.ReadIL(Module, Method);
        return S_OK;
    };

    EXPECT_EQ(JitStarted(), S_OK);
    EXPECT_EQ(read.hr, E_FAIL);
    const auto messages = capture.Messages();
    EXPECT_EQ(
        Count(messages, "ProfilerMultiplexer::GetILFunctionBodyForProxy failed to get IL for " + MethodName),
        1);
    EXPECT_EQ(Count(messages,
                    "TargetProfilerProxy::GetILFunctionBody Error GetILFunctionBodyForProxy, hr = -7fffbffb"),
              1);
}

// The runtime refusing the IL in one of three ways: its result comes back, nothing is cached.
struct RefusalCase {
    const char* name;
    bool allocatorReturnsNull;
    HRESULT allocatorResult;
    HRESULT setILResult;
    HRESULT expected;
};

void PrintTo(const RefusalCase& row, std::ostream* os) {
    *os << row.name;
}

class ILChainRefusalTest : public ILChainTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(ILChainRefusalTest, ReturnsTheFailureAndKeepsTheCachedIL) {
    harness.runtime.methodMalloc.returnsNull = GetParam().allocatorReturnsNull;
    harness.runtime.allocatorResult = GetParam().allocatorResult;
    harness.runtime.setILResult = GetParam().setILResult;
    // The target's own memory: the multiplexer copies it into the runtime's allocator.
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        target.ReadIL(Module, Method);
        return target.Info().SetILFunctionBody(Module, Method, FirstIL.data());
    };
    EXPECT_EQ(JitStarted(), GetParam().expected);
    EXPECT_FALSE(HoldsIL(first));

    std::vector<BYTE> seen;
    first.onJitStarted = [&](ILTarget& target, FunctionID) {
        const auto read = target.ReadIL(Module, Method);
        seen = Bytes(read.header, read.size);
        return S_OK;
    };
    JitStarted();
    EXPECT_EQ(seen, RuntimeIL);
}

INSTANTIATE_TEST_SUITE_P(
    Runtime, ILChainRefusalTest,
    testing::Values(RefusalCase{"OutOfMemory", true, S_OK, S_OK, E_OUTOFMEMORY},
                    RefusalCase{"NoAllocator", false, E_NOINTERFACE, S_OK, E_NOINTERFACE},
                    RefusalCase{"ILRefused", false, S_OK, E_INVALIDARG, E_INVALIDARG}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

struct SizeCase {
    const char* name;
    std::vector<BYTE> method;
    ULONG expected;
};

void PrintTo(const SizeCase& row, std::ostream* os) {
    *os << row.name;
}

class DetermineSizeFromILTest : public testing::TestWithParam<SizeCase> {};

TEST_P(DetermineSizeFromILTest, CountsTheWholeMethod) {
    EXPECT_EQ(TargetProfilerProxy::DetermineSizeFromIL(GetParam().method.data()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DetermineSizeFromILTest,
    testing::Values(SizeCase{"Tiny", {0x0A, 0x17, 0x2A, 0xEE}, 3},
                    SizeCase{"FatWithoutSections",
                             {0x03, 0x30, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17,
                              0x2A, 0xEE},
                             14},
                    SizeCase{"FatWithExceptionSection", FatMethodWithEH, FatMethodWithEHSize},
                    SizeCase{"NoHeader", {0x00, 0x2A}, 0}, SizeCase{"OddLowBits", {0x01, 0x2A}, 0}),
    [](const testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

TEST(DetermineSizeFromIL, NullMethodHasNoSize) {
    EXPECT_EQ(TargetProfilerProxy::DetermineSizeFromIL(nullptr), 0u);
}

// Several threads compile different methods at once; every method ends with the second target's IL.
TEST(ILChainThreads, ConcurrentCompilationsKeepEachMethodsIL) {
    LogCapture capture("err");
    ILHarness harness;
    ILTarget& first = harness.AddTarget("First");
    ILTarget& second = harness.AddTarget("Second");
    constexpr int Threads = 4;
    constexpr int MethodsPerThread = 25;
    for (int index = 0; index < Threads * MethodsPerThread; ++index) {
        harness.runtime.AddFunction(0x100 + index, Module, Method + index);
        harness.runtime.SetMethodIL(Module, Method + index, RuntimeIL);
    }
    auto rewrite = [](BYTE marker) {
        return [marker](ILTarget& target, FunctionID function) {
            ModuleID module = 0;
            mdToken token = 0;
            target.Info().GetFunctionInfo(function, nullptr, &module, &token);
            const auto read = target.ReadIL(module, token);
            std::vector<BYTE> il = {0x0E, marker, static_cast<BYTE>(token), read.header[read.size - 1]};
            return target.WriteIL(module, token, il);
        };
    };
    first.onJitStarted = rewrite(0x01);
    second.onJitStarted = rewrite(0x02);
    ProfilerMultiplexer& multiplexer = harness.BuildAndInitialize();

    std::vector<std::thread> threads;
    for (int thread = 0; thread < Threads; ++thread) {
        threads.emplace_back([&multiplexer, thread] {
            for (int index = thread * MethodsPerThread; index < (thread + 1) * MethodsPerThread; ++index) {
                multiplexer.JITCompilationStarted(0x100 + index, 1);
                multiplexer.JITCompilationFinished(0x100 + index, S_OK, 1);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto applied = harness.runtime.Applied();
    ASSERT_EQ(applied.size(), static_cast<std::size_t>(Threads * MethodsPerThread));
    for (const auto& body : applied) {
        EXPECT_EQ(body.body, (std::vector<BYTE>{0x0E, 0x02, static_cast<BYTE>(body.methodDef), 0x2A}));
    }
}

// A target's own thread, started in its Initialize, reads IL through its proxy while the targets after it
// are initialised and the multiplexer's lists grow.
TEST(ILChainThreads, TargetThreadReadsILWhileLaterTargetsAreInitialised) {
    LogCapture capture("err");
    ILHarness harness;
    harness.runtime.AddFunction(Function, Module, Method);
    harness.runtime.SetMethodIL(Module, Method, RuntimeIL);
    std::atomic<int> reads{0};
    std::atomic<bool> done{false};
    std::thread reader;
    harness.AddTarget("First").onInitialized = [&](ILTarget& target) {
        reader = std::thread([&target, &reads, &done] {
            while (!done) {
                EXPECT_EQ(Bytes(target.ReadIL(Module, Method).header, RuntimeIL.size()), RuntimeIL);
                ++reads;
            }
        });
    };
    for (int index = 0; index < 8; ++index) {
        harness.AddTarget("Later" + std::to_string(index)).onInitialized = [&reads](ILTarget&) {
            const int seen = reads.load();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (reads.load() < seen + 2 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
        };
    }
    harness.BuildAndInitialize();
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 8);
}

} // namespace
} // namespace profilermultiplexer::tests
