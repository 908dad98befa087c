// Move services shared by generation, the search and the position set-up: the check test,
// the validation of stored or parsed moves, and the legality test by make and unmake.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "board/tables.h"

namespace tavrix {

// 0 when the move of `side` gives no check, else the checking piece kind + 8 x the direction
// from the checker toward the king (direct or discovered; promotions check with the new piece).
int GivesCheck(const Position& p, Move move, Colour side);

// The enemy king's surroundings read once, so that many moves of one list can be tested for
// check with a few bit tests instead of a ray walk each.
struct CheckSquares {
    uint64_t direct[8];    // by piece type: squares from which that piece would attack the king
    uint64_t discoverers;  // the side's pieces that alone shut a line from its slider to the king
    uint64_t shadow[8];    // by direction from the king: the line up to that slider
    uint8_t slider[8];     // by direction: the uncovered slider's type
    int king;
};
void FindCheckSquares(const Position& p, Colour side, CheckSquares& cs);

// GivesCheck's checking piece kind (code & 7), or 0; `cs` is of the same position and side.
inline int CheckKind(const Position& p, const CheckSquares& cs, Move move, Colour side) {
    // Castling, en passant and promotions empty or fill a second square: the full test.
    if (move & (MoveKind::CASTLING | MoveKind::PROMOTION_BIT)) return GivesCheck(p, move, side) & 7;
    const int from = MoveFrom(move), to = MoveTo(move);
    const PieceType type = p.pieceType[from];
    if ((cs.direct[type] >> to) & 1) return type;
    if ((cs.discoverers >> from) & 1) {
        const int d = DirectionTable[from][cs.king];
        if (!((cs.shadow[d] >> to) & 1)) return cs.slider[d];
    }
    return 0;
}

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
