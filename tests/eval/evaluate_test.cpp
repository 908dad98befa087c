#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "control/engine.h"
#include "control/options.h"
#include "eval/eval_cache.h"
#include "eval/evaluate.h"
#include "eval/eval_test_board.h"

namespace tavrix {
namespace {

using evaltest::FlipFen;
using evaltest::MakePosition;

constexpr int32_t WIDE = 2 * MATE;

class EvaluateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEvalState();
        FreeEvalCache();
    }
    void TearDown() override { FreeEvalCache(); }

    static Position Prepared(const std::string& fen, EvalOptions options = {}) {
        Position p = MakePosition(fen);
        PrepareEvaluation(p, p.sideToMove, options);
        return p;
    }
};

TEST_F(EvaluateTest, DrawValueGivesEngineSideAndOpponentOppositeScores) {
    struct Case { int32_t value; Colour root; int32_t engine; int32_t opponent; };
    const Case cases[] = {
        {50, WHITE, 64, -64},  {50, BLACK, 64, -64},   {-100, WHITE, -128, 128}, {100, BLACK, 128, -128},
        {33, WHITE, 42, -42},  {-33, BLACK, -42, 42},  {0, WHITE, 0, 0},
    };
    for (const Case& c : cases) {
        Position p = MakePosition(c.root == WHITE ? "4k3/8/8/8/8/8/8/4K2R w - -" : "4k3/8/8/8/8/8/8/4K2R b - -");
        EvalOptions options;
        options.drawValue = StoredDrawValue(c.value);
        PrepareEvaluation(p, c.root, options);
        EXPECT_EQ(DrawScore(c.root), c.engine) << c.value;
        EXPECT_EQ(DrawScore(c.root ^ 1), c.opponent) << c.value;
    }
}

TEST_F(EvaluateTest, OptionsComeFromSetOption) {
    struct Case { const char* option; Colour root; int32_t engine; PlayingStyle style; bool hyper; };
    const Case cases[] = {
        {"Tavrix Draw Value value 50", WHITE, 64, PlayingStyle::NORMAL, false},
        {"Tavrix Draw Value value 50", BLACK, 64, PlayingStyle::NORMAL, false},
        {"Tavrix Draw Value value -100", WHITE, -128, PlayingStyle::NORMAL, false},
        {"Playing Style value Aggressive", WHITE, 0, PlayingStyle::AGGRESSIVE, false},
        {"Playing Style value Solid", BLACK, 0, PlayingStyle::SOLID, false},
        {"Hyper-Modern Play value true", WHITE, 0, PlayingStyle::NORMAL, true},
    };
    for (const Case& c : cases) {
        ResetEngineSettings();
        LoadDefaults();
        Settings.optionFlags &= ~OptionFlag::HYPER_MODERN;
        SetOption(c.option);
        const EvalOptions options = EvalOptionsFromSettings(Settings.optionFlags, 5);
        EXPECT_EQ(options.style, c.style) << c.option;
        EXPECT_EQ(options.hyperModern, c.hyper) << c.option;
        Position p = MakePosition("4k3/8/8/8/8/8/8/4K2R w - -");
        PrepareEvaluation(p, c.root, options);
        EXPECT_EQ(DrawScore(c.root), c.engine) << c.option;
        EXPECT_EQ(DrawScore(c.root ^ 1), -c.engine) << c.option;
    }
    ResetEngineSettings();
}

