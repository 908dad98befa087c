#include <gtest/gtest.h>

#include "control/elo.h"

namespace tavrix {
namespace {

TEST(EloCurve, EloFromNodeRateInterpolatesBetweenPowersOfTwo) {
    struct Case {
        int64_t rate;
        int32_t elo;
    };
    const Case cases[] = {
        {-5, 850}, {0, 850}, {1, 850}, {2, 950}, {3, 1000},
        {16, 1250}, {17, 1250 + 305 * 1 / 16}, {24, 1250 + 305 * 8 / 16},
        {128, 1925}, {96, 1760 + 165 * 32 / 64},
        {500000, 2909},                     // 2860 + 55 * 237856 / 262144
        {1 << 20, 2970}, {(1 << 21) - 1, 2970 + 55 * ((1 << 20) - 1) / (1 << 20)},
        {1 << 21, 3025}, {int64_t{1} << 40, 3025},
    };
    for (const Case& c : cases) EXPECT_EQ(EloFromNodeRate(c.rate), c.elo) << c.rate;
}

TEST(EloCurve, NodeRateFromEloInvertsTheCurve) {
    struct Case {
        int32_t elo;
        int32_t rate;
    };
    const Case cases[] = {
        {0, 1}, {850, 1}, {900, 1 + 1 * 50 / 100}, {950, 2},
        {1250, 16}, {1925, 128}, {1900, 64 + 64 * 140 / 165},
        {2909, 262144 + 262144 * 49 / 55},
        {3025, 1 << 21}, {5000, 1 << 21},
    };
    for (const Case& c : cases) EXPECT_EQ(NodeRateFromElo(c.elo), c.rate) << c.elo;
}

TEST(EloCurve, BothDirectionsAreMonotonicAndAgreeAtTablePoints) {
    int32_t previous = NodeRateFromElo(EloTable[0]);
    for (int32_t elo = EloTable[0] + 1; elo <= EloTable[ELO_TABLE_SIZE - 1]; ++elo) {
        const int32_t rate = NodeRateFromElo(elo);
        ASSERT_GE(rate, previous) << elo;
        // The rate of an Elo never buys more than that Elo.
        ASSERT_LE(EloFromNodeRate(rate), elo) << elo;
        previous = rate;
    }
    int32_t previousElo = EloFromNodeRate(1);
    for (int64_t rate = 2; rate <= MAX_CURVE_NODE_RATE + 10; rate += 1 + rate / 64) {
        const int32_t elo = EloFromNodeRate(rate);
        ASSERT_GE(elo, previousElo) << rate;
        previousElo = elo;
    }
    for (int i = 0; i < ELO_TABLE_SIZE; ++i) {
        EXPECT_EQ(EloFromNodeRate(int64_t{1} << i), EloTable[i]) << i;
        EXPECT_EQ(NodeRateFromElo(EloTable[i]), 1 << i) << i;
    }
}

}  // namespace
}  // namespace tavrix
