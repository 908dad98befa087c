#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "board_test_util.h"
#include "search/search_state.h"

namespace tavrix {
namespace {

using test::ExpectConsistent;
using test::ExpectRestored;

struct Walker {
    Position p;
    uint32_t castleTerm[UNDO_STACK_SIZE];
    int depthIndex = 0;
    uint64_t checks = 0;

    bool Start(const std::string& fen) {
        if (!test::LoadFen(p, fen)) return false;
        depthIndex = 0;
        castleTerm[0] = test::CastleTermOfSetUp(p);
        ExpectConsistent(p, castleTerm[0], "set-up " + fen);
        return true;
    }
    std::string Where(Move m) const {
        return "move " + std::to_string(MoveFrom(m)) + "-" + std::to_string(MoveTo(m)) + " kind " +
               std::to_string(KindOf(m) >> 12) + " ply " + std::to_string(p.ply);
    }
    // Makes the move and checks everything; returns false (and takes it back) if illegal.
    bool Make(Move m) {
        const uint32_t next = castleTerm[depthIndex] ^ test::CastleTermChange(p, m);
        MakeMove(p, m);
        castleTerm[++depthIndex] = next;
        ++checks;
        ExpectConsistent(p, next, "after " + Where(m));
        if (test::LeftKingAttacked(p)) {
            Unmake();
            return false;
        }
        return true;
    }
    void Unmake() {
        UnmakeMove(p);
        --depthIndex;
        ExpectConsistent(p, castleTerm[depthIndex], "after unmake");
    }
};

// Plays each move, takes it back and compares the whole record with the one before.
void WalkAndCompare(Walker& w, int depth) {
    if (depth == 0 || ::testing::Test::HasFailure()) return;
    for (Move m : test::PseudoLegalMoves(w.p)) {
        const Position before = w.p;
        if (w.Make(m)) {
            WalkAndCompare(w, depth - 1);
            w.Unmake();
        }
        ExpectRestored(w.p, before, "unmake of " + w.Where(m));
        if (::testing::Test::HasFailure()) return;
    }
    // The null move only where the side to move is not in check.
    if (w.p.attackMap[w.p.sideToMove ^ 1].square[KingSquare(w.p, w.p.sideToMove)].attackWeight == 0) {
        const Position before = w.p;
        MakeNullMove(w.p);
        w.castleTerm[w.depthIndex + 1] = w.castleTerm[w.depthIndex];
        ++w.depthIndex;
        ExpectConsistent(w.p, w.castleTerm[w.depthIndex], "after null move");
        UnmakeNullMove(w.p);
        --w.depthIndex;
        ExpectRestored(w.p, before, "null move");
    }
}

std::vector<std::string> SuiteFens() {
    std::vector<std::string> fens;
    std::ifstream in(std::string(TAVRIX_TEST_DATA) + "/perftsuite.epd");
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) fens.push_back(line.substr(0, line.find(';')));
    return fens;
}

TEST(BoardInvariants, PerftSuiteTwoPlies) {
    const auto fens = SuiteFens();
    ASSERT_EQ(fens.size(), 127u);
    for (const std::string& fen : fens) {
        Walker w;
        ASSERT_TRUE(w.Start(fen)) << fen;
        SCOPED_TRACE(fen);
        WalkAndCompare(w, 2);
        if (HasFailure()) return;
    }
}

TEST(BoardInvariants, RandomGames) {
    std::mt19937 rng(20240611);
    const auto fens = SuiteFens();
    for (int game = 0; game < 300; ++game) {
        Walker w;
        const std::string fen = game % 3 == 0 ? "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
                                              : fens[rng() % fens.size()];
        ASSERT_TRUE(w.Start(fen));
        SCOPED_TRACE(fen);
        std::vector<Position> history;
        const int length = 10 + rng() % 50;
        for (int ply = 0; ply < length && w.depthIndex < UNDO_STACK_SIZE - 2; ++ply) {
            std::vector<Move> moves = test::PseudoLegalMoves(w.p);
            std::shuffle(moves.begin(), moves.end(), rng);
            bool moved = false;
            for (Move m : moves) {
                history.push_back(w.p);
                if (w.Make(m)) {
                    moved = true;
                    break;
                }
                history.pop_back();
                if (HasFailure()) return;
            }
            if (!moved) break;
            const bool inCheck =
                w.p.attackMap[w.p.sideToMove ^ 1].square[KingSquare(w.p, w.p.sideToMove)].attackWeight != 0;
            if (!inCheck && rng() % 8 == 0) {
                history.push_back(w.p);
                MakeNullMove(w.p);
                w.castleTerm[w.depthIndex + 1] = w.castleTerm[w.depthIndex];
                ++w.depthIndex;
                ExpectConsistent(w.p, w.castleTerm[w.depthIndex], "null move in game");
            }
            if (HasFailure()) return;
        }
        // Take the whole game back, comparing each step with the record made on the way.
        while (!history.empty()) {
            if (w.p.undoStack[w.p.undoTop].move == NO_MOVE) {
                UnmakeNullMove(w.p);
                --w.depthIndex;
            } else {
                w.Unmake();
            }
            ExpectRestored(w.p, history.back(), "taking back the game");
            history.pop_back();
            if (HasFailure()) return;
        }
    }
}

}  // namespace
}  // namespace tavrix
