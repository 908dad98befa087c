// Small move services shared by the search: stored-move validation and the check test.
#pragma once

#include "board/position.h"

namespace tavrix {

// 1 when `move` (from the table, a killer or a PV) is pseudo-legal for `side` in the
// position, else 0; completes the move's kind bits.
int ValidateMove(Colour side, const Position& pos, Move& move);
// 0 when the move gives no check, else the checking piece kind + 8 x the line direction.
int GivesCheck(const Position& pos, Move move, Colour side);

}  // namespace tavrix
