#include "ilchain/FunctionILBlock.h"
#include "LogCapture.h"
#include "MultiplexerHarness.h"
#include "StressMetaData.h"
#include "hosting/TargetProfilerProxy.h"
#include "ilchain/IMetadataHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

constexpr ModuleID Module = 0x1000;
constexpr mdMethodDef Method = 0x06000001;

std::shared_ptr<unsigned char[]> Buffer(std::vector<unsigned char> bytes) {
    std::shared_ptr<unsigned char[]> buffer(new unsigned char[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    return buffer;
}

bool Contains(const std::vector<std::string>& messages, const std::string& text) {
    return std::find(messages.begin(), messages.end(), text) != messages.end();
}

// A block whose fetcher hands out a fixed buffer (or a failure) and counts its calls.
class FunctionILBlockTest : public testing::Test {
protected:
    std::shared_ptr<IFunctionILBlock> MakeBlock() {
        return IFunctionILBlock::CreateFunctionILBlock(
            Module, Method, "Target", methodName,
            [this](ModuleID module, mdMethodDef method, std::shared_ptr<unsigned char[]>* body, ULONG* size) {
                ++fetches;
                fetchedFor = {module, method};
                if (FAILED(fetchResult)) {
                    return fetchResult;
                }
                *body = chainIL;
                *size = 3;
                return fetchResult;
            });
    }

    const std::string methodName = "[Lib] Calculator::Add";
    std::shared_ptr<unsigned char[]> chainIL = Buffer({0x0A, 0x00, 0x2A});
    HRESULT fetchResult = S_OK;
    int fetches = 0;
    std::pair<ModuleID, mdMethodDef> fetchedFor{};
};

TEST_F(FunctionILBlockTest, NewBlockIsEmpty) {
    const auto block = MakeBlock();
    EXPECT_FALSE(block->HasNonEmptyILBlock());
    EXPECT_EQ(block->GetCodegenFlags(), 0u);
    EXPECT_FALSE(block->IsRejitPending());
    const auto [map, count] = block->GetILInstrumentedCodeMap();
    EXPECT_EQ(map, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(block->GetILFunctionBody().second, 0u);
}

TEST_F(FunctionILBlockTest, EmptyBlockFetchesTheChainsILOnceAndSharesIt) {
    const auto block = MakeBlock();
    LPCBYTE header = nullptr;
    ULONG size = 0;
    ASSERT_EQ(block->GetILFunctionBody(&header, &size), S_OK);
    EXPECT_EQ(header, chainIL.get());
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(fetchedFor, std::make_pair(Module, Method));
    EXPECT_TRUE(block->HasNonEmptyILBlock());

    LPCBYTE again = nullptr;
    ASSERT_EQ(block->GetILFunctionBody(&again, &size), S_OK);
    EXPECT_EQ(again, header);
    EXPECT_EQ(fetches, 1);

    block->ClearILFunctionBody();
    EXPECT_FALSE(block->HasNonEmptyILBlock());
    ASSERT_EQ(block->GetILFunctionBody(&again, &size), S_OK);
    EXPECT_EQ(fetches, 2);
}

TEST_F(FunctionILBlockTest, BodySetWithSizeZeroFetchesOnTheNextRead) {
    const auto block = MakeBlock();
    const unsigned char il[] = {0x06, 0x2A};
    ASSERT_EQ(block->SetILFunctionBody(0, il), S_OK);
    EXPECT_FALSE(block->HasNonEmptyILBlock());
    LPCBYTE header = nullptr;
    ASSERT_EQ(block->GetILFunctionBody(&header, nullptr), S_OK);
    EXPECT_EQ(header, chainIL.get());
    EXPECT_EQ(fetches, 1);
}

TEST_F(FunctionILBlockTest, FailedFetchIsLoggedAndLeavesTheOutParametersAlone) {
    LogCapture capture("err");
    fetchResult = E_FAIL;
    const auto block = MakeBlock();
    LPCBYTE header = reinterpret_cast<LPCBYTE>(0x1);
    ULONG size = 77;
    EXPECT_EQ(block->GetILFunctionBody(&header, &size), E_FAIL);
    EXPECT_EQ(header, reinterpret_cast<LPCBYTE>(0x1));
    EXPECT_EQ(size, 77u);
    EXPECT_FALSE(block->HasNonEmptyILBlock());
    EXPECT_TRUE(Contains(capture.Messages(), "Target : GetILFunctionBody from pCorProfilerInfo of [Lib] "
                                             "Calculator::Add in module: 1000  method: 6000001 failed with "
                                             "hr=-7fffbffb"));
}

TEST_F(FunctionILBlockTest, CopyingFormCopiesAndSharingFormShares) {
    const auto first = MakeBlock();
    const auto second = MakeBlock();
    const unsigned char il[] = {0x0A, 0x17, 0x2A};
    ASSERT_EQ(first->SetILFunctionBody(sizeof(il), il), S_OK);
    const auto [copy, copySize] = first->GetILFunctionBody();
    EXPECT_NE(copy.get(), il);
    EXPECT_TRUE(std::equal(il, il + sizeof(il), copy.get()));
    EXPECT_EQ(copySize, sizeof(il));

    ASSERT_EQ(second->SetILFunctionBody(copySize, copy), S_OK);
    EXPECT_EQ(second->GetILFunctionBody().first, copy);
    LPCBYTE header = nullptr;
    ASSERT_EQ(second->GetILFunctionBody(&header, nullptr), S_OK);
    EXPECT_EQ(header, copy.get());
    EXPECT_EQ(fetches, 0);
}

// The copy lives, bytes intact, as long as any holder; copies of the same bytes are apart; an empty copy
// still has an address of its own.
TEST(FunctionILBlockSharedCopy, CopiesIntoABufferThatLivesWithItsLastHolder) {
    std::vector<unsigned char> il(300);
    std::iota(il.begin(), il.end(), static_cast<unsigned char>(0));
    auto copy = FunctionILBlock::SharedILCopy(il.data(), static_cast<ULONG>(il.size()));
    const auto other = FunctionILBlock::SharedILCopy(il.data(), static_cast<ULONG>(il.size()));
    const std::shared_ptr<unsigned char[]> holder = copy;
    copy.reset();
    il.assign(il.size(), 0xEE);
    for (std::size_t index = 0; index < il.size(); ++index) {
        ASSERT_EQ(holder[index], static_cast<unsigned char>(index)) << index;
    }
    EXPECT_NE(other.get(), holder.get());
    EXPECT_EQ(holder.use_count(), 1);
    EXPECT_NE(FunctionILBlock::SharedILCopy(nullptr, 0), nullptr);
}

TEST_F(FunctionILBlockTest, MissingBodyIsRefusedOrLeavesTheBlockEmpty) {
    const auto block = MakeBlock();
    EXPECT_EQ(block->SetILFunctionBody(4, static_cast<LPCBYTE>(nullptr)), E_INVALIDARG);
    EXPECT_EQ(block->SetILFunctionBody(4, std::shared_ptr<unsigned char[]>()), S_OK);
    EXPECT_FALSE(block->HasNonEmptyILBlock());
    EXPECT_EQ(block->SetILInstrumentedCodeMap(2, nullptr), E_INVALIDARG);
}

TEST_F(FunctionILBlockTest, CodegenFlagsAreReplacedAndLogged) {
    LogCapture capture("debug");
    const auto block = MakeBlock();
    ASSERT_EQ(block->SetCodegenFlags(0x3), S_OK);
    EXPECT_EQ(block->GetCodegenFlags(), 0x3u);
    const auto messages = capture.Messages();
    EXPECT_TRUE(Contains(messages,
                         "Target : FunctionILBlock::SetCodegenFlags of [Lib] Calculator::Add for disable "
                         "inlining"));
    EXPECT_TRUE(Contains(messages,
                         "Target : FunctionILBlock::SetCodegenFlags of [Lib] Calculator::Add for disable "
                         "all optimizations"));
    ASSERT_EQ(block->SetCodegenFlags(0x0), S_OK);
    EXPECT_EQ(block->GetCodegenFlags(), 0u);
}

TEST_F(FunctionILBlockTest, ClearingKeepsFlagsMapAndPendingFlag) {
    const auto block = MakeBlock();
    COR_IL_MAP entries[] = {{0, 4, 1}, {2, 9, 0}};
    const unsigned char il[] = {0x2A};
    block->SetILFunctionBody(sizeof(il), il);
    block->SetCodegenFlags(0x1);
    ASSERT_EQ(block->SetILInstrumentedCodeMap(2, entries), S_OK);
    block->RequestRejit();
    entries[1].newOffset = 100;

    block->ClearILFunctionBody();
    EXPECT_FALSE(block->HasNonEmptyILBlock());
    EXPECT_EQ(block->GetILFunctionBody().first, nullptr);
    EXPECT_EQ(block->GetCodegenFlags(), 0x1u);
    EXPECT_TRUE(block->IsRejitPending());
    const auto [map, count] = block->GetILInstrumentedCodeMap();
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(map[1].newOffset, 9u);

    block->RejitIsNoLongerPending();
    EXPECT_FALSE(block->IsRejitPending());
}

struct QueryCase {
    const char* name;
    const IID* iid;
    HRESULT expected;
};

void PrintTo(const QueryCase& row, std::ostream* os) {
    *os << row.name;
}

class FunctionILBlockQueryTest : public FunctionILBlockTest, public testing::WithParamInterface<QueryCase> {};

TEST_P(FunctionILBlockQueryTest, AnswersFunctionControlAndIUnknownWithoutCounting) {
    const auto block = MakeBlock();
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(block->QueryInterface(*GetParam().iid, &out), GetParam().expected);
    const void* expected = GetParam().expected == S_OK
                               ? static_cast<ICorProfilerFunctionControl*>(block.get())
                               : reinterpret_cast<void*>(0x1);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(block->AddRef(), 1u);
    EXPECT_EQ(block->Release(), 1u);
    EXPECT_EQ(block->Release(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Interfaces, FunctionILBlockQueryTest,
                         testing::Values(QueryCase{"FunctionControl", &IID_ICorProfilerFunctionControl, S_OK},
                                         QueryCase{"IUnknown", &IID_IUnknown, S_OK},
                                         QueryCase{"MethodMalloc", &IID_IMethodMalloc, E_NOINTERFACE},
                                         QueryCase{"Info", &IID_ICorProfilerInfo, E_NOINTERFACE}),
                         [](const testing::TestParamInfo<QueryCase>& info) {
                             return std::string(info.param.name);
                         });

// The block map of a proxy, reached through the info object its target received.
class ProxyBlockMapTest : public testing::Test {
protected:
    void SetUp() override {
        RecordingTarget& target = harness.AddTarget("Target");
        ASSERT_EQ(harness.BuildAndInitialize(), S_OK);
        proxy = static_cast<TargetProfilerProxy*>(static_cast<ICorProfilerInfo10*>(target.Info()));
    }

    MultiplexerHarness harness;
    TargetProfilerProxy* proxy = nullptr;
};

TEST_F(ProxyBlockMapTest, LookupsOfMissingMethodsFindNothing) {
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), nullptr);
    EXPECT_FALSE(proxy->HasNonEmptyILBlock(Module, Method));
    proxy->CreateFunctionILBlock(Module, Method);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method + 1), nullptr);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module + 1, Method), nullptr);
}

