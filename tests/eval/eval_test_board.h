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

}  // namespace tavrix::evaltest
