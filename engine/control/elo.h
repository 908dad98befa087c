// The strength curve: Elo against the node rate (nodes per second) of a limited search.
#pragma once

#include <cstdint>

namespace tavrix {

constexpr int ELO_TABLE_SIZE = 22;
// Index i = log2 of the node rate.
constexpr int16_t EloTable[ELO_TABLE_SIZE] = {850,  950,  1050, 1150, 1250, 1555, 1760, 1925,
                                              2060, 2170, 2270, 2360, 2450, 2530, 2610, 2680,
                                              2745, 2805, 2860, 2915, 2970, 3025};
constexpr int32_t MAX_CURVE_NODE_RATE = int32_t{1} << (ELO_TABLE_SIZE - 1);

// Rates of 1 or less give the bottom of the curve, rates beyond the table its top.
int32_t EloFromNodeRate(int64_t nodeRate);
// Elo at or below the bottom gives 1 node per second, at or above the top 2^21.
int32_t NodeRateFromElo(int32_t elo);

}  // namespace tavrix
