// Search behaviour through the iterative-deepening driver and direct node calls.
#include <gtest/gtest.h>

#include <cstring>

#include "board/makemove.h"
#include "board/movegen.h"
#include "control/setup.h"
#include "eval/evaluate.h"
#include "search/quiesce.h"
#include "search/search.h"
#include "search/search_state.h"
#include "search/search_support.h"

namespace tavrix {
namespace {

constexpr int32_t TEST_HASH_KB = 1024;
constexpr int32_t WIDE = 8192;

struct MateCase {
    const char* fen;
    int32_t moves;  // mate in this many moves, confirmed by an independent engine
};

constexpr MateCase MATES[] = {
    {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", 1},
    {"k7/8/1K6/8/8/8/8/7Q w - - 0 1", 1},
    {"r1bqkbnr/pppp1ppp/2n5/4p3/2B1P3/5Q2/PPPP1PPP/RNB1K1NR w KQkq - 2 4", 1},
    {"rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - 0 2", 1},
    {"6rk/6pp/8/6N1/8/8/8/6K1 w - - 0 1", 1},
    {"1r4k1/8/8/8/8/8/5PPP/6K1 b - - 0 1", 1},
    {"k7/2P5/1K6/8/8/8/8/8 w - - 0 1", 1},
    {"6k1/5ppp/8/8/8/8/5PPP/3RR1K1 w - - 0 1", 1},
    {"8/8/8/8/8/6k1/4q3/6K1 b - - 0 1", 1},
    {"6k1/pp4pp/8/8/8/8/PPq5/1K1R4 b - - 0 1", 1},
    {"6R1/8/8/8/5K2/7k/8/1R6 w - - 0 1", 1},
    {"8/8/8/5Q2/5N2/8/7k/5K2 w - - 0 1", 1},
    {"1R6/8/8/1R6/8/6K1/5p2/k7 w - - 0 1", 1},
    {"8/8/8/7K/2R5/8/1R6/4k3 w - - 0 1", 1},
    {"2k5/R7/8/8/5R2/p4K2/8/8 w - - 0 1", 1},
    {"5K2/8/5k2/3R4/8/8/8/R7 w - - 0 1", 1},
    {"8/4R3/8/8/8/8/Q7/1K5k w - - 0 1", 1},
    {"5r1k/1b2Nppp/8/2R5/4Q3/8/5PPP/6K1 w - - 0 1", 2},
    {"r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1", 2},
    {"8/8/8/8/8/5k2/8/5K1q b - - 0 1", 2},
    {"r1b2k1r/ppp1bppp/8/1B1Q4/5q2/2P5/PPP2PPP/R3R1K1 w - - 1 1", 2},
    {"2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - 0 1", 2},
    {"7k/3K4/8/8/1R3Q2/8/8/8 w - - 0 1", 2},
    {"1k6/8/8/3K4/8/8/4R3/5Q2 w - - 0 1", 2},
    {"8/5K2/8/2R5/6p1/R7/8/5k2 w - - 0 1", 2},
    {"8/6R1/8/8/8/1R6/8/2k2K2 w - - 0 1", 2},
    {"8/5R2/8/8/8/2Q5/8/3K2k1 w - - 0 1", 2},
    {"3Q4/8/8/7k/8/7K/8/4R3 w - - 0 1", 2},
    {"8/8/8/4R3/k5K1/3Q4/8/8 w - - 0 1", 2},
    {"4R3/3K4/8/8/1Q6/7k/8/8 w - - 0 1", 2},
    {"8/8/R6R/8/1p4K1/8/8/4k3 w - - 0 1", 2},
    {"8/3K4/1k6/3R4/8/4R3/8/8 w - - 0 1", 2},
    {"8/8/8/1R6/8/5K2/6B1/6k1 w - - 0 1", 2},
    {"8/8/8/8/6K1/4R3/5k2/7R w - - 0 1", 2},
    {"8/5K2/8/7R/8/6Q1/k7/8 w - - 0 1", 2},
    {"8/3R4/8/K7/7k/8/8/R7 w - - 0 1", 2},
    {"8/5R2/8/8/8/8/4R3/1k2K3 w - - 0 1", 2},
    {"4K3/8/8/3R4/7k/8/8/2R5 w - - 0 1", 2},
    {"8/8/6k1/5R2/8/7Q/3K4/8 w - - 0 1", 2},
    {"7k/8/2R1K3/4R3/8/8/3p4/8 w - - 0 1", 2},
    {"1k6/8/5R1K/8/8/8/8/R7 w - - 0 1", 2},
    {"r5rk/5p1p/5R2/4B3/8/8/7P/7K w - - 0 1", 3},
    {"6k1/5p1p/6p1/8/8/8/1B6/1Q4K1 w - - 0 1", 3},
    {"r1b1kb1r/pppp1ppp/5q2/4n3/3KP3/2N3PN/PPP4P/R1BQ1B1R b kq - 0 1", 3},
    {"8/2p5/R6K/8/8/R7/8/6k1 w - - 0 1", 3},
    {"5k2/2RK4/8/8/8/8/5B2/8 w - - 0 1", 3},
    {"8/8/8/8/8/1k6/5Q2/1K6 w - - 0 1", 3},
    {"k1N5/8/3Q4/8/8/8/8/2K5 w - - 0 1", 3},
    {"8/8/8/1R6/8/4K3/8/6k1 w - - 0 1", 3},
    {"7k/1R6/1R6/4p3/8/3K4/8/8 w - - 0 1", 3},
    {"8/R6p/5R2/7k/2K5/8/8/8 w - - 0 1", 3},
    {"8/8/1Q6/8/8/8/7k/4K3 w - - 0 1", 3},
    {"8/1R6/8/8/2p4k/8/K4R2/8 w - - 0 1", 3},
    {"8/5Q2/8/8/3K4/k7/8/8 w - - 0 1", 3},
    {"8/1Q6/8/8/8/8/1p2K3/2k5 w - - 0 1", 3},
    {"8/8/2Q5/8/4N3/2K5/8/7k w - - 0 1", 3},
};

Position Board;  // too large for the stack of a test

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ResetForSearchTest(TEST_HASH_KB));
    }
    void TearDown() override { FreeTableForTest(); }

