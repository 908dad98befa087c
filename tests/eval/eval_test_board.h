// Evaluation test positions from FEN text.
#pragma once

#include <string>

#include "board/position.h"
#include "support/fen_position.h"

namespace tavrix::evaltest {

using testing_support::FlipFen;

// The position of a FEN, with the search's root in the second record and the set-up
// record below it.
inline Position MakePosition(const std::string& fen) {
    Position p;
    testing_support::LoadFen(p, fen);
    p.undoStack[1] = p.undoStack[0];
    p.undoStack[1].move = SENTINEL_MOVE;
    p.undoTop = 1;
    return p;
}

// One bishop each, on squares of different shades, and equal piece points of at most 11:
// the opposite-bishop scaling may apply. It rounds from White's view, so a Black-to-move
// position can score one unit above its colour-flipped twin.
inline bool OppositeBishops(const Position& p) {
    constexpr uint32_t POINTS = 0xFF, BISHOPS = 3u << 22;
    constexpr uint32_t ONE_BISHOP = 1u << 22;
    if ((p.materialSignature[WHITE] & BISHOPS) != ONE_BISHOP || (p.materialSignature[BLACK] & BISHOPS) != ONE_BISHOP)
        return false;
    if ((p.materialSignature[WHITE] & POINTS) != (p.materialSignature[BLACK] & POINTS)) return false;
    auto bishopSquare = [&p](Colour c) { return p.slotSquare[c][__builtin_ctz(p.bishopSlots[c])]; };
    return IsDarkSquare(bishopSquare(WHITE)) != IsDarkSquare(bishopSquare(BLACK));
}

}  // namespace tavrix::evaltest
