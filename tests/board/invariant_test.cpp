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

namespace tavrix {
namespace {

// Leaf count of legal sequences, legality judged by the attack maps after make.
uint64_t Perft(Position& p, int depth) {
    if (depth == 0) return 1;
    uint64_t nodes = 0;
    for (Move m : test::PseudoLegalMoves(p)) {
        MakeMove(p, m);
        if (!test::LeftKingAttacked(p)) nodes += Perft(p, depth - 1);
        UnmakeMove(p);
    }
    return nodes;
}

struct SuiteEntry {
    std::string fen;
    std::vector<uint64_t> counts;  // counts[d - 1] for depth d
};

std::vector<SuiteEntry> SuiteWithCounts() {
    std::vector<SuiteEntry> out;
    std::ifstream in(std::string(TAVRIX_TEST_DATA) + "/perftsuite.epd");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        SuiteEntry e;
        e.fen = line.substr(0, line.find(';'));
        for (size_t at = line.find(";D"); at != std::string::npos; at = line.find(";D", at + 1)) {
            std::istringstream field(line.substr(at + 2));
            int depth = 0;
            uint64_t count = 0;
            field >> depth >> count;
            e.counts.resize(std::max<size_t>(e.counts.size(), depth));
            e.counts[depth - 1] = count;
        }
        out.push_back(e);
    }
    return out;
}

// Make, unmake and the maps decide legality; the counts must match the published ones,
// except where a side could promote to a fourth knight, which is never generated.
TEST(BoardInvariants, LegalMoveCountsMatchPublishedPerft) {
    constexpr uint64_t NODE_BUDGET = 60000;
    const std::string fourthKnight = "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N";
    for (const SuiteEntry& e : SuiteWithCounts()) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, e.fen)) << e.fen;
        for (int depth = 1; depth <= static_cast<int>(e.counts.size()) && e.counts[depth - 1] <= NODE_BUDGET; ++depth) {
            const uint64_t count = Perft(p, depth);
            if (e.fen.rfind(fourthKnight, 0) == 0 && depth >= 3) {
                EXPECT_LT(count, e.counts[depth - 1]) << e.fen;
            } else {
                EXPECT_EQ(count, e.counts[depth - 1]) << e.fen << " depth " << depth;
            }
        }
    }
}

// Chess960 set-ups with rights given as rook files: published counts, and the full
// invariant walk through their castling moves.
TEST(BoardInvariants, Chess960CastlingCountsAndInvariants) {
    struct Case { const char* fen; uint64_t d1, d2, d3; };
    const Case cases[] = {
        {"bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9", 21, 528, 12189},
        {"2nnrbkr/p1qppppp/8/1ppb4/6PP/3PP3/PPP2P2/BQNNRBKR w HEhe - 1 9", 21, 807, 18002},
    };
    for (const Case& c : cases) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, c.fen));
        EXPECT_EQ(p.chess960, 1);
        EXPECT_EQ(Perft(p, 1), c.d1) << c.fen;
        EXPECT_EQ(Perft(p, 2), c.d2) << c.fen;
        EXPECT_EQ(Perft(p, 3), c.d3) << c.fen;
    }
    // Positions where castling is available at once, king and rook trading places or not.
    const char* walks[] = {
        "r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1",
        "1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1",
        "rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1",
        "2r1kr2/2p2p2/8/8/8/8/2P2P2/2R1KR2 w FCfc - 0 1",
        "4k3/8/8/8/8/8/8/5KR1 w G - 0 1",
    };
    for (const char* fen : walks) {
        Walker w;
        ASSERT_TRUE(w.Start(fen)) << fen;
        SCOPED_TRACE(fen);
        bool castled = false;
        for (Move m : test::PseudoLegalMoves(w.p)) castled |= IsCastling(m);
        EXPECT_TRUE(castled);
        WalkAndCompare(w, 3);
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace tavrix

namespace tavrix {
namespace {

// The key word the tables index by, foretold before a move for the prefetch of its entries,
// is the word make leaves: every pseudo-legal move two plies deep from the suite positions
// and from Chess960 set-ups whose castling moves the king onto or past its rook.
TEST(BoardInvariants, KeyHighWordForetoldBeforeTheMove) {
    std::vector<std::string> fens = SuiteFens();
    fens.push_back("1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1");
    fens.push_back("rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1");
    int moves = 0;
    for (const std::string& fen : fens) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, fen)) << fen;
        for (const Move m : test::PseudoLegalMoves(p)) {
            const uint32_t foretold = KeyHighAfter(p, m);
            MakeMove(p, m);
            ++moves;
            EXPECT_EQ(foretold, p.hashKey[1]) << fen << " move " << MoveFrom(m) << "-" << MoveTo(m);
            for (const Move reply : test::PseudoLegalMoves(p)) {
                const uint32_t next = KeyHighAfter(p, reply);
                MakeMove(p, reply);
                ++moves;
                EXPECT_EQ(next, p.hashKey[1]) << fen << " reply " << MoveFrom(reply) << "-" << MoveTo(reply);
                UnmakeMove(p);
            }
            UnmakeMove(p);
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(moves, 20000);
}

// Every piece the other side attacks is in the threatened set, which the threat term walks
// instead of all pieces: along random games from the suite positions, at every child of
// every position reached, and back through the takebacks.
TEST(BoardInvariants, ThreatenedSetHoldsEveryAttackedPiece) {
    std::mt19937 rng(20261209);
    auto missing = [](const Position& p) {
        int count = 0;
        for (Colour c = WHITE; c <= BLACK; ++c)
            for (SlotMask s = p.liveSlots[c] & ~1u; s; s &= s - 1) {
                const int slot = __builtin_ctz(s);
                const bool attacked = p.attackMap[c ^ 1].square[p.slotSquare[c][slot]].attackWeight != 0;
                if (attacked && !(p.threatenedSlots[c] >> slot & 1)) ++count;
            }
        return count;
    };
    int positions = 0;
    for (const std::string& fen : SuiteFens()) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, fen)) << fen;
        int made = 0;
        for (; made < 40; ++made) {
            std::vector<Move> legal;
            for (const Move m : test::PseudoLegalMoves(p)) {
                MakeMove(p, m);
                ++positions;
                EXPECT_EQ(missing(p), 0) << fen << " after " << MoveFrom(m) << "-" << MoveTo(m);
                if (!test::LeftKingAttacked(p)) legal.push_back(m);
                UnmakeMove(p);
            }
            if (legal.empty() || HasFailure()) break;
            MakeMove(p, legal[rng() % legal.size()]);
        }
        for (; made > 0; --made) {
            UnmakeMove(p);
            EXPECT_EQ(missing(p), 0) << fen << " taking back";
        }
        if (HasFailure()) return;
    }
    EXPECT_GT(positions, 50000);
}

}  // namespace
}  // namespace tavrix