    static Position& Load(const char* fen) {
        EXPECT_EQ(ReadFen(fen), 1) << fen;
        Board = GameBoard.position;
        PrepareSearchRoot(Board);
        return Board;
    }
};

bool SideToMoveInCheck(const Position& pos) {
    return EnemyAttacks(pos).square[KingSquare(pos, pos.sideToMove)].attackWeight != 0;
}

int LegalMoveCount(Position& pos, int plyIndex) {
    uint32_t evasionFlags = 0;
    const int n = SideToMoveInCheck(pos) ? GenerateEvasions(pos, pos.sideToMove, plyIndex, 0, evasionFlags)
                                          : GenerateAllMoves(pos, pos.sideToMove, plyIndex, 0);
    int legal = 0;
    const Colour mover = pos.sideToMove;
    for (const ScoredMove* m = ListBegin(plyIndex); m < ListBegin(plyIndex) + n; ++m) {
        MakeMove(pos, m->move);
        if (EnemyAttacks(pos).square[KingSquare(pos, mover)].attackWeight == 0) ++legal;
        UnmakeMove(pos);
    }
    return legal;
}

// Plays the line and tells whether it ends in checkmate of the side then to move.
bool LineEndsInMate(Position& pos, const Move* line, int expectedLength) {
    int played = 0;
    for (; played < MAX_PLY && line[played] != NO_MOVE; ++played) MakeMove(pos, line[played]);
    const bool mate = played == expectedLength && SideToMoveInCheck(pos) && LegalMoveCount(pos, 40) == 0;
    for (int i = 0; i < played; ++i) UnmakeMove(pos);
    return mate;
}

TEST_F(SearchTest, MatesInOneTwoAndThreeScoreByTheirDistance) {
    static_assert(std::size(MATES) >= 30);
    for (const MateCase& c : MATES) {
        ClearTableForTest();
        Position& pos = Load(c.fen);
        const uint64_t keyBefore = HashKey64(pos);
        const DriverResult r = SearchToDepth(pos, 2 * c.moves - 1);
        SCOPED_TRACE(c.fen);
        EXPECT_EQ(r.score, 8193 - 2 * c.moves);
        EXPECT_TRUE(LineEndsInMate(pos, r.pv, 2 * c.moves - 1));
        EXPECT_EQ(r.pv[0] & 0x7FFF, r.move & 0x7FFF);
        EXPECT_EQ(HashKey64(pos), keyBefore);
        EXPECT_EQ(pos.undoTop, 1);
    }
}