TEST_F(ProxyBlockMapTest, HasNonEmptyILBlockFollowsTheBlocksBody) {
    const auto block = proxy->CreateFunctionILBlock(Module, Method);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), block);
    EXPECT_FALSE(proxy->HasNonEmptyILBlock(Module, Method));
    const unsigned char il[] = {0x06, 0x2A};
    block->SetILFunctionBody(sizeof(il), il);
    EXPECT_TRUE(proxy->HasNonEmptyILBlock(Module, Method));
    block->ClearILFunctionBody();
    EXPECT_FALSE(proxy->HasNonEmptyILBlock(Module, Method));
}

TEST_F(ProxyBlockMapTest, CreatingAgainReplacesTheBlockWhileHoldersKeepTheOldOne) {
    const auto old = proxy->CreateFunctionILBlock(Module, Method);
    const unsigned char il[] = {0x06, 0x2A};
    old->SetILFunctionBody(sizeof(il), il);
    const auto replacement = proxy->CreateFunctionILBlock(Module, Method);
    EXPECT_NE(replacement, old);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), replacement);
    EXPECT_FALSE(proxy->HasNonEmptyILBlock(Module, Method));
    EXPECT_TRUE(old->HasNonEmptyILBlock());
}

// Thousands of blocks over a few modules, removed one by one and by module (colliding, wrapping and
// moving entries of the map): every lookup agrees with a plain map of what should be there.
TEST_F(ProxyBlockMapTest, ManyBlocksAddedAndRemovedAreFoundExactlyWhileThere) {
    std::map<std::pair<ModuleID, mdMethodDef>, std::shared_ptr<IFunctionILBlock>> expected;
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        const ModuleID module = Module + 0x100 * (random() % 4);
        const mdMethodDef method = Method + random() % 600;
        switch (random() % 8) {
        case 0:
            proxy->RemoveFunctionILBlock(module, method);
            expected.erase({module, method});
            break;
        case 1:
            if (round % 50 == 0) {
                proxy->DropModule(module);
                for (auto entry = expected.begin(); entry != expected.end();) {
                    entry = entry->first.first == module ? expected.erase(entry) : std::next(entry);
                }
            }
            break;
        default:
            expected[{module, method}] = proxy->CreateFunctionILBlock(module, method);
        }
        const auto found = expected.find({module, method + 1});
        ASSERT_EQ(proxy->GetFunctionILBlock(module, method + 1),
                  found == expected.end() ? nullptr : found->second);
    }
    for (const auto& [key, block] : expected) {
        ASSERT_EQ(proxy->GetFunctionILBlock(key.first, key.second), block);
    }
}

