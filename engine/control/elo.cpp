#include "control/elo.h"

namespace tavrix {

int32_t EloFromNodeRate(int64_t nodeRate) {
    if (nodeRate <= 1) return EloTable[0];
    if (nodeRate >= MAX_CURVE_NODE_RATE) return EloTable[ELO_TABLE_SIZE - 1];
    int i = 1;
    while ((int64_t{1} << i) < nodeRate) ++i;
    const int64_t low = int64_t{1} << (i - 1);
    const int64_t rise = EloTable[i] - EloTable[i - 1];
    return static_cast<int32_t>(EloTable[i - 1] + rise * (nodeRate - low) / low);
}

int32_t NodeRateFromElo(int32_t elo) {
    if (elo <= EloTable[0]) return 1;
    if (elo >= EloTable[ELO_TABLE_SIZE - 1]) return MAX_CURVE_NODE_RATE;
    int j = 1;
    while (EloTable[j] < elo) ++j;
    const int64_t low = int64_t{1} << (j - 1);
    const int64_t span = EloTable[j] - EloTable[j - 1];
    return static_cast<int32_t>(low + low * (elo - EloTable[j - 1]) / span);
}

}  // namespace tavrix
