#include <gtest/gtest.h>

#include <string>

#include "eval/evaluate.h"
#include "eval/material.h"
#include "eval/pieces.h"
#include "eval_test_board.h"

namespace tavrix {
namespace {

class EndgameTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEvalState(); }

    // The position prepared as a search root with the given draw value (hundredths of a pawn).
    static Position Root(const std::string& fen, int drawValue = 0) {
        Position p = evaltest::MakePosition(fen);
        EvalOptions options;
        options.drawValue = StoredDrawValue(drawValue);
        PrepareEvaluation(p, p.sideToMove, options);
        return p;
    }

    static int32_t Full(Position& p, int32_t& kind) {
        const int32_t score = Evaluate(p, p.sideToMove, 1, HORIZON_DEPTH, -2 * MATE, 2 * MATE);
        kind = KindOfFlags(UndoTop(p).checkFlag);
        return score;
    }
};

TEST_F(EndgameTest, BareKingsAreARecognisedDraw) {
    for (int drawValue : {0, 50, -100}) {
        Position p = Root("8/8/3k4/8/8/4K3/8/8 w - - 0 1", drawValue);
        int32_t kind = 0;
        const int32_t score = Full(p, kind);
        EXPECT_EQ(kind, EvalKind::DRAW);
        EXPECT_EQ(score, DrawScore(WHITE));
        EXPECT_EQ(score, drawValue * PAWN_VALUE / 100);
    }
}

TEST_F(EndgameTest, TwoKnightsDrawUnlessTheLoneKingIsCornered) {
    struct Case { const char* fen; bool drawn; };
    const Case cases[] = {
        {"8/8/3k4/8/8/3NN3/4K3/8 w - - 0 1", true},
        {"8/8/3k4/8/8/3NN3/4K3/8 b - - 0 1", true},
        {"7k/8/5K2/8/8/3NN3/8/8 w - - 0 1", false},
        {"k7/8/1K6/8/8/3NN3/8/8 w - - 0 1", false},
    };
    for (const Case& c : cases) {
        Position p = Root(c.fen, 20);
        int32_t kind = 0;
        const int32_t score = Full(p, kind);
        const int32_t materialUnits = (p.material[p.sideToMove] - p.material[p.sideToMove ^ 1]) >> 7;
        if (c.drawn) {
            EXPECT_EQ(kind, EvalKind::DRAW) << c.fen;
            EXPECT_EQ(score, DrawScore(p.sideToMove) + materialUnits) << c.fen;
        } else {
            EXPECT_EQ(kind, EvalKind::ORDINARY) << c.fen;
            EXPECT_EQ(score, DrawScore(p.sideToMove)) << c.fen;
        }
    }
}

TEST_F(EndgameTest, StalemateRecogniser) {
    struct Case { const char* fen; Colour side; bool stalemate; };
    const Case cases[] = {
        {"k7/P7/1K6/8/8/8/8/8 b - - 0 1", BLACK, true},           // king boxed in, no pawns
        {"k7/P7/2K5/8/8/8/8/8 b - - 0 1", BLACK, false},          // b8 is free
        {"7k/5Q2/8/p7/P7/8/8/K7 b - - 0 1", BLACK, true},         // blocked pawn
        {"7k/5Q2/8/8/p7/8/8/K7 b - - 0 1", BLACK, false},         // the pawn can advance
        {"7k/5Q2/8/8/p7/1P6/8/K7 b - - 0 1", BLACK, false},       // the pawn can capture
        {"7k/5Q2/8/8/pP6/8/8/K7 b - b3 0 1", BLACK, false},        // en passant is a move
    };
    for (const Case& c : cases) {
        const Position p = evaltest::MakePosition(c.fen);
        EXPECT_EQ(IsPawnStalemate(p, c.side), c.stalemate) << c.fen;
    }
}

