#include "ilchain/ILMapComposition.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

using Map = std::vector<COR_IL_MAP>;

// Each rewrite's map in chain order (empty: the rewrite set none) and the map the runtime must get.
struct CompositionCase {
    const char* name;
    std::vector<Map> steps;
    Map composed;
};

void PrintTo(const CompositionCase& row, std::ostream* os) {
    *os << row.name;
}

std::vector<std::tuple<ULONG32, ULONG32, BOOL>> Entries(const Map& map) {
    std::vector<std::tuple<ULONG32, ULONG32, BOOL>> entries;
    for (const COR_IL_MAP& entry : map) {
        entries.emplace_back(entry.oldOffset, entry.newOffset, entry.fAccurate);
    }
    return entries;
}

class ILMapCompositionTest : public testing::TestWithParam<CompositionCase> {};

TEST_P(ILMapCompositionTest, MapsTheOriginalILToTheLastRewrite) {
    ILMapComposition composition;
    ULONG maps = 0;
    for (const Map& step : GetParam().steps) {
        composition.Then(step.empty() ? nullptr : step.data(), static_cast<ULONG>(step.size()));
        maps += step.empty() ? 0 : 1;
    }
    EXPECT_EQ(composition.Steps(), maps);
    EXPECT_EQ(Entries(composition.Entries()), Entries(GetParam().composed));
}

INSTANTIATE_TEST_SUITE_P(
    Chains, ILMapCompositionTest,
    testing::Values(
        CompositionCase{
            "OneMapPassesUnchanged", {{{0, 2, TRUE}, {5, 9, FALSE}}}, {{0, 2, TRUE}, {5, 9, FALSE}}},
        // 2 then 3 instructions put in front: every offset moves by 5.
        CompositionCase{"ShiftsAddUp",
                        {{{0, 2, TRUE}, {4, 6, TRUE}, {9, 11, TRUE}},
                         {{0, 3, TRUE}, {2, 5, TRUE}, {6, 9, TRUE}, {11, 14, TRUE}}},
                        {{0, 5, TRUE}, {4, 9, TRUE}, {9, 14, TRUE}}},
        CompositionCase{"RewriteWithoutAMapLeavesTheOffsets",
                        {{{0, 2, TRUE}, {4, 6, TRUE}}, {}, {{0, 3, TRUE}, {2, 5, TRUE}, {6, 9, TRUE}}},
                        {{0, 5, TRUE}, {4, 9, TRUE}}},
        // The second rewrite drops the code at 4: its entry would name the code before it again.
        CompositionCase{"EntryOfRemovedCodeGoes",
                        {{{0, 0, TRUE}, {4, 4, TRUE}, {8, 8, TRUE}}, {{0, 0, TRUE}, {8, 4, TRUE}}},
                        {{0, 0, TRUE}, {8, 4, TRUE}}},
        // Code the first rewrite put in lies between 0 and 6; the second drops 6 and maps that code.
        CompositionCase{"OffsetBetweenEntriesTakesTheEntryBelow",
                        {{{0, 0, TRUE}, {6, 6, TRUE}}, {{0, 0, TRUE}, {4, 10, TRUE}}},
                        {{0, 0, TRUE}, {6, 10, FALSE}}},
        CompositionCase{"OffsetBelowTheLaterMapIsUnmapped",
                        {{{0, 0, TRUE}, {4, 4, TRUE}}, {{2, 5, TRUE}, {4, 7, TRUE}}},
                        {{4, 7, TRUE}}},
        CompositionCase{"InaccurateStepMakesTheEntryInaccurate",
                        {{{0, 1, TRUE}, {4, 5, FALSE}}, {{1, 2, FALSE}, {5, 6, TRUE}}},
                        {{0, 2, FALSE}, {4, 6, FALSE}}},
        CompositionCase{"UnsortedEntriesAreEachLookedUp",
                        {{{4, 4, TRUE}, {0, 0, TRUE}}, {{0, 10, TRUE}, {4, 20, TRUE}}},
                        {{4, 20, TRUE}, {0, 10, TRUE}}}),
    [](const testing::TestParamInfo<CompositionCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace profilermultiplexer::tests