// A proxy's block reads its method's name from the metadata only for a line it writes.
TEST_F(ProxyBlockMapTest, BlockReadsItsMethodsNameOnlyForALineItWrites) {
    StressMetaData metaData;
    harness.runtime.SetModuleMetaData(Module, &metaData);
    const auto block = proxy->CreateFunctionILBlock(Module, Method);
    {
        LogCapture quiet{"info"};
        block->SetCodegenFlags(0x1);
    }
    EXPECT_EQ(harness.runtime.MetaDataRequests(), 0);
    LogCapture capture{"debug"};
    block->SetCodegenFlags(0x1);
    EXPECT_TRUE(Contains(
        capture.Messages(),
        "Target : FunctionILBlock::SetCodegenFlags of [Module] Type::M6000001 for disable inlining"));
    harness.Multiplexer().GetMetadataHelper()->DropModule(Module);
}

// Lookups of one method, one after the other, with blocks of it and of its neighbours added and removed
// in between: each answers for the map as it is at that moment.
TEST_F(ProxyBlockMapTest, RepeatedLookupsFollowEveryAdditionAndRemoval) {
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), nullptr);
    const auto neighbour = proxy->CreateFunctionILBlock(Module, Method + 1);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), nullptr);
    const auto block = proxy->CreateFunctionILBlock(Module, Method);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), block);

    proxy->RemoveFunctionILBlock(Module, Method + 1);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method + 1), nullptr);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), block);
    proxy->RemoveFunctionILBlock(Module, Method);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), nullptr);
    EXPECT_FALSE(proxy->HasNonEmptyILBlock(Module, Method));

    // Removed, then as many added again: the map has its old size but other entries.
    const auto again = proxy->CreateFunctionILBlock(Module, Method + 2);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method), nullptr);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module, Method + 2), again);
    EXPECT_EQ(proxy->GetFunctionILBlock(Module + 1, Method + 2), nullptr);
}

} // namespace
} // namespace profilermultiplexer::tests
