// Test boards for the king and pawn terms: a FEN position with the evaluation state
// prepared for a search from it.
#pragma once

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "board/position.h"
#include "eval/evaluate.h"
#include "support/fen_position.h"

namespace tavrix::testing_support {

inline int SquareOf(const char* name) { return (name[1] - '1') * 8 + (name[0] - 'a'); }

// A position with the evaluation prepared for a search from it (root side = side to move).
struct Board {
    std::unique_ptr<Position> pos = std::make_unique<Position>();
    bool ok = false;

    explicit Board(const std::string& fen, EvalOptions options = {}) {
        ResetEvalState();
        ok = LoadFen(*pos, fen);
        if (!ok) return;
        PrepareEvaluation(*pos, pos->sideToMove, options);
        UpdatePhase(*pos);
        RefreshPawnFiles(*pos);
        ClearMarks();
    }
    void ClearMarks() {
        UndoTop(*pos).checkFlag &= IN_CHECK_FLAG;
        for (int c = 0; c < 2; ++c) Eval.largestThreat[c] = Eval.secondThreat[c] = 0;
    }
    uint16_t Flags() const { return UndoTop(*pos).checkFlag; }
    Position& operator*() { return *pos; }
};

}  // namespace tavrix::testing_support