TEST_F(EvaluateTest, PlayingStyleLightensOneSidesRisks) {
    struct Case { PlayingStyle style; Colour root; int32_t styleSide; int32_t shift[2]; int32_t pawnShift[2]; };
    const Case cases[] = {
        {PlayingStyle::NORMAL, WHITE, STYLE_SIDE_NONE, {6, 6}, {5, 5}},
        {PlayingStyle::AGGRESSIVE, WHITE, WHITE + 1, {7, 6}, {6, 5}},
        {PlayingStyle::AGGRESSIVE, BLACK, BLACK + 1, {6, 7}, {5, 6}},
        {PlayingStyle::SOLID, WHITE, BLACK + 1, {6, 7}, {5, 6}},
        {PlayingStyle::SOLID, BLACK, WHITE + 1, {7, 6}, {6, 5}},
    };
    for (const Case& c : cases) {
        Position p = MakePosition("4k3/pppp4/8/8/8/8/PPPP4/4K3 w - -");
        EvalOptions options;
        options.style = c.style;
        PrepareEvaluation(p, c.root, options);
        EXPECT_EQ(Eval.styleSide, c.styleSide);
        for (int side = 0; side < 2; ++side) {
            EXPECT_EQ(Eval.threatShift[side], c.shift[side]);
            EXPECT_EQ(Eval.pawnThreatShift[side], c.pawnShift[side]);
        }
    }
}

TEST_F(EvaluateTest, KingEdgeTableFollowsTheBishopOfKnightAndBishopMates) {
    // a1 and h8 are dark, h1 and a8 light; the table is lowest in the bishop's corners.
    struct Case { const char* fen; int low; int high; };
    const Case cases[] = {
        {"8/8/8/4k3/8/8/8/2B1K1N1 w - -", 0, 7},     // c1: dark bishop
        {"8/8/8/4k3/8/8/8/3BK1N1 w - -", 7, 0},      // d1: light bishop
        {"2b1k1n1/8/8/8/3K4/8/8/8 b - -", 7, 0},     // c8: light bishop
        {"4k3/8/8/8/8/8/8/R3K3 w - -", -1, -1},      // rook: centre table
    };
    for (const Case& c : cases) {
        Prepared(c.fen);
        if (c.low < 0) {
            EXPECT_EQ(Eval.kingEdgeTable[0], 1) << c.fen;
            EXPECT_EQ(Eval.kingEdgeTable[7], 1) << c.fen;
            EXPECT_EQ(Eval.kingEdgeTable[27], 72) << c.fen;
        } else {
            EXPECT_EQ(Eval.kingEdgeTable[c.low], 1) << c.fen;
            EXPECT_EQ(Eval.kingEdgeTable[c.high], 90) << c.fen;
        }
    }
}

TEST_F(EvaluateTest, PhaseFieldsFollowNonPawnMaterial) {
    struct Case { const char* fen; int32_t phase; int32_t tradeBonus; };
    const Case cases[] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 16, 0},
        {"4k3/8/8/8/8/8/8/4K3 w - -", 1, 0},
        // Non-pawn sum 1696 is below the endgame limit; an extra knight with four pawns.
        {"r3k3/pppp4/8/8/8/8/PPPP4/R3K1N1 w - -", 1, 72},
        {"r3k1n1/pppp4/8/8/8/8/PPPP4/R3K3 w - -", 1, -72},
        // Two queens and two rooks: sum 3776 -> (3776 - 1858) / 384 = 4.
        {"r2qk3/8/8/8/8/8/8/R2QK3 w - -", 4, 0},
    };
    for (const Case& c : cases) {
        Prepared(c.fen);
        EXPECT_EQ(Eval.gamePhase, c.phase) << c.fen;
        EXPECT_EQ(Eval.endWeight, 17 - c.phase) << c.fen;
        EXPECT_EQ(Eval.endWeightEighth, (17 - c.phase) >> 3) << c.fen;
        EXPECT_EQ(Eval.tradeBonus, c.tradeBonus) << c.fen;
    }
}