TEST_F(EndgameTest, KingAndPawnAgainstKing) {
    struct Case { Colour pawnSide; const char* pawnKing; const char* otherKing; const char* pawn; bool won; };
    const Case cases[] = {
        {WHITE, "h1", "a8", "a5", false},   // defending king in front of the rook pawn
        {WHITE, "e1", "a7", "a4", false},
        {WHITE, "h1", "c8", "a7", true},    // pawn on a7, defender on the c-file
        {WHITE, "h1", "g6", "a7", true},
        {WHITE, "h1", "b6", "a7", true},    // promotion square out of the king's reach
        {WHITE, "h1", "b7", "a7", false},   // b7 guards a8 and attacks the pawn
        {WHITE, "e6", "e8", "e5", true},    // king in front with the opposition (pawn side to move: wins)
        {WHITE, "d1", "d5", "e2", false},   // defender far nearer to the pawn
        {WHITE, "f6", "a1", "e5", true},
        {BLACK, "h8", "c1", "a2", true},    // Black's view of the a7 case
        {BLACK, "a8", "h1", "h4", false},   // mirrored: rook pawn with the king in front
    };
    auto sq = [](const char* s) { return MakeSquare(s[0] - 'a', s[1] - '1'); };
    for (const Case& c : cases) {
        int32_t kind = 0;
        const int32_t value = ClassifyKingPawnVsKing(c.pawnSide, sq(c.pawnKing), sq(c.otherKing), sq(c.pawn), kind);
        EXPECT_EQ(kind, c.won ? EvalKind::WIN : EvalKind::TABLEBASE_DRAW) << c.pawnKing << c.otherKing << c.pawn;
        if (c.won) {
            EXPECT_GT(value, 1000) << c.pawn;
        } else {
            EXPECT_EQ(value, DrawScore(c.pawnSide)) << c.pawn;
        }
    }
}

TEST_F(EndgameTest, KingAndPawnWinValueRisesWithThePawn) {
    int32_t kind = 0;
    const int32_t third = ClassifyKingPawnVsKing(WHITE, MakeSquare(3, 3), MakeSquare(0, 7), MakeSquare(3, 2), kind);
    const int32_t sixth = ClassifyKingPawnVsKing(WHITE, MakeSquare(3, 6), MakeSquare(0, 7), MakeSquare(3, 5), kind);
    EXPECT_GT(sixth, third);
}

TEST_F(EndgameTest, KingAndPawnWithTheDefenderToMove) {
    struct Case { const char* fen; int kind; };
    const Case cases[] = {
        {"4k3/8/4K3/4P3/8/8/8/8 b - - 0 1", EvalKind::LOSS},            // opposition kept: lost
        {"4k3/8/8/3KP3/8/8/8/8 b - - 0 1", EvalKind::TABLEBASE_DRAW},   // defender takes the opposition
        {"8/8/8/8/8/2k5/3P4/7K b - - 0 1", EvalKind::TABLEBASE_DRAW},  // the pawn falls
    };
    for (const Case& c : cases) {
        Position p = Root(c.fen);
        int32_t kind = 0;
        const int32_t value = EvaluateKingPawnVsKing(p, BLACK, WHITE, kind, p.attackMap[WHITE]);
        EXPECT_EQ(kind, c.kind) << c.fen;
        if (c.kind == EvalKind::LOSS) {
            EXPECT_LT(value, -1000) << c.fen;
        } else {
            EXPECT_EQ(value, DrawScore(BLACK)) << c.fen;
        }
    }
}

TEST_F(EndgameTest, BishopAndWrongRookPawn) {
    struct Case { const char* fen; int scale; int kind; };
    const Case cases[] = {
        // Dark-squared bishop, a-pawn, defender in the light a8 corner: draw.
        {"k7/8/8/P7/8/8/3B4/4K3 w - - 0 1", 1, EvalKind::TABLEBASE_DRAW},
        // Light-squared bishop is the right one: nothing to say.
        {"k7/8/8/P7/8/8/2B5/4K3 w - - 0 1", 16, EvalKind::ORDINARY},
        // Wrong bishop, defender next to the corner but with a pawn of its own: scale only.
        {"8/1k6/8/P7/8/1p6/3B4/4K3 w - - 0 1", 1, EvalKind::ORDINARY},
        // Wrong bishop, defender two steps from the corner, attacker four: scale 2t + 9 = 5.
        {"8/8/2k5/8/P3K3/8/3B4/8 w - - 0 1", 5, EvalKind::ORDINARY},
        // The same with the attacker far away: hopeless, scale 1.
        {"8/8/2k5/8/P7/8/3B4/7K w - - 0 1", 1, EvalKind::ORDINARY},
        // Pawns on two files: no corner to run to.
        {"k7/8/8/P6P/8/8/2B5/4K3 w - - 0 1", 16, EvalKind::ORDINARY},
    };
    for (const Case& c : cases) {
        const Position p = Root(c.fen);
        int32_t scale = 16, kind = 0;
        EXPECT_EQ(EvaluateBishopRookPawn(p, p.sideToMove, WHITE, scale, kind), 0) << c.fen;
        EXPECT_EQ(scale, c.scale) << c.fen;
        EXPECT_EQ(kind, c.kind) << c.fen;
    }
}