struct TerminalCase {
    const char* fen;
    bool mated;  // otherwise stalemate
};
constexpr TerminalCase TERMINALS[] = {
    {"R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1", true},
    {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", true},
    {"6rk/5Npp/8/8/8/8/8/6K1 b - - 0 1", true},
    {"k7/8/1Q6/8/8/8/8/7K b - - 0 1", false},
    {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", false},
    {"8/8/8/8/8/5k2/5p2/5K2 w - - 0 1", false},
};

TEST_F(SearchTest, CheckmateAndStalemateAtANode) {
    Eval.options.drawValue = 50;  // the two colours get different draw scores
    for (const TerminalCase& c : TERMINALS) {
        for (const int32_t ply : {2, 7, 30}) {
            Position& pos = Load(c.fen);
            BeginDriverSearch(pos, 0);
            SCOPED_TRACE(testing::Message() << c.fen << " at ply " << ply);
            const int32_t expected = c.mated ? ply - 8193 : DrawScore(pos.sideToMove);
            EXPECT_EQ(SearchNode(pos, ply, 3, 0, -WIDE, WIDE, NodeFlag::PV_NODE), expected);
            EXPECT_EQ(SearchNode(pos, ply, 1, 0, -WIDE, WIDE, NodeFlag::CUT_NODE), expected);
            EXPECT_EQ(Quiesce(pos, ply, 0, -WIDE, WIDE, 0), expected);
        }
    }
    EXPECT_NE(DrawScore(WHITE), DrawScore(BLACK));
}

TEST_F(SearchTest, ANodeScoresWithinItsMateDistance) {
    // Mate in one for the side to move: at ply p the mate lands at ply p + 1.
    const char* fens[] = {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", "1r4k1/8/8/8/8/8/5PPP/6K1 b - - 0 1"};
    for (const char* fen : fens) {
        for (const int32_t ply : {2, 5, 9, 20}) {
            Position& pos = Load(fen);
            BeginDriverSearch(pos, 0);
            const int32_t score = SearchNode(pos, ply, 2, 0, -WIDE, WIDE, NodeFlag::PV_NODE);
            EXPECT_EQ(score, 8192 - ply) << fen << " ply " << ply;
            // A window above the reachable bound closes at once.
            EXPECT_EQ(SearchNode(pos, ply, 2, 0, 8192 - ply, WIDE, NodeFlag::CUT_NODE), 8192 - ply);
        }
    }
}

constexpr const char* MIDDLEGAMES[] = {
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ - 0 8",
    "2r2rk1/1bqnbppp/p2ppn2/1p6/3NP3/1BN1BP2/PPPQ2PP/2KR3R w - - 0 13",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
};

TEST_F(SearchTest, FixedDepthSearchIsRepeatable) {
    for (const char* fen : MIDDLEGAMES) {
        ClearTableForTest();
        const DriverResult first = SearchToDepth(Load(fen), 6);
        ClearTableForTest();
        const DriverResult second = SearchToDepth(Load(fen), 6);
        SCOPED_TRACE(fen);
        EXPECT_EQ(first.depth, 6);
        EXPECT_NE(first.move, NO_MOVE);
        EXPECT_EQ(first.nodes, second.nodes);
        EXPECT_EQ(first.move, second.move);
        EXPECT_EQ(first.score, second.score);
    }
}

// Option settings that switch one kind of pruning off, and the counter that must stay 0.
struct PruningCase {
    const char* name;
    uint32_t clearFlags;
    uint32_t setFlags;
    int32_t pruningThreshold;
    uint64_t SearchState::*counter;
};
constexpr PruningCase PRUNING[] = {
    {"Selectivity 0 makes no null move", SearchOption::SELECTIVITY_MASK, 0, DEFAULT_PRUNING_THRESHOLD,
     &SearchState::nullMoves},
    {"Selectivity 1 never answers with the bare evaluation", SearchOption::SELECTIVITY_MASK, 0x1000,
     DEFAULT_PRUNING_THRESHOLD, &SearchState::nullShortcuts},
    {"Forward Pruning 0 reduces no move", 0, 0, 0, &SearchState::reducedMoves},
    {"Futility off finds no futile node", SearchOption::FUTILITY, 0, DEFAULT_PRUNING_THRESHOLD,
     &SearchState::futileNodes},
};

TEST_F(SearchTest, PruningSwitchesTakeEffect) {
    for (const PruningCase& c : PRUNING) {
        SCOPED_TRACE(c.name);
        uint64_t withDefaults = 0, switchedOff = 0;
        for (const char* fen : MIDDLEGAMES) {
            ClearTableForTest();
            Search.searchFlags = SearchOption::DEFAULT_FLAGS;
            Search.pruningThreshold = DEFAULT_PRUNING_THRESHOLD;
            SearchToDepth(Load(fen), 6);
            withDefaults += Search.*c.counter;

            ClearTableForTest();
            Search.searchFlags = (SearchOption::DEFAULT_FLAGS & ~c.clearFlags) | c.setFlags;
            Search.pruningThreshold = c.pruningThreshold;
            const DriverResult r = SearchToDepth(Load(fen), 6);
            switchedOff += Search.*c.counter;
            EXPECT_EQ(r.depth, 6);
        }
        EXPECT_GT(withDefaults, 0u);  // the defaults do use this pruning here
        EXPECT_EQ(switchedOff, 0u);
        // Mates stay exact under the setting.
        ClearTableForTest();
        const DriverResult mate = SearchToDepth(Load("r5rk/5p1p/5R2/4B3/8/8/7P/7K w - - 0 1"), 5);
        EXPECT_EQ(mate.score, 8187);
    }
}

// Long checking sequences and deep captures: the search must stay inside its per-ply
// arrays, the undo stack and the move buffer whatever the extensions add.
constexpr const char* DEEP_TACTICS[] = {
    "q3k3/8/8/8/8/8/8/Q3K3 w - - 0 1",
    "3qk3/8/8/8/8/8/8/3QK3 w - - 0 1",
    "6k1/5ppp/8/8/8/8/q4PPP/1Q4K1 w - - 0 1",
};

TEST_F(SearchTest, DeepForcingLinesStayWithinThePlyLimit) {
    for (const char* fen : DEEP_TACTICS) {
        ClearTableForTest();
        Position& pos = Load(fen);
        const uint64_t keyBefore = HashKey64(pos);
        const int32_t plyBefore = pos.ply;
        const DriverResult r = SearchToDepth(pos, 12);
        SCOPED_TRACE(fen);
        EXPECT_EQ(r.depth, 12);
        EXPECT_LE(Search.selectiveDepth, SEARCH_PLY_LIMIT);
        EXPECT_EQ(HashKey64(pos), keyBefore);
        EXPECT_EQ(pos.ply, plyBefore);
        EXPECT_EQ(pos.undoTop, 1);
    }
}

TEST_F(SearchTest, NodesNearThePlyLimitAreLeaves) {
    for (const char* fen : DEEP_TACTICS) {
        for (const int32_t ply : {SEARCH_PLY_LIMIT - 6, SEARCH_PLY_LIMIT - 1, SEARCH_PLY_LIMIT}) {
            Position& pos = Load(fen);
            BeginDriverSearch(pos, 0);
            Search.iterationDepth = 40;  // no halving of the extensions
            // The undo stack grows with the ply like in a real search.
            pos.undoStack[ply] = pos.undoStack[1];
            pos.undoStack[ply - 1] = pos.undoStack[0];
            pos.undoTop = ply;
            const int32_t score = SearchNode(pos, ply, 8, 0, -WIDE, WIDE, NodeFlag::PV_NODE);
            const int32_t quiet = Quiesce(pos, ply, 0, -WIDE, WIDE, 0);
            SCOPED_TRACE(testing::Message() << fen << " ply " << ply);
            EXPECT_GE(score, ply - 8191);
            EXPECT_LE(score, 8192 - ply);
            EXPECT_GE(quiet, ply - 8191);
            EXPECT_LE(Search.selectiveDepth, SEARCH_PLY_LIMIT);
            EXPECT_EQ(pos.undoTop, ply);
        }
    }
}

TEST_F(SearchTest, NodeLimitStopsTheSearchAndKeepsTheLastIteration) {
    Position& pos = Load(MIDDLEGAMES[0]);
    const uint64_t keyBefore = HashKey64(pos);
    const DriverResult r = SearchToDepth(pos, 40, 30000);
    EXPECT_EQ(Search.stopReason, STOP_NODE_LIMIT);
    EXPECT_GE(r.nodes, 30000u);
    EXPECT_LT(r.nodes, 30000u + 2 * DEFAULT_POLL_INTERVAL);
    EXPECT_GE(r.depth, 1);
    EXPECT_LT(r.depth, 40);
    EXPECT_NE(r.move, NO_MOVE);
    EXPECT_EQ(HashKey64(pos), keyBefore);
    EXPECT_EQ(pos.undoTop, 1);
}

TEST_F(SearchTest, RootWithoutMovesReportsMateOrDraw) {
    EXPECT_EQ(SearchToDepth(Load("R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1"), 3).score, -8192);
    const DriverResult stale = SearchToDepth(Load("k7/8/1Q6/8/8/8/8/7K b - - 0 1"), 3);
    EXPECT_EQ(stale.score, DrawScore(BLACK));
    EXPECT_EQ(stale.move, NO_MOVE);
}

TEST(PerpetualCheck, TenOwnMovesInCheckInARow) {
    struct Case {
        uint32_t mask;
        int32_t move;
        bool expected;
    };
    constexpr Case cases[] = {
        {0x3FF, 9, true},          // moves 0..9
        {0x3FE, 9, false},         // move 0 missing
        {0x1FF, 9, false},         // the current move missing
        {0x3FF, 8, false},         // too early to count ten
        {0xFFC00, 19, true},       // moves 10..19
        {0x7FE00, 19, false},      // a gap at move 19
        {0xFFFFFFFF, 31, true},
        {0xFFFFFFFF, 32, false},   // beyond the mask
    };
    for (const Case& c : cases) EXPECT_EQ(IsPerpetualCheck(c.mask, c.move), c.expected) << std::hex << c.mask;
}

}  // namespace
}  // namespace tavrix