TEST_F(EvaluateTest, CacheAnswersASecondFullEvaluation) {
    ASSERT_TRUE(AllocateEvalCache(64));
    Position p = Prepared("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -");
    PlyRecord& rec = UndoTop(p);
    const uint16_t startFlags = rec.checkFlag;
    const int32_t first = Evaluate(p, WHITE, 3, 2, -WIDE, WIDE);
    const uint16_t firstFlags = rec.checkFlag;
    ASSERT_TRUE(firstFlags & EvalFlag::FULL);

    // Material is not part of the key: a fresh evaluation would see the change, the cache not.
    p.material[BLACK] += PAWN_VALUE;
    rec.checkFlag = startFlags;
    std::memset(rec.searchBytes, 0, sizeof rec.searchBytes);
    const int32_t second = Evaluate(p, WHITE, 3, 2, -WIDE, WIDE);
    EXPECT_EQ(second, first);
    EXPECT_EQ(rec.checkFlag, firstFlags);
    EXPECT_EQ(PlyEvalScore(rec), first);

    // Without the cache the changed material shows.
    FreeEvalCache();
    rec.checkFlag = startFlags;
    EXPECT_NE(Evaluate(p, WHITE, 3, 2, -WIDE, WIDE), first);
}

TEST_F(EvaluateTest, CacheKeepsTheSidesApartAndRoundTripsItsWords) {
    ASSERT_TRUE(AllocateEvalCache(16));
    Position p = MakePosition("4k3/8/8/8/8/8/8/4K2R w - -");
    struct Case { int32_t score; uint16_t flags; int16_t threat; int16_t king; };
    const Case cases[] = {
        {-8192, EvalFlag::FULL, 0, 0},
        {8192, EvalFlag::FULL | KindFlag(EvalKind::WIN) | 0x0003, 1248, -1},
        {-37, EvalFlag::FULL | KindFlag(EvalKind::TABLEBASE_DRAW) | EvalFlag::MATING_SQUARE, -5, 0x0FFF},
    };
    for (const Case& c : cases) {
        StoreEvalCache(p, WHITE, CachedEvaluation{c.flags, c.score, c.threat, c.king});
        CachedEvaluation out{};
        ASSERT_TRUE(ProbeEvalCache(p, WHITE, out));
        EXPECT_EQ(out.score, c.score);
        EXPECT_EQ(out.flags, c.flags);
        EXPECT_EQ(out.threatWord, c.threat);
        EXPECT_EQ(out.kingWord, c.king);
    }
    CachedEvaluation out{};
    EXPECT_FALSE(ProbeEvalCache(p, BLACK, out));
    // Another key on the same index is refused.
    Position q = p;
    q.hashKey[0] ^= 0x10;
    EXPECT_FALSE(ProbeEvalCache(q, WHITE, out));
    // An empty entry never answers, even for a key of zero.
    Position zero = p;
    zero.hashKey[0] = zero.hashKey[1] = 0;
    EXPECT_FALSE(ProbeEvalCache(zero, WHITE, out));
}

TEST_F(EvaluateTest, CacheSizeFollowsTheKilobyteShare) {
    struct Case { int32_t kilobytes; uint32_t mask; };
    const Case cases[] = {{512, 512 * 32 - 1}, {16384, 16384 * 32 - 1}, {1, 31}, {0, 0}};
    for (const Case& c : cases) {
        ASSERT_TRUE(AllocateEvalCache(c.kilobytes));
        EXPECT_EQ(EvalCache.mask, c.mask) << c.kilobytes;
    }
    ASSERT_TRUE(AllocateEvalCache(8));
    EvalCacheEntry* before = EvalCache.table[WHITE];
    ASSERT_TRUE(AllocateEvalCache(8));
    EXPECT_EQ(EvalCache.table[WHITE], before);  // unchanged size keeps the tables
}