TEST_F(EndgameTest, WrongBishopDrawThroughTheDriver) {
    Position p = Root("k7/8/8/P7/8/8/3B4/4K3 w - - 0 1", 30);
    int32_t kind = 0;
    const int32_t score = Full(p, kind);
    EXPECT_EQ(kind, EvalKind::TABLEBASE_DRAW);
    EXPECT_EQ(score, DrawScore(WHITE) + ((p.material[WHITE] - p.material[BLACK]) >> 7));
}

TEST_F(EndgameTest, RookPawnAgainstRook) {
    struct Case { const char* fen; Colour stronger; int maxScale; };
    const Case cases[] = {
        {"2k5/8/8/2P5/8/4K3/8/r3R3 w - - 0 1", WHITE, 16},   // defender in front, c-pawn: no b/a halving
        {"1k6/8/8/1P6/8/4K3/8/r3R3 w - - 0 1", WHITE, 8},    // b-pawn, defender on b8
        {"k7/8/8/P7/8/4K3/8/r3R3 w - - 0 1", WHITE, 8},      // a-pawn, defender on a8
        {"8/8/8/8/5p2/3k4/8/R2K3r b - - 0 1", BLACK, 16},    // Black's f-pawn, defender not in front
        {"4K3/8/8/8/8/5p2/8/R4k1r b - - 0 1", BLACK, 16},
    };
    for (const Case& c : cases) {
        const Position p = Root(c.fen);
        int32_t scale = 16;
        EvaluateRookPawnVsRook(p, c.stronger, scale);
        EXPECT_LE(scale, c.maxScale) << c.fen;
        EXPECT_GE(scale, 1) << c.fen;
    }
    // The defending king on the promotion square halves a knight's-file pawn's chances.
    const Position front = Root("1k6/8/8/1P6/8/4K3/8/r3R3 w - - 0 1");
    int32_t scale = 16;
    EvaluateRookPawnVsRook(front, WHITE, scale);
    EXPECT_EQ(scale, 8);
}

TEST_F(EndgameTest, RookPawnCutOffKingEarnsABonus) {
    // White king beside the pawn, Black king cut off four files away.
    const Position cut = Root("8/8/8/6k1/2P5/2K5/8/r3R3 w - - 0 1");
    const Position close = Root("8/8/8/3k4/2P5/2K5/8/r3R3 w - - 0 1");
    int32_t scale = 16;
    const int32_t far = EvaluateRookPawnVsRook(cut, WHITE, scale);
    const int32_t near = EvaluateRookPawnVsRook(close, WHITE, scale);
    EXPECT_EQ(far, 16 * 4 + 128);
    EXPECT_EQ(near, 0);
}

TEST_F(EndgameTest, QueenAgainstSeventhRankPawn) {
    struct Case { const char* fen; bool drawn; };
    const Case cases[] = {
        // Rook pawn on a2 (Black pawn), defender next to the corner, attacker far away.
        {"7K/8/8/8/8/8/p7/1k3Q2 w - - 0 1", true},
        // Same with the attacking king close: a win.
        {"8/8/8/8/8/2K5/p7/1k3Q2 w - - 0 1", false},
        // Bishop's pawn on c2 with the defender beside it, attacker far.
        {"7K/8/8/8/8/8/2pk4/5Q2 w - - 0 1", true},
        // Pawn not yet on its seventh rank: just the distance bonus, no draw.
        {"7K/8/8/8/8/p7/8/1k3Q2 w - - 0 1", false},
    };
    for (const Case& c : cases) {
        const Position p = Root(c.fen);
        int32_t kind = 0;
        const int32_t bonus = EvaluateQueenVsPawn(p, p.sideToMove, WHITE, kind);
        EXPECT_EQ(kind, c.drawn ? EvalKind::TABLEBASE_DRAW : EvalKind::ORDINARY) << c.fen;
        if (c.drawn) {
            EXPECT_EQ(bonus, 0) << c.fen;
        }
    }
    // The queen on the promotion square adds 96 to the distance term.
    const Position blocked = Root("7K/8/8/8/8/8/p1k5/Q7 w - - 0 1");
    int32_t kind = 0;
    const int kW = MakeSquare(2, 1), kS = MakeSquare(7, 7), q = MakeSquare(0, 0);
    const int32_t expected = 2 * (FileRankDistance(kW, q) - FileRankDistance(kS, q)) + 96;
    EXPECT_EQ(EvaluateQueenVsPawn(blocked, WHITE, WHITE, kind), expected);
}

