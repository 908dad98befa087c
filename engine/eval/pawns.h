// Pawn structure.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Pawn-structure score from White's view; the indicators give the side to move (1/0).
int32_t EvaluatePawns(Position& pos, int32_t whiteIndicator, int32_t blackIndicator);
// One side's pawn score before the White-minus-Black sum; themToMove is 1 when the other
// side is to move. Adds to pawnShadeWeight and the other side's threat lists.
int32_t PawnTerm(Position& pos, Colour us, int32_t themToMove);

}  // namespace tavrix
