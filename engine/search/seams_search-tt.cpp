// Temporary until board-gen lands; removed at merge.
#include "board/moveservices.h"

namespace tavrix {

// Rough stand-in: the mover must be the side's piece and the target not its own.
int ValidateMove(Colour side, const Position& pos, Move& move) {
    const int from = MoveFrom(move), to = MoveTo(move);
    if (move == NO_MOVE || pos.pieceColour[from] != side || pos.pieceColour[to] == side) return 0;
    if (pos.pieceColour[to] == (side ^ 1) && !IsPromotion(move)) move = Move((move & ~MoveKind::MASK) | MoveKind::CAPTURE);
    return 1;
}

int GivesCheck(const Position&, Move, Colour) { return 0; }

}  // namespace tavrix
