// Search behaviour through the engine's root search (what "bench" and "go" run) and direct
// node calls.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "control/engine.h"
#include "control/game_record.h"
#include "control/output_capture.h"
#include "control/setup.h"
#include "control/think.h"
#include "eval/evaluate.h"
#include "search/ordering.h"
#include "search/quiesce.h"
#include "search/root.h"
#include "search/search.h"
#include "search/search_state.h"
#include "search/search_internal.h"
#include "search/search_support.h"
#include "search/search_table.h"
#include "search/ttable.h"

namespace tavrix {
namespace {

constexpr int32_t TEST_HASH_KB = 1024;
constexpr int32_t WIDE = 8192;

int Sq(const char* name) { return MakeSquare(name[0] - 'a', name[1] - '1'); }

struct MateCase {
    const char* fen;
    int32_t moves;  // mate in this many moves, confirmed by an independent engine
};

constexpr MateCase MATES[] = {
    {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", 1},
    {"r1bqkbnr/pppp1ppp/2n5/4p3/2B1P3/5Q2/PPPP1PPP/RNB1K1NR w KQkq - 2 4", 1},
    {"rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - 0 2", 1},
    {"6rk/6pp/8/6N1/8/8/8/6K1 w - - 0 1", 1},
    {"1r4k1/8/8/8/8/8/5PPP/6K1 b - - 0 1", 1},
    {"k7/2P5/1K6/8/8/8/8/8 w - - 0 1", 1},
    {"6k1/5ppp/8/8/8/8/5PPP/3RR1K1 w - - 0 1", 1},
    {"8/8/8/8/8/6k1/4q3/6K1 b - - 0 1", 1},
    {"6R1/8/8/8/5K2/7k/8/1R6 w - - 0 1", 1},
    {"8/8/8/5Q2/5N2/8/7k/5K2 w - - 0 1", 1},
    {"1R6/8/8/1R6/8/6K1/5p2/k7 w - - 0 1", 1},
    {"8/8/8/7K/2R5/8/1R6/4k3 w - - 0 1", 1},
    {"2k5/R7/8/8/5R2/p4K2/8/8 w - - 0 1", 1},
    {"5K2/8/5k2/3R4/8/8/8/R7 w - - 0 1", 1},
    {"8/4R3/8/8/8/8/Q7/1K5k w - - 0 1", 1},
    {"5r1k/1b2Nppp/8/2R5/4Q3/8/5PPP/6K1 w - - 0 1", 2},
    {"r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1", 2},
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

// What a fixed-depth search through the root leaves behind.
struct RootResult {
    Move move;           // entry 0 of the root list, 0 when there is no legal move
    int32_t score;
    int32_t depth;       // last completed iteration
    uint64_t nodes;
    const Move* pv;      // the best line, 0-terminated
};

// Searches the game board's position to `depth` as "bench" does.
RootResult SearchGameBoard(int32_t depth) {
    RootResult r{};
    r.nodes = SearchFixedDepth(depth);
    r.depth = Search.iterationDepth;
    const RootMove& best = Root.list.entries[0];
    r.score = best.score;
    r.move = Root.list.count > 0 ? RootMoveOf(best) : NO_MOVE;
    r.pv = RootLine(best) + 1;
    return r;
}

RootResult SearchFen(const char* fen, int32_t depth) {
    EXPECT_EQ(ReadFen(fen), 1) << fen;
    return SearchGameBoard(depth);
}

// The set-up a search makes before its first node, for direct node calls.
void BeginNodeSearch(Position& pos) {
    Limits.searchType = SearchType::FIXED;
    BeginSearch(pos);
    Search.stopReason = 0;
    Search.pollCountdown = DEFAULT_POLL_INTERVAL;
}

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ResetForSearchTest(TEST_HASH_KB));
    }
    void TearDown() override { FreeTableForTest(); }

