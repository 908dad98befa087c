// Piece-square tables and piece placement terms.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "eval/eval_geometry.h"

namespace tavrix {

// Centrality of a square: 0 in the corners up to 12 in the centre.
constexpr int8_t Centrality[64] = {
    0, 1, 2, 3,  3,  2, 1, 0,  //
    1, 3, 5, 6,  6,  5, 3, 1,  //
    2, 5, 8, 9,  9,  8, 5, 2,  //
    3, 6, 9, 12, 12, 9, 6, 3,  //
    3, 6, 9, 12, 12, 9, 6, 3,  //
    2, 5, 8, 9,  9,  8, 5, 2,  //
    1, 3, 5, 6,  6,  5, 3, 1,  //
    0, 1, 2, 3,  3,  2, 1, 0,
};

// Pawn table by square from White's side (Black reads it mirrored).
constexpr int8_t PawnBase[64] = {
    0,  0,  0,  0,  0,  0,  0,  0,   //
    0,  0,  -1, -2, -2, -1, 0,  0,   //
    3,  4,  8,  9,  9,  8,  4,  3,   //
    3,  8,  16, 22, 22, 16, 8,  3,   //
    7,  10, 19, 25, 25, 19, 10, 7,   //
    11, 14, 22, 28, 28, 22, 14, 11,  //
    14, 17, 24, 30, 30, 24, 17, 14,  //
    0,  0,  0,  0,  0,  0,  0,  0,
};

// Rank of a square counted from `c`'s own first rank, 0..7.
constexpr int RelativeRank(Colour c, int sq) { return c == WHITE ? RankOf(sq) : 7 - RankOf(sq); }
using geometry::FileRankDistance;

}  // namespace tavrix
