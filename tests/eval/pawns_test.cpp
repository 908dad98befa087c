#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"
#include "eval/eval_cache.h"
#include "eval/evaluate.h"
#include "eval/king.h"
#include "eval/pawns.h"
#include "king_pawn_support.h"

namespace tavrix {
namespace {

using testing_support::Board;
using testing_support::FlipFen;
using testing_support::SquareOf;

int32_t PawnScore(const std::string& fen) {
    Board b(fen);
    EXPECT_TRUE(b.ok) << fen;
    if (!b.ok) return 0;
    const Colour stm = (*b).sideToMove;
    return EvaluatePawns(*b, stm == WHITE ? 1 : 0, stm == BLACK ? 1 : 0);
}

// White passer c6 (defended by b5, the king d7 guarding its path) with a rook on c1.
TEST(PassedPawns, RookBehindThePasser) {
    const char* without = "7k/3K4/2P4n/1P6/7b/8/8/8 w";
    const char* whiteRook = "7k/3K4/2P4n/1P6/7b/8/8/2R5 w";
    const char* blackRook = "7k/3K4/2P4n/1P6/7b/8/8/2r5 w";
    const int32_t base = PawnScore(without);
    ASSERT_EQ(Eval.gamePhase, 1);
    EXPECT_EQ(PawnScore(whiteRook) - base, 17);
    EXPECT_EQ(PawnScore(blackRook) - base, -21);
    // The same from Black's side, seen from White.
    const int32_t flipped = PawnScore(FlipFen(without));
    EXPECT_EQ(PawnScore(FlipFen(whiteRook)) - flipped, -17);
    EXPECT_EQ(PawnScore(FlipFen(blackRook)) - flipped, 21);
}

// A rammed isolated pawn: its whole term is the table value less the isolation cost, plus
// the candidate bonus, since no enemy pawn hits its advance square: |file - file of the
// king a8| + (rank 3 << endWeightEighth) + endWeightHalf (phase 1: 2 and 8; 4: 1 and 6;
// 9: 1 and 4).
TEST(WeakPawns, IsolatedPawnCostsByFileAndPhase) {
    struct Case { const char* fen; const char* square; int fileCost; int candidate; };
    const Case cases[] = {
        {"k7/8/8/3p4/3P4/8/8/7K w", "d4", 10, 3 + 12 + 8},
        {"kqr5/8/8/3p4/3P4/8/8/5RQK w", "d4", 10, 3 + 6 + 6},
        {"kqrbn3/8/8/3p4/3P4/8/8/3NBRQK w", "d4", 10, 3 + 6 + 4},
        {"k7/8/8/p7/P7/8/8/7K w", "a4", 4, 0 + 12 + 8},
        {"k7/8/8/5p2/5P2/8/8/K7 w", "f4", 8, 5 + 12 + 8},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        const int sq = SquareOf(c.square);
        EXPECT_EQ(PawnSide(*b, WHITE, 0),
                  Eval.pieceTables[PAWN][WHITE][sq] - c.fileCost - Eval.endWeightHalf + c.candidate)
            << c.fen << " phase " << Eval.gamePhase;
    }
}

// An isolated pawn can be backward too: d3 with e5 hitting d4 (phase 1) costs unsupported 7,
// isolated 10 + 8, backward 3, the advance square 4 + 4, less 4 as it is attacked no more
// often than defended; neither passed nor a candidate.
TEST(WeakPawns, IsolatedPawnIsAlsoBackward) {
    Board b("k7/8/8/4p3/8/3P4/8/7K w");
    ASSERT_TRUE(b.ok);
    ASSERT_EQ(Eval.gamePhase, 1);
    EXPECT_EQ(PawnSide(*b, WHITE, 0), Eval.pieceTables[PAWN][WHITE][SquareOf("d3")] - 7 - 18 - 3 - 8 + 4);
}

// b5 against a king on h8 runs through; with a king on c7 it is caught.
TEST(PassedPawns, UnstoppablePasserAgainstKingAndPawns) {
    struct Case { const char* pawnsOnly; const char* withKnight; int gain; };
    const Case cases[] = {
        {"7k/7p/8/1P6/8/8/8/4K3 w", "7k/7p/8/1P6/8/8/8/4K2n w", 160},
        {"7k/7p/8/1P6/8/8/8/4K3 b", "7k/7p/8/1P6/8/8/8/4K2n b", 160},
        {"8/2k4p/8/1P6/8/8/8/4K3 w", "8/2k4p/8/1P6/8/8/8/4K2n w", 0},
    };
    for (const Case& c : cases) {
        Board a(c.pawnsOnly);
        ASSERT_TRUE(a.ok) << c.pawnsOnly;
        const Colour stm = (*a).sideToMove;
        const int32_t bare = PawnSide(*a, WHITE, stm == BLACK ? 1 : 0);
        Board k(c.withKnight);
        ASSERT_TRUE(k.ok) << c.withKnight;
        ASSERT_EQ(Eval.gamePhase, 1);
        const int32_t guarded = PawnSide(*k, WHITE, stm == BLACK ? 1 : 0);
        EXPECT_EQ(bare - guarded, c.gain) << c.pawnsOnly;
    }
}

TEST(PawnShade, HyperModernLowersTheEngineSide) {
    struct Case { const char* fen; int change; };
    const Case cases[] = {
        // Start position: every pawn has its front square free, half centrality 12 in all.
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq", -6},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq", 6},
        // d4 blocked by d5 (full centrality 12), e2 free (3): White loses (12 + 3) >> 1.
        {"4k3/8/8/3p4/3P4/8/4P3/4K3 w", -7},
    };
    for (const Case& c : cases) {
        const int32_t off = PawnScore(c.fen);
        EvalOptions hyper;
        hyper.hyperModern = true;
        Board b(c.fen, hyper);
        ASSERT_TRUE(b.ok) << c.fen;
        const Colour stm = (*b).sideToMove;
        const int32_t on = EvaluatePawns(*b, stm == WHITE ? 1 : 0, stm == BLACK ? 1 : 0);
        EXPECT_EQ(on - off, c.change) << c.fen;
    }
}

TEST(PassedPawns, PawnOnTheSeventhThreatensPromotion) {
    struct Case { const char* fen; bool threat; };
    const Case cases[] = {
        {"7k/1P6/8/8/8/8/8/K7 w", true},    // b8 free and unguarded
        {"1r5k/1P6/8/8/8/8/8/K7 w", false}, // b8 occupied by a rook that does not hang
        {"7k/8/1P6/8/8/8/8/K7 w", false},   // sixth rank
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EvaluatePawns(*b, 1, 0);
        EXPECT_EQ(Eval.largestThreat[BLACK] > PAWN_VALUE, c.threat) << c.fen;
        EXPECT_EQ(Eval.secondThreat[BLACK], Eval.largestThreat[BLACK]) << c.fen;
    }
}

TEST(WeakPawns, DoubledAndBackwardPawnsCost) {
    struct Case { const char* better; const char* worse; };
    const Case cases[] = {
        // c3 and d2 against doubled c-pawns.
        {"4k3/8/8/8/8/2P5/3P4/4K3 w", "4k3/8/8/8/8/2P5/2P5/4K3 w"},
        // d3 behind c4 and e4 becomes backward when c5 controls d4.
        {"4k3/2p5/8/8/2P1P3/3P4/8/4K3 w", "4k3/8/8/2p5/2P1P3/3P4/8/4K3 w"},
    };
    for (const Case& c : cases) {
        Board better(c.better);
        ASSERT_TRUE(better.ok) << c.better;
        const int32_t good = PawnSide(*better, WHITE, 0);
        Board worse(c.worse);
        ASSERT_TRUE(worse.ok) << c.worse;
        EXPECT_GT(good, PawnSide(*worse, WHITE, 0)) << c.worse;
    }
}

// Every term seen from the other side gives the negated score.
TEST(Symmetry, ColourFlipNegatesKingThreatAndPawnTerms) {
    const char* fens[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq",
        "r1bq1rk1/pppp1ppp/2n2n2/2b1p3/2B1P3/2N2N2/PPPP1PPP/R1BQ1RK1 w",
        "5rk1/5ppp/8/7Q/8/3B4/5PPP/6K1 w",
        "6rk/6pp/8/6N1/8/8/5PPP/6K1 b",
        "2r1r2k/8/8/8/2B1B3/8/3N4/6K1 w",
        "7k/3K4/2P4n/1P6/7b/8/8/2r5 w",
        "r3k2r/pp3ppp/2n1b3/2Pp4/3P4/2NB1N2/P4PPP/R3K2R b KQkq",
        "8/5k2/1p4p1/pP1p3p/P2P3P/4K1P1/8/8 w",
        "2kr3r/ppp2ppp/2n5/3qp3/8/2P2N2/PP2QPPP/R4RK1 w",
    };
    for (const char* fen : fens) {
        const std::string flipped = FlipFen(fen);
        Board a(fen);
        ASSERT_TRUE(a.ok) << fen;
        const Colour stm = (*a).sideToMove;
        const int32_t kings = EvaluateKings(*a);
        const int32_t threats = EvaluateThreats(*a);
        const int32_t pawns = EvaluatePawns(*a, stm == WHITE ? 1 : 0, stm == BLACK ? 1 : 0);
        const int32_t largest[2] = {Eval.largestThreat[WHITE], Eval.largestThreat[BLACK]};
        const int32_t second[2] = {Eval.secondThreat[WHITE], Eval.secondThreat[BLACK]};
        const uint16_t marks = a.Flags() & 0x3F;
        Board b(flipped);
        ASSERT_TRUE(b.ok) << flipped;
        EXPECT_EQ(EvaluateKings(*b), -kings) << fen;
        EXPECT_EQ(EvaluateThreats(*b), -threats) << fen;
        EXPECT_EQ(EvaluatePawns(*b, stm == BLACK ? 1 : 0, stm == WHITE ? 1 : 0), -pawns) << fen;
        EXPECT_EQ(Eval.largestThreat[BLACK], largest[WHITE]) << fen;
        EXPECT_EQ(Eval.largestThreat[WHITE], largest[BLACK]) << fen;
        EXPECT_EQ(Eval.secondThreat[BLACK], second[WHITE]) << fen;
        EXPECT_EQ(Eval.secondThreat[WHITE], second[BLACK]) << fen;
        // Mate-threat, danger and check-threat marks change colour.
        EXPECT_EQ(b.Flags() & 0x3F, ((marks & 0x15) << 1) | ((marks >> 1) & 0x15)) << fen;
    }
}

// The pawn cache hands back exactly the facts a fresh look at the pawns finds, and the pawn
// score through it (with the king shield it keeps) is the score from fresh facts: checked at
// every position of random games from opening positions of master play, and at every child
// of those positions, where the structure repeats and the cache answers.
TEST(PawnCache, CachedFactsAreTheFreshFactsAlongGames) {
    constexpr int PLIES = 32;
    ResetMoveLists();
    std::mt19937 rng(20261209);
    std::ifstream in(std::string(TAVRIX_TEST_DATA) + "/eco-openings.epd");
    std::string line;
    int starts = 0, probes = 0, hits = 0, mismatches = 0;
    auto check = [&](Position& p) {
        ++probes;
        if (PawnCacheHit(p) != nullptr) ++hits;
        const PawnFacts& cached = ProbePawnCache(p);
        PawnFacts fresh;
        FindPawnFacts(p, fresh);
        for (Colour c = WHITE; c <= BLACK; ++c)
            if (fresh.pawns[c] != cached.pawns[c] || !(fresh.side[c] == cached.side[c])) ++mismatches;
        UpdatePhase(p);   // the shield reads the phase, as in a search
        const EvalState before = Eval;
        const int32_t viaCache = EvaluatePawns(p, p.sideToMove == WHITE, p.sideToMove == BLACK);
        const EvalState after = Eval;
        Eval = before;
        std::memset(Eval.pawnShadeWeight, 0, sizeof Eval.pawnShadeWeight);
        const int32_t viaFresh = PawnSide(p, WHITE, p.sideToMove == BLACK, &fresh) -
                                 PawnSide(p, BLACK, p.sideToMove == WHITE, &fresh);
        if (viaCache != viaFresh || std::memcmp(after.pawnShadeWeight, Eval.pawnShadeWeight, sizeof after.pawnShadeWeight) ||
            std::memcmp(after.largestThreat, Eval.largestThreat, sizeof after.largestThreat) ||
            std::memcmp(after.secondThreat, Eval.secondThreat, sizeof after.secondThreat))
            ++mismatches;
    };
    while (std::getline(in, line) && mismatches == 0) {
        const std::string fen = line.substr(0, line.find(" c0"));
        Board b(fen);
        ASSERT_TRUE(b.ok) << fen;
        Position& p = *b;
        ++starts;
        for (int ply = 0; ply < PLIES && p.undoTop < UNDO_STACK_SIZE - 2; ++ply) {
            const Colour side = p.sideToMove;
            uint32_t flags = 0;
            const int count = InCheck(p) ? GenerateEvasions(p, side, 0, GenMode::FULL, flags)
                                         : GenerateAllMoves(p, side, 0, GenMode::FULL);
            std::vector<Move> legal;
            for (const ScoredMove* m = ListBegin(0); m != ListBegin(0) + count; ++m) {
                const Move move = static_cast<Move>(m->move & ~CHECK_MARK);
                MakeMove(p, move);
                if (p.attackMap[side ^ 1].square[KingSquare(p, side)].attackWeight == 0) {
                    legal.push_back(move);
                    check(p);
                }
                UnmakeMove(p);
            }
            if (legal.empty()) break;
            MakeMove(p, legal[rng() % legal.size()]);
            check(p);
        }
        EXPECT_EQ(mismatches, 0) << "from " << fen;
    }
    EXPECT_GT(starts, 200);
    // Quiet piece moves keep the pawns: most probes are answered by the cache.
    EXPECT_GT(hits, probes / 2) << probes << " probes";
    ResetEvalState();
}

}  // namespace
}  // namespace tavrix