TEST_F(EndgameTest, LoneKingIsDrivenToTheEdge) {
    // King and rook against king: the defender in the corner scores better for the attacker.
    Position corner = Root("k7/8/1K6/8/8/8/8/7R w - - 0 1");
    Position centre = Root("8/8/8/3k4/8/1K6/8/7R w - - 0 1");
    const int32_t cornered = EvaluateLoneKing(corner, WHITE, WHITE);
    const int32_t central = EvaluateLoneKing(centre, WHITE, WHITE);
    EXPECT_GT(cornered, central);
    EXPECT_GT(central, 500);
    // Seen from the defender to move, the sign flips.
    Position black = Root("k7/8/1K6/8/8/8/8/7R b - - 0 1");
    EXPECT_LT(EvaluateLoneKing(black, BLACK, WHITE), 0);
}

TEST_F(EndgameTest, LoneKingUnstoppablePawn) {
    // K+N+P against K: the pawn on the seventh far from the defender is unstoppable.
    Position run = Root("8/P7/8/8/8/7k/8/1N2K3 w - - 0 1");
    Position caught = Root("k7/P7/8/8/8/8/8/1N2K3 w - - 0 1");
    EXPECT_GT(EvaluateLoneKing(run, WHITE, WHITE), EvaluateLoneKing(caught, WHITE, WHITE) + 600);
}

TEST_F(EndgameTest, PawnEndingFavoursThePasserAndTheActiveKing) {
    // The same pawns; White's king near its passer versus far away.
    Position active = Root("8/8/8/3k4/8/3K4/3P4/8 w - - 0 1");
    Position passive = Root("8/8/8/3k4/8/8/3P4/7K w - - 0 1");
    EXPECT_GT(EvaluatePawnEnding(active, WHITE, 0), EvaluatePawnEnding(passive, WHITE, 0));
    // An outside passer running away from the defending king is worth a lot.
    Position runner = Root("8/8/8/k7/8/8/6PP/6K1 b - - 0 1");
    EXPECT_LT(EvaluatePawnEnding(runner, BLACK, 0), -300);
}

// Pawn endings scored by hand (White to move, root phase 1: a pawn's table value is half its
// base value). Terms: tables, weak pawns, isolated 4 + IsolatedEnding, passers, proximity
// -8W/n + 8B/n (each quotient truncated), spare tempi x4, EG king values, race,
// opposition (kings' file+rank distance d, equal tempi: Opposition[d]), material / 4.
TEST_F(EndgameTest, PawnEndingWeakPawnsBackwardAndBlockaded) {
    struct Case { const char* fen; int32_t v; };
    const Case cases[] = {
        // d3 backward behind c4 with c5 and e5 both hitting d4: 4 - (7 + 3 + 2 x 8 - 4) = -18;
        // c4 (supported by d3) 8; c5 rammed, isolated and backward: 8 - 3 - 18 = -13; e5
        // isolated and backward: 11 - (4 + 3 + 4 - 4) - 20 = -16. Pawns 19, proximity
        // -8*24/4 + 8*32/4 = 16, tempi 0, EG 0, opposition Opposition[14] = -6: 29.
        {"7k/8/8/2p1p3/2P5/3P4/8/K7 w", 29},
        // d4 blockaded by the king d5 and hanging: 11 - (4 + 6) - 20 + PassedWeak[4] 28 - 12
        // = -3; a3 and a4 rammed and isolated: 1 - 12 and 3 - 12. Pawns -5, proximity
        // -8*27/3 + 8*9/3 = -48, EG -2 - 34, opposition Opposition[8] = -15, material +32: -72.
        {"8/8/8/3k4/p2P4/P7/8/7K w", -72},
    };
    for (const Case& c : cases) {
        const Position p = Root(c.fen);
        ASSERT_EQ(Eval.gamePhase, 1) << c.fen;
        EXPECT_EQ(EvaluatePawnEnding(p, WHITE, 0), c.v) << c.fen;
    }
}

