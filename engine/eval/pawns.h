// Pawn structure.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Pawn-structure score from White's view; the indicators give the side to move (1/0).
int32_t EvaluatePawns(Position& pos, int32_t whiteIndicator, int32_t blackIndicator);

}  // namespace tavrix
