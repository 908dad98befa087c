// Move services shared by generation, the search and the position set-up: the check test,
// the validation of stored or parsed moves, and the legality test by make and unmake.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// 0 when the move of `side` gives no check, else the checking piece kind + 8 x the direction
// from the checker toward the king (direct or discovered; promotions check with the new piece).
int GivesCheck(const Position& p, Move move, Colour side);

// 1 when `move` is pseudo-legal for `side` in the position, else 0. Completes the kind bits:
// capture 4, en passant 5, castling 1, queen promotion when a push to the last rank names none.
int ValidateMove(Colour side, const Position& p, Move& move);

// Makes the move, tests whether the mover's king is attacked, takes the move back.
bool IsLegalAfterMake(Position& p, Move move);

// Whether the side to move is in check.
inline bool InCheck(const Position& p) {
    return p.attackMap[p.sideToMove ^ 1].square[KingSquare(p, p.sideToMove)].attackWeight != 0;
}

}  // namespace tavrix