TEST_F(EvaluateTest, LazyPathChoice) {
    // White to move in check from the rook on e8.
    const char* checked = "4r1k1/8/8/8/8/8/8/4K3 w - -";
    const char* quiet = "6k1/p7/8/8/8/8/r6P/4K2R w - -";
    struct Case { const char* fen; int32_t depth; int32_t alpha; int32_t beta; bool full; };
    const Case cases[] = {
        {checked, 0, -WIDE, WIDE, false},    // quiescence in check: always lazy
        {checked, -3, -50, 50, false},
        {checked, 1, -WIDE, WIDE, true},     // full-width search: always full
        {checked, HORIZON_DEPTH, -WIDE, WIDE, true},
        {quiet, 0, -WIDE, WIDE, true},       // window around the estimate
        {quiet, 0, 5000, 5001, false},       // far above the estimate
        {quiet, 0, -5001, -5000, false},     // far below
        {quiet, -4, -WIDE, WIDE, true},
    };
    for (const Case& c : cases) {
        ResetEvalState();
        Position p = Prepared(c.fen);
        const bool inCheck = (UndoTop(p).checkFlag & IN_CHECK_FLAG) != 0;
        ASSERT_EQ(inCheck, c.fen == checked);
        WritePlyWord(p.undoStack[0], PlyEvalWord::SCORE, 300);
        p.moveGain = 128;
        const int32_t score = Evaluate(p, WHITE, 4, c.depth, c.alpha, c.beta);
        EXPECT_EQ((UndoTop(p).checkFlag & EvalFlag::FULL) != 0, c.full) << c.fen << " depth " << c.depth;
        if (!c.full) {
            EXPECT_EQ(score, 16 - 300 - 128) << c.fen;
        }
    }
}

TEST_F(EvaluateTest, PawnlessEqualMaterialIsCutToAQuarter) {
    struct Case { const char* fen; bool pawnless; };
    const Case cases[] = {
        {"3rk3/8/8/8/8/8/8/3RK3 w - -", true},
        {"4k3/3r4/8/8/8/8/8/2R3K1 b - -", true},
        {"1bn1k3/8/8/8/8/8/8/1BN1K3 w - -", true},
        {"3rk3/p7/8/8/8/8/P7/3RK3 w - -", false},
    };
    for (const Case& c : cases) {
        ResetEvalState();
        Position p = Prepared(c.fen);
        const Colour side = p.sideToMove;
        const int32_t score = Evaluate(p, side, 3, 1, -WIDE, WIDE);
        const int32_t positional = EvaluatePositional(p, side, WHITE, EndgameType::ORDINARY);
        int32_t base = TEMPO_BONUS + (p.hangingTotal[side ^ 1] >> 6) - (p.hangingTotal[side] >> 6);
        if (c.pawnless) {
            const int32_t t = Eval.kingEdgeTable[KingSquare(p, WHITE)] - Eval.kingEdgeTable[KingSquare(p, BLACK)];
            base += side == WHITE ? t : -t;
            EXPECT_EQ(score, ((base + positional) * 4) >> 4) << c.fen;
        } else {
            EXPECT_EQ(score, base + positional) << c.fen;
        }
    }
}

TEST_F(EvaluateTest, HorizonAddsTheOtherSidesHangingMaterialToTheReturnedScoreOnly) {
    struct Case { const char* fen; int32_t depth; int32_t hanging; int32_t added; };
    const Case cases[] = {
        {"r3k3/8/8/8/8/8/8/R3K3 w - -", HORIZON_DEPTH, 416, 416},
        {"r3k3/8/8/8/8/8/8/R3K3 w - -", HORIZON_DEPTH, 0, 0},
        {"r3k3/8/8/8/8/8/8/R3K3 w - -", 2, 416, 0},
        {"4k3/8/8/8/8/8/8/r3K3 w - -", HORIZON_DEPTH, 301, 150},  // in check: half
    };
    for (const Case& c : cases) {
        ResetEvalState();
        Position p = Prepared(c.fen);
        p.hangingTotal[BLACK] = c.hanging;
        const int32_t score = Evaluate(p, WHITE, 1, c.depth, -WIDE, WIDE);
        const int32_t stored = PlyEvalScore(UndoTop(p));
        EXPECT_EQ(score - stored, c.added) << c.fen;
        EXPECT_EQ((UndoTop(p).checkFlag & EvalFlag::AT_HORIZON) != 0, c.depth == HORIZON_DEPTH);
    }
}

