// Quiescence search: captures, checks near the horizon, threat answers and evasions.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Evasions are only searched for threat answers when there are more than this many,
// indexed by -depth (6 and deeper use the last entry).
constexpr int32_t EVASION_LIMIT[7] = {15, 15, 4, 3, 2, 1, 0};
// Base of the check bonus that the quiescence scorer gives checking moves, by -depth.
constexpr int32_t CHECK_BONUS_BASE[7] = {152, 152, 88, 88, 56, 56, 56};

// Generation modes of the quiescence lists.
namespace QuiesceMode {
constexpr int CAPTURES = 1;
constexpr int CHECKS = 2;
constexpr int CHECKS_AND_PUSHES = 6;
}  // namespace QuiesceMode

// Local marks of a quiescence node beside its forced-move count (low byte).
namespace ForcedMark {
constexpr uint32_t COUNT_MASK = 0x00FF;
constexpr uint32_t PERPETUAL = 0x0400;      // in check at each of the last ten own moves
constexpr uint32_t DOUBLE_CHECK = 0x2000;   // from the evasion flags
constexpr uint32_t DISCOVERED = 0x4000;     // checker not on the last to-square
constexpr uint32_t RECAPTURE = 0x8000;      // moves to the last to-square are always searched
}  // namespace ForcedMark

constexpr int32_t PERPETUAL_MOVES = 10;     // own moves in check that count as a perpetual
constexpr int32_t FORCED_SCORE_FLOOR = -7699;
constexpr int32_t PERPETUAL_CEILING = 7700;

// Quiescence search at `ply` with `depth` 0, -1, -2, ... in the window (alpha, beta).
// Fail-soft; Search.pv[ply] holds the best line on return.
int32_t Quiesce(Position& pos, int32_t ply, int32_t depth, int32_t alpha, int32_t beta, uint32_t flags);

// True when `mask` (bit m: in check at own move m) has every bit from m - 9 to m set.
constexpr bool IsPerpetualCheck(uint32_t mask, int32_t moveNumber) {
    if (moveNumber < PERPETUAL_MOVES - 1 || moveNumber > 31) return false;
    const uint32_t run = ((1u << PERPETUAL_MOVES) - 1) << (moveNumber - (PERPETUAL_MOVES - 1));
    return (mask & run) == run;
}

}  // namespace tavrix