    static Position& Load(const char* fen) {
        EXPECT_EQ(ReadFen(fen), 1) << fen;
        Board = GameBoard.position;
        PrepareRootRecord(Board);
        return Board;
    }
};

// After `move` the opponent must be mated in `moves` - 1: searched to the depth that takes.
int32_t ScoreAfter(Move move, int32_t moves) {
    EXPECT_NE(RecordMove(GameBoard.position, static_cast<Move>(move & ~CHECK_MARK)), 0);
    return SearchGameBoard(std::max(1, 2 * moves - 2)).score;
}

TEST_F(SearchTest, MatesInOneTwoAndThreeScoreByTheirDistance) {
    static_assert(std::size(MATES) >= 30);
    for (const MateCase& c : MATES) {
        SCOPED_TRACE(c.fen);
        ClearTableForTest();
        ASSERT_EQ(ReadFen(c.fen), 1);
        const uint64_t keyBefore = HashKey64(GameBoard.position);
        const RootResult r = SearchGameBoard(2 * c.moves - 1);
        EXPECT_EQ(r.score, 8193 - 2 * c.moves);
        EXPECT_EQ(r.pv[0] & 0x7FFF, r.move & 0x7FFF);
        EXPECT_EQ(HashKey64(ThinkControl.position), keyBefore);
        EXPECT_EQ(ThinkControl.position.undoTop, 1);
        EXPECT_EQ(ScoreAfter(r.move, c.moves), 2 * c.moves - 1 - 8193);  // the move really mates
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
    Settings.drawValue = 50;  // the two colours get different draw scores
    for (const TerminalCase& c : TERMINALS) {
        for (const int32_t ply : {2, 7, 30}) {
            Position& pos = Load(c.fen);
            BeginNodeSearch(pos);
            SCOPED_TRACE(::testing::Message() << c.fen << " at ply " << ply);
            const int32_t expected = c.mated ? ply - 8193 : DrawScore(pos.sideToMove);
            EXPECT_EQ(SearchNode(pos, ply, 3, 0, -WIDE, WIDE, NodeFlag::PV_NODE), expected);
            EXPECT_EQ(SearchNode(pos, ply, 1, 0, -WIDE, WIDE, NodeFlag::CUT_NODE), expected);
            // Quiescence sees mate through its evasions; a stalemate it leaves to the evaluation.
            if (c.mated) {
                EXPECT_EQ(Quiesce(pos, ply, 0, -WIDE, WIDE, 0), expected);
            }
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
            BeginNodeSearch(pos);
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
        // "Clear Hash" between the runs, as a user would send it.
        ClearHashTable();
        const RootResult first = SearchFen(fen, 6);
        ClearHashTable();
        const RootResult second = SearchFen(fen, 6);
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
        for (const char* fen : {MIDDLEGAMES[0], MIDDLEGAMES[3]}) {
            ClearTableForTest();
            Settings.optionFlags = SearchOption::DEFAULT_FLAGS;
            Settings.forwardPruning = DEFAULT_PRUNING_THRESHOLD;
            SearchFen(fen, 5);
            withDefaults += Search.*c.counter;

            ClearTableForTest();
            Settings.optionFlags = (SearchOption::DEFAULT_FLAGS & ~c.clearFlags) | c.setFlags;
            Settings.forwardPruning = c.pruningThreshold;
            const RootResult r = SearchFen(fen, 5);
            switchedOff += Search.*c.counter;
            EXPECT_EQ(r.depth, 5);
        }
        EXPECT_GT(withDefaults, 0u);  // the defaults do use this pruning here
        EXPECT_EQ(switchedOff, 0u);
        // Mates stay exact under the setting.
        ClearTableForTest();
        const RootResult mate = SearchFen("r5rk/5p1p/5R2/4B3/8/8/7P/7K w - - 0 1", 5);
        EXPECT_EQ(mate.score, 8187);
        Settings.optionFlags = SearchOption::DEFAULT_FLAGS;
        Settings.forwardPruning = DEFAULT_PRUNING_THRESHOLD;
    }
}

// Long checking sequences and deep captures: the search must stay inside its per-ply
// arrays, the undo stack and the move buffer whatever the extensions add.
constexpr const char* DEEP_TACTICS[] = {
    "7k/8/6Q1/8/8/8/q7/7K w - - 0 1",         // checks on both sides, a perpetual
    "8/1P6/8/8/8/8/6p1/k5K1 w - - 0 1",       // promotion race with queen checks after it
    "8/p7/1p6/8/8/1P6/P1K5/k7 w - - 0 1",     // pawn ending, long quiescence tails
};
constexpr int32_t DEEP_SELECTIVE_PLIES = 15;  // each reaches well beyond depth 12

TEST_F(SearchTest, DeepForcingLinesStayWithinThePlyLimit) {
    for (const char* fen : DEEP_TACTICS) {
        ClearTableForTest();
        ASSERT_EQ(ReadFen(fen), 1);
        const uint64_t keyBefore = HashKey64(GameBoard.position);
        const int32_t plyBefore = GameBoard.position.ply;
        const RootResult r = SearchGameBoard(12);
        const Position& pos = ThinkControl.position;
        SCOPED_TRACE(fen);
        EXPECT_EQ(r.depth, 12);
        EXPECT_GE(Search.selectiveDepth, DEEP_SELECTIVE_PLIES);
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
            BeginNodeSearch(pos);
            Search.iterationDepth = 40;  // no halving of the extensions
            // The undo stack grows with the ply like in a real search.
            pos.undoStack[ply] = pos.undoStack[1];
            pos.undoStack[ply - 1] = pos.undoStack[0];
            pos.undoTop = ply;
            const int32_t score = SearchNode(pos, ply, 8, 0, -WIDE, WIDE, NodeFlag::PV_NODE);
            const int32_t quiet = Quiesce(pos, ply, 0, -WIDE, WIDE, 0);
            SCOPED_TRACE(::testing::Message() << fen << " ply " << ply);
            EXPECT_GE(score, ply - 8191);
            EXPECT_LE(score, 8192 - ply);
            EXPECT_GE(quiet, ply - 8191);
            EXPECT_LE(Search.selectiveDepth, SEARCH_PLY_LIMIT);
            EXPECT_EQ(pos.undoTop, ply);
        }
    }
}

TEST_F(SearchTest, DeadlineStopsTheSearchAndKeepsTheLastIteration) {
    ASSERT_EQ(ReadFen(MIDDLEGAMES[0]), 1);
    const uint64_t keyBefore = HashKey64(GameBoard.position);
    ResetGoLimits();
    Limits.searchType = SearchType::FIXED;
    Limits.moveTimeTarget = 100;   // far too short for depth 40
    Limits.depthLimit = 40;
    testing::OutputCapture capture;
    const uint8_t stop = RunSearch(GameBoard.position.sideToMove, EngineStateValue::THINKING, 0, 0, 0);
    const std::string out = capture.Take();
    EXPECT_EQ(stop, StopCode::DEADLINE);
    EXPECT_NE(out.find("bestmove "), std::string::npos) << out;
    EXPECT_NE(RootMoveOf(Root.list.entries[0]), NO_MOVE);
    EXPECT_EQ(HashKey64(ThinkControl.position), keyBefore);
    EXPECT_EQ(ThinkControl.position.undoTop, 1);
    EXPECT_EQ(HashKey64(GameBoard.position), keyBefore);
}

// The order in which a node walks its list (the highest score first, as the search picks).
std::vector<Move> PickOrder(ScoredMove* begin, ScoredMove* end) {
    std::vector<Move> order;
    for (ScoredMove* at = begin; at < end; ++at) {
        ScoredMove* best = at;
        for (ScoredMove* m = at + 1; m < end; ++m)
            if (m->score > best->score) best = m;
        std::swap(*at, *best);
        order.push_back(at->move);
    }
    return order;
}

TEST_F(SearchTest, KillersAndHistoryLeadTheQuietMovesOfARealSearch) {
    // After a real search, a node below the best root move walks killer 1 before every other
    // quiet move, and quiet moves with history before those without.
    int killersSeen = 0, historySeen = 0;
    for (const char* fen : MIDDLEGAMES) {
        SCOPED_TRACE(fen);
        ClearTableForTest();
        const RootResult r = SearchFen(fen, 6);
        Position& pos = ThinkControl.position;
        MakeMove(pos, static_cast<Move>(r.move & ~CHECK_MARK));
        const Colour side = pos.sideToMove;
        constexpr int32_t PLY = 2;
        if ((UndoTop(pos).checkFlag & IN_CHECK_FLAG) != 0) {
            UnmakeMove(pos);
            continue;
        }
        const int n = GenerateOrderedMoves(pos, side, PLY, 0);
        const uint16_t killer = Ordering.killers[PLY][0];
        bool quietBefore = false, zeroHistoryBefore = false;
        for (const Move m : PickOrder(ListBegin(PLY), ListBegin(PLY) + n)) {
            if (m & (MoveKind::CAPTURE | MoveKind::PROMOTION_BIT)) continue;
            const PieceType kind = pos.pieceType[MoveFrom(m)];
            const bool isKiller = killer != 0 && PieceDestCode(kind, MoveTo(m)) == killer;
            const uint16_t h = Ordering.history[PieceDestCode(kind, MoveTo(m), side)];
            if (isKiller) {
                EXPECT_FALSE(quietBefore) << "killer walked after another quiet move";
                ++killersSeen;
            } else if (h > 0) {
                EXPECT_FALSE(zeroHistoryBefore) << "a history move walked after one without history";
                ++historySeen;
            } else {
                zeroHistoryBefore = true;
            }
            quietBefore = true;
        }
        UnmakeMove(pos);
    }
    EXPECT_GT(killersSeen, 0);
    EXPECT_GT(historySeen, 0);
}

TEST_F(SearchTest, QuiescencePrunesLosingCapturesAndSearchesWinningOnes) {
    // The queen may take on d5: defended by the c6 pawn it loses the queen and is left out.
    struct Case {
        const char* fen;
        bool searched;
    };
    const Case cases[] = {
        {"k7/pp6/2p5/3p4/8/8/8/3Q3K w - - 0 1", false},
        {"k7/pp6/8/3p4/8/8/8/3Q3K w - - 0 1", true},
    };
    for (const Case& c : cases) {
        Position& pos = Load(c.fen);
        BeginNodeSearch(pos);
        const uint64_t before = pos.nodes;
        Quiesce(pos, 2, 0, -WIDE, WIDE, 0);
        EXPECT_EQ(pos.nodes > before, c.searched) << c.fen;
    }
}

TEST_F(SearchTest, CutoffStatisticsCountOnlyQuietMovesReallySearched) {
    // A futile node (alpha far above the evaluation) prunes h2h3, whose history makes its
    // ordering score exactly 0, and then cuts off with the mating check Rd8.
    Position& pos = Load("6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1");
    BeginNodeSearch(pos);
    const int pruned = PieceDestCode(PAWN, Sq("h3"), WHITE);
    const int mate = PieceDestCode(ROOK, Sq("d8"), WHITE);
    Ordering.history[pruned] = 30000;
    const uint16_t triedBefore = Ordering.cutoff.tried[pruned];
    const int32_t score = SearchNode(pos, 3, 1, 0, 2000, 2001, NodeFlag::CUT_NODE);
    EXPECT_GE(score, 2001);
    EXPECT_EQ(Ordering.killers[3][0], PieceDestCode(ROOK, Sq("d8")));
    EXPECT_GT(Ordering.cutoff.succeeded[mate], 0);
    EXPECT_EQ(Ordering.cutoff.tried[pruned], triedBefore);
}

TEST_F(SearchTest, APawnJustPushedToTheSixthCountsAsAPromotionThreat) {
    // White is a rook up; Black's e-pawn stands on e3 with e2 and e1 free. At depth 1 with
    // the evaluation above beta the node answers with the bare evaluation, unless the pawn
    // has just arrived there (worth 560 as a promotion threat).
    for (const bool justPushed : {false, true}) {
        Position& pos = Load("6k1/8/8/8/8/4p3/8/RR4K1 w - - 0 1");
        BeginNodeSearch(pos);
        pos.lastToSquare = static_cast<uint8_t>(justPushed ? Sq("e3") : Sq("g8"));
        const int32_t e = Evaluate(pos, WHITE, 3, 1, -WIDE, WIDE);
        const uint64_t before = Search.nullShortcuts;
        SearchNode(pos, 3, 1, 0, e - 301, e - 300, NodeFlag::CUT_NODE);
        EXPECT_EQ(Search.nullShortcuts > before, !justPushed) << "just pushed " << justPushed;
    }
}

TEST_F(SearchTest, ANegativeExtensionCarryDelaysLaterExtensions) {
    // The carry is not clamped at 0: a node handed -40/32 of a ply passes the debt down, so
    // checks below it are not extended and the tree is smaller.
    uint64_t nodes[2] = {};
    for (const int32_t fraction : {0, -40}) {
        Position& pos = Load(MIDDLEGAMES[0]);
        EmptyTableForTest();
        BeginNodeSearch(pos);
        Search.iterationDepth = 8;
        const uint64_t before = pos.nodes;
        SearchNode(pos, 2, 4, fraction, -WIDE, WIDE, NodeFlag::PV_NODE);
        nodes[fraction == 0 ? 0 : 1] = pos.nodes - before;
    }
    EXPECT_LT(nodes[1], nodes[0]);
}

TEST_F(SearchTest, ANodeWithoutALegalMoveKeepsATableLowerBound) {
    // Black is stalemated, yet its pinned knight has pseudo-legal moves. A deep lower bound
    // of 100 from the table stands; without it the node is a draw.
    for (const bool stored : {false, true}) {
        EmptyTableForTest();
        Position& pos = Load("k7/1n6/1K1B4/3Q4/8/8/8/8 b - - 0 1");
        BeginNodeSearch(pos);
        if (stored) StoreNodeEntry(BLACK, pos, 3, 6, EntryFlag::LOWER, 100, NO_MOVE, 0);
        // Depth 3: beyond frontier futility, which would prune the knight's quiet moves.
        const int32_t score = SearchNode(pos, 3, 3, 0, -WIDE, WIDE, NodeFlag::CUT_NODE);
        EXPECT_EQ(score, stored ? 100 : DrawScore(BLACK)) << "stored " << stored;
    }
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

// The move picker takes the first entry of the highest score to the front, whatever the
// list's length (short lists are scanned one by one, longer ones four entries at a time),
// with ties, the extreme scores and move words whose top bits are set.
TEST(PickBest, FirstOfTheHighestScoresComesFirst) {
    std::mt19937 rng(7);
    const int16_t pool[] = {INT16_MIN, -30000, -1, 0, 1, 5, 5, 300, INT16_MAX};
    for (int length = 1; length <= 40; ++length) {
        for (int trial = 0; trial < 200; ++trial) {
            std::vector<ScoredMove> list(length);
            for (ScoredMove& m : list) m = {static_cast<Move>(rng() | 0x8000u), pool[rng() % std::size(pool)]};
            size_t first = 0;
            for (size_t i = 1; i < list.size(); ++i)
                if (list[i].score > list[first].score) first = i;
            const ScoredMove expected = list[first], front = list[0];
            PickBest(list.data(), list.data() + length);
            ASSERT_EQ(list[0].move, expected.move) << "length " << length;
            ASSERT_EQ(list[0].score, expected.score) << "length " << length;
            // The front entry takes the picked one's place.
            if (first != 0) {
                ASSERT_EQ(list[first].move, front.move) << "length " << length;
            }
        }
    }
}

}  // namespace
}  // namespace tavrix