TEST_F(EvaluateTest, TablebaseScoresCountDistanceAndPly) {
    // White is a rook up; the draw keeps one unit per pawn of material on the draw score.
    EvalOptions options;
    options.drawValue = StoredDrawValue(50);
    Position p = Prepared("4k3/8/8/8/8/8/8/R3K3 w - -", options);
    struct Case { Colour side; int32_t ply; int32_t distance; int32_t score; int32_t kind; };
    const Case cases[] = {
        {WHITE, 3, 1, 8189, EvalKind::WIN},      {WHITE, 3, -1, -8188, EvalKind::LOSS},
        {BLACK, 1, 12, 8169, EvalKind::WIN},     {BLACK, 7, -30, -8126, EvalKind::LOSS},
        {WHITE, 5, 0, 5 + 64, EvalKind::TABLEBASE_DRAW}, {BLACK, 5, 0, -5 - 64, EvalKind::TABLEBASE_DRAW},
    };
    for (const Case& c : cases) {
        int32_t kind = EvalKind::ORDINARY;
        EXPECT_EQ(TablebaseScore(p, c.side, c.ply, c.distance, kind), c.score) << c.distance;
        EXPECT_EQ(kind, c.kind);
    }
}

TEST_F(EvaluateTest, TablebaseProbeConditions) {
    const Move capture = MakeMoveWord(12, 20, MoveKind::CAPTURE);
    const Move promotion = MakeMoveWord(52, 60, MoveKind::PROMOTE_QUEEN);
    const Move quiet = MakeMoveWord(12, 20);
    const char* fourMen = "4k3/8/8/8/8/8/3p4/R3K3 w - -";
    const char* twoMen = "4k3/8/8/8/8/8/8/4K3 w - -";
    struct Case { const char* fen; bool use; int32_t men; Move last; int32_t ply; int32_t depth; bool wanted; };
    const Case cases[] = {
        {fourMen, true, 5, quiet, 1, HORIZON_DEPTH, true},      // root
        {fourMen, true, 5, quiet, 2, HORIZON_DEPTH, true},
        {fourMen, true, 5, quiet, 3, HORIZON_DEPTH, false},     // below the root a capture is needed
        {fourMen, true, 5, capture, 6, 2, true},
        {fourMen, true, 5, promotion, 6, 2, true},
        {fourMen, true, 5, capture, 6, 1, false},               // shallower than "Tablebase Depth"
        {fourMen, true, 3, quiet, 1, HORIZON_DEPTH, false},     // more men than registered
        {fourMen, false, 5, quiet, 1, HORIZON_DEPTH, false},    // option off
        {twoMen, true, 5, quiet, 1, HORIZON_DEPTH, false},      // bare kings are never probed
    };
    for (const Case& c : cases) {
        EvalOptions options;
        options.useTablebases = c.use;
        options.tablebaseMen = c.men;
        options.tablebaseDepth = 2;
        Position p = Prepared(c.fen, options);
        UndoTop(p).move = c.last;
        EXPECT_EQ(WantsTablebaseProbe(p, c.ply, c.depth), c.wanted) << c.fen << " ply " << c.ply;
    }
}

TEST_F(EvaluateTest, XrayExtensionBehindTheKingIsUndone) {
    const char* fens[] = {
        "4r1k1/8/8/8/8/8/8/4K3 w - -",        // rook checks along the file
        "6k1/8/8/8/7b/8/8/4K3 w - -",         // bishop checks along the diagonal
        "6k1/8/8/8/8/8/8/q3K3 w - -",         // queen on the rank
        "6k1/8/8/8/1q6/8/8/4K2r w - -",       // double check
    };
    for (const char* fen : fens) {
        Position p = Prepared(fen);
        AttackMap before[2];
        std::memcpy(before, p.attackMap, sizeof before);
        Evaluate(p, WHITE, 2, 1, -WIDE, WIDE);
        EXPECT_EQ(std::memcmp(before, p.attackMap, sizeof before), 0) << fen;
    }
}

