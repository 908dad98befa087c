// Pawn structure.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Pawn-structure score from White's view; the indicators give the side to move (1/0).
int32_t EvaluatePawns(Position& pos, int32_t whiteIndicator, int32_t blackIndicator);
// One side's pawn score before the White-minus-Black sum; themToMove is 1 when the other
// side is to move. Adds to pawnShadeWeight and the other side's threat lists.
int32_t PawnSide(Position& pos, Colour us, int32_t themToMove);

// The weak-pawn terms of one pawn, shared by the pawn structure and the pawn endings.
struct WeakPawnTerms {
    int32_t penalty;     // unsupported, blockaded and backward, to subtract
    bool isolated;       // no own pawn on either adjacent file (its cost is the caller's)
    bool backward;
};
// `own` and `opp` are the pawn bytes of `us` and of the enemy seen from `us` (bit r = a pawn
// on `us`'s rank r), indexed file + 1 with empty guards; openToHeavy: the file is open ahead
// and the enemy has a rook or queen.
// The board's pawn bytes of `us` and of the enemy in that form.
void RelativePawnFiles(const Position& pos, Colour us, uint8_t own[10], uint8_t opp[10]);
WeakPawnTerms WeakPawn(const Position& pos, Colour us, int sq, const uint8_t own[10], const uint8_t opp[10],
                       bool openToHeavy);

}  // namespace tavrix