// Both cases: c4 runs (k 4) against the king h8, h4 runs faster (k 3) for Black, a7 is
// caught. Black's passer queens first, so White's count is 2 x (1 pawn + 1 runner) = 4:
// Black gains RaceBonus[1] + 8 x 4 = 86. Spare tempi count the promotion squares c8 and h1.
TEST_F(EndgameTest, PawnEndingRaceTempiAndProximity) {
    struct Case { const char* fen; int32_t v; };
    const Case cases[] = {
        // Pawns: c4 8 - 3 - 18 + 54 = 41; a7 0 - 3 - 12 + PassedWeak[5] 16 = 1 (the king a3
        // is nearer: its distance to a5 counts once more); h4 3 - 12 + 90 = 81. Tempi 4 - 5,
        // proximity -8*15/3 + 8*23/3 = -40 + 61, EG 6 + 2, race -86, opposition -6,
        // material -32: -4 + 21 + 8 - 41 - 86 - 6 - 32.
        {"7k/p7/8/8/2P4p/K7/8/8 w", -140},
        // King a2: tempi 4 - 6, proximity -8*19/3 + 8*23/3 = -50 + 61 (one quotient of the
        // difference would give 10), EG 2 + 2: -8 + 11 + 4 - 41 - 86 - 6 - 32.
        {"7k/p7/8/8/2P4p/8/K7/8 w", -158},
    };
    for (const Case& c : cases) {
        const Position p = Root(c.fen);
        ASSERT_EQ(Eval.gamePhase, 1) << c.fen;
        EXPECT_EQ(EvaluatePawnEnding(p, WHITE, 0), c.v) << c.fen;
    }
}

// Five a-pawns outweigh a bishop and pawn: the pawn side is the stronger one and has no
// bishop, so the wrong-bishop rule has nothing to judge.
TEST_F(EndgameTest, BishopRookPawnWithThePawnSideStronger) {
    const char* fen = "2k5/7p/P7/P7/P7/P7/P7/4K2b w - - 0 1";
    Position p = Root(fen);
    ASSERT_EQ(ClassifyMaterial(p, WHITE) & ClassByte::LOW_BITS, EndgameType::BISHOP_PAWNS);
    ASSERT_GT(p.material[WHITE], p.material[BLACK]);
    int32_t scale = 16, kind = 0;
    EXPECT_EQ(EvaluateBishopRookPawn(p, WHITE, WHITE, scale, kind), 0);
    EXPECT_EQ(scale, 16);
    EXPECT_EQ(kind, 0);
    Full(p, kind);
    EXPECT_EQ(kind, EvalKind::ORDINARY);
}

}  // namespace
}  // namespace tavrix

namespace tavrix {
namespace {

// Every endgame evaluator sees a position and its colour-flipped twin alike.
TEST(EndgameSymmetry, FlippedTwinsScoreAlike) {
    const char* fens[] = {
        "8/8/3k4/8/8/3NN3/4K3/8 w - - 0 1",       "k7/8/1K6/8/8/8/8/7R w - - 0 1",
        "8/P7/8/8/8/7k/8/1N2K3 w - - 0 1",        "4k3/8/4K3/4P3/8/8/8/8 b - - 0 1",
        "4k3/8/8/3KP3/8/8/8/8 w - - 0 1",         "k7/8/8/P7/8/8/3B4/4K3 w - - 0 1",
        "8/8/2k5/8/P3K3/8/3B4/8 b - - 0 1",       "8/1k6/8/P7/8/1p6/3B4/4K3 w - - 0 1",
        "1k6/8/8/1P6/8/4K3/8/r3R3 w - - 0 1",     "8/8/8/6k1/2P5/2K5/8/r3R3 b - - 0 1",
        "7K/8/8/8/8/8/p7/1k3Q2 w - - 0 1",        "8/8/8/8/8/2K5/p7/1k3Q2 b - - 0 1",
        "8/8/8/3k4/8/3K4/3P4/8 w - - 0 1",        "8/8/8/k7/8/8/6PP/6K1 b - - 0 1",
        "8/5pk1/6p1/8/3K4/2P5/1P6/8 w - - 0 1",   "8/5pk1/6p1/8/3K4/2P5/1P6/8 b - - 0 1",
        "8/8/4k3/8/2RP4/8/4K3/r7 w - - 0 1",      "3k4/8/8/8/8/8/2PP4/r2RK3 b - - 0 1",
    };
    for (const char* fen : fens) {
        int32_t scores[2];
        uint16_t kinds[2];
        const std::string twin[2] = {fen, evaltest::FlipFen(fen)};
        for (int i = 0; i < 2; ++i) {
            ResetEvalState();
            Position p = evaltest::MakePosition(twin[i]);
            PrepareEvaluation(p, p.sideToMove, EvalOptions{});
            scores[i] = Evaluate(p, p.sideToMove, 1, HORIZON_DEPTH, -2 * MATE, 2 * MATE);
            kinds[i] = UndoTop(p).checkFlag & EvalFlag::KIND_MASK;
        }
        EXPECT_EQ(scores[0], scores[1]) << fen << " | " << twin[1];
        EXPECT_EQ(kinds[0], kinds[1]) << fen;
    }
}

}  // namespace
}  // namespace tavrix