TEST_F(EvaluateTest, EvalReportEndsWithTheTotalFromWhitesView) {
    const char* fens[] = {
        "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -",
        "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -",
        "4k3/8/8/8/8/8/8/R3K3 b - -",
    };
    for (const char* fen : fens) {
        ResetEvalState();
        Position p = Prepared(fen);
        const std::string report = EvalReport(p);
        PlyRecord& rec = UndoTop(p);
        rec.checkFlag &= IN_CHECK_FLAG;
        const int32_t score = Evaluate(p, p.sideToMove, 1, HORIZON_DEPTH, -WIDE, WIDE);
        const int32_t white = p.sideToMove == WHITE ? score : -score;
        const size_t last = report.rfind("eval total ");
        ASSERT_NE(last, std::string::npos);
        EXPECT_EQ(report.substr(last), "eval total " + std::to_string(white * 100 / 128) + "\n") << fen;
    }
}

// The opposite-bishop scaling works on White's view before the negation for Black, so a
// Black-to-move position rounds its shifted total down from White's side: it scores the
// same as its colour-flipped twin or one unit more, never less.
TEST_F(EvaluateTest, OppositeBishopsRoundFromWhitesView) {
    const char* fens[] = {
        "4k3/5p2/2b5/1p6/1P6/2B5/5P2/4K3 b",
        "6k1/5pp1/2b4p/8/3P4/2B3P1/5P1P/6K1 b",
        "8/4k3/2b1p3/3p4/3P4/2B1P3/4K3/8 b",
        "6k1/5ppp/2b1n3/8/8/2B1N3/5PPP/6K1 b",
        "6k1/5ppp/4b3/8/8/2B5/5PPP/6K1 b",
        "8/5k2/6p1/3b3p/7P/4B1P1/5K2/8 b",
    };
    int roundedApart = 0;
    for (const char* fen : fens) {
        ResetEvalState();
        Position p = Prepared(fen);
        ASSERT_TRUE(evaltest::OppositeBishops(p)) << fen;
        const int32_t black = Evaluate(p, BLACK, 2, HORIZON_DEPTH, -WIDE, WIDE);
        ResetEvalState();
        Position q = Prepared(FlipFen(fen));
        const int32_t white = Evaluate(q, WHITE, 2, HORIZON_DEPTH, -WIDE, WIDE);
        EXPECT_TRUE(black == white || black == white + 1) << fen << ": " << black << " " << white;
        if (black == white + 1) ++roundedApart;
    }
    EXPECT_GT(roundedApart, 0);
}

// Every position and its colour-flipped twin get the same score for the side to move.
TEST_F(EvaluateTest, ColourFlippedTwinsEvaluateAlike) {
    std::ifstream in(std::string(TAVRIX_TEST_DATA) + "/perftsuite.epd");
    ASSERT_TRUE(in.good());
    std::string line;
    int checked = 0;
    while (std::getline(in, line)) {
        const std::string fen = line.substr(0, line.find(';'));
        if (fen.size() < 10) continue;
        const std::string twin = FlipFen(fen);
        for (const int32_t depth : {HORIZON_DEPTH, 1}) {
            ResetEvalState();
            Position p = Prepared(fen);
            const int32_t a = Evaluate(p, p.sideToMove, 2, depth, -WIDE, WIDE);
            ResetEvalState();
            Position q = Prepared(twin);
            const int32_t b = Evaluate(q, q.sideToMove, 2, depth, -WIDE, WIDE);
            EXPECT_EQ(a, b) << fen << " | " << twin << " depth " << depth;
        }
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace tavrix
