#include <gtest/gtest.h>

#include <string>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"
#include "control/engine.h"
#include "control/game_record.h"
#include "control/options.h"
#include "control/output_capture.h"
#include "control/setup.h"
#include "control/think.h"
#include "control/timeman.h"
#include "eval/evaluate.h"
#include "search/ordering.h"
#include "board/repetition.h"
#include "search/root.h"
#include "search/root_table.h"
#include "search/search_state.h"
#include "support/engine_reset.h"

namespace tavrix {

int32_t ResizeHashTable(int32_t kilobytes);
void FreeHashTable();
void ResetTTState();

namespace {

constexpr int32_t TEST_HASH_KB = 1024;

class RootTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testing_support::ResetEngine(TEST_HASH_KB));
        Search.searchFlags = Settings.optionFlags;
    }
    void TearDown() override {
        FreeHashTable();
        ResetControlState();
        ResetGoLimits();
    }
    // Sets up `fen` and runs the preparation of a search on the search's own board.
    Position& Prepare(const char* fen) {
        EXPECT_EQ(ReadFen(fen), 1) << fen;
        Position& pos = ThinkControl.position;
        pos = GameBoard.position;
        PrepareRootRecord(pos);
        EXPECT_EQ(BeginSearch(pos), 0);
        PrepareRootMoves(pos);
        return pos;
    }
};

int LegalMoveCount(Position& pos) {
    const int n = InCheck(pos) ? [&] {
        uint32_t f = 0;
        return GenerateEvasions(pos, pos.sideToMove, 3, 0, f);
    }()
                               : GenerateAllMoves(pos, pos.sideToMove, 3, 0);
    int legal = 0;
    for (int i = 0; i < n; ++i) legal += IsLegalAfterMake(pos, ListBegin(3)[i].move) ? 1 : 0;
    return legal;
}

TEST_F(RootTest, PrepareRootMovesClassifiesAndSorts) {
    struct Case {
        const char* fen;
        Move first;              // expected entry 0 (0 = any)
        uint16_t firstFlags;     // expected flags of entry 0 (kind | decided)
        int32_t firstScore;
    };
    const Case cases[] = {
        {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1", MakeMoveWord(3, 59), RootFlag::MATE | RootFlag::DECIDED, MATE_IN_ONE},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 0, 0, 0},
        {"6k1/5ppp/8/8/8/3N4/6PP/4r2K w - - 0 1", MakeMoveWord(19, 4, MoveKind::CAPTURE), 0, 0},
    };
    for (const Case& c : cases) {
        Position& pos = Prepare(c.fen);
        EXPECT_EQ(Root.list.count, LegalMoveCount(pos)) << c.fen;
        EXPECT_EQ(Root.gameEnd, 0) << c.fen;
        for (int32_t i = 1; i < Root.list.generated; ++i)
            EXPECT_GE(Root.list.entries[i - 1].score, Root.list.entries[i].score) << c.fen << " entry " << i;
        for (int32_t i = Root.list.count; i < Root.list.generated; ++i) {
            EXPECT_TRUE(IsDecided(Root.list.entries[i])) << c.fen;
            EXPECT_EQ(Root.list.entries[i].score, ROOT_NO_SCORE) << c.fen;
        }
        const RootMove& top = Root.list.entries[0];
        if (c.first != 0) {
            EXPECT_EQ(RootMoveOf(top) & 0x0FFF, c.first & 0x0FFF) << c.fen;
        }
        if (c.firstFlags != 0) {
            EXPECT_EQ(top.flags & (RootFlag::KIND_MASK | RootFlag::DECIDED), c.firstFlags) << c.fen;
            EXPECT_EQ(top.score, c.firstScore) << c.fen;
            EXPECT_NE(RootMoveOf(top) & CHECK_MARK, 0) << "a mating move is marked as a check";
        }
    }
}

TEST_F(RootTest, StalematingMoveIsDecidedAsADraw) {
    Prepare("k7/8/8/2Q5/8/8/8/7K w - - 0 1");
    bool found = false;
    for (int32_t i = 0; i < Root.list.count; ++i) {
        const RootMove& e = Root.list.entries[i];
        if ((RootMoveOf(e) & 0x0FFF) != MakeMoveWord(34, 41)) continue;
        found = true;
        EXPECT_EQ(e.flags & (RootFlag::KIND_MASK | RootFlag::DECIDED), RootFlag::STALEMATE | RootFlag::DECIDED);
        EXPECT_EQ(e.score, DrawScore(WHITE));
    }
    EXPECT_TRUE(found);
}

TEST_F(RootTest, NoLegalMoveRecordsTheGameResult) {
    struct Case {
        const char* fen;
        uint16_t gameEnd;
        int32_t score;
    };
    const Case cases[] = {
        {"k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", RootFlag::MATE | RootFlag::DECIDED, ROOT_NO_SCORE},
        {"k7/8/1Q6/8/8/8/8/7K b - - 0 1", RootFlag::STALEMATE | RootFlag::DECIDED, 0},
    };
    for (const Case& c : cases) {
        Prepare(c.fen);
        EXPECT_EQ(Root.list.count, 0) << c.fen;
        EXPECT_EQ(Root.gameEnd, c.gameEnd) << c.fen;
        EXPECT_EQ(Root.list.entries[0].score, c.score) << c.fen;
    }
}

TEST_F(RootTest, SearchmovesKeepOnlyTheListedMoves) {
    Limits.searchMoves[0] = MakeMoveWord(8, 16);    // a2a3
    Limits.searchMoves[1] = MakeMoveWord(15, 23);   // h2h3
    Limits.searchMoveCount = 2;
    Prepare("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    ASSERT_EQ(Root.list.count, 2);
    for (int32_t i = 0; i < 2; ++i) {
        const Move m = RootMoveOf(Root.list.entries[i]) & 0x0FFF;
        EXPECT_TRUE(m == MakeMoveWord(8, 16) || m == MakeMoveWord(15, 23)) << m;
    }
    // A list naming no legal move of the position is ignored rather than leaving nothing to
    // play: a square pair no piece can go, and the pinned bishop's e2d3.
    struct Ignored {
        const char* fen;
        Move listed;
    };
    const Ignored ignored[] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", MakeMoveWord(0, 63)},
        {"4r1k1/8/8/8/8/8/4B3/4K3 w - - 0 1", MakeMoveWord(12, 19)},
    };
    for (const Ignored& c : ignored) {
        Limits.searchMoves[0] = c.listed;
        Limits.searchMoveCount = 1;
        Position& pos = Prepare(c.fen);
        EXPECT_EQ(Root.list.count, LegalMoveCount(pos)) << c.fen;
        EXPECT_GT(Root.list.count, 0) << c.fen;
        EXPECT_EQ(Root.gameEnd, 0) << c.fen;
    }
}

TEST_F(RootTest, KillersSurviveOnlyASearchOfType0) {
    for (const uint8_t type : {uint8_t{0}, SearchType::FIXED, SearchType::TIMED}) {
        Limits.searchType = type;
        Ordering.killers[3][0] = 77;
        Prepare("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
        EXPECT_EQ(Ordering.killers[3][0], type == 0 ? 77 : 0) << int(type);
    }
}

TEST_F(RootTest, AStoppedIterationStillCreditsItsBestMove) {
    Limits.searchType = SearchType::FIXED;
    Position& pos = Prepare("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    const Move first = RootMoveOf(Root.list.entries[0]);
    const int code = PieceDestCode(pos.pieceType[MoveFrom(first)], MoveTo(first), WHITE);
    const uint16_t before = Ordering.history[code];
    SetStopReason(StopCode::STOP_COMMAND);
    EXPECT_EQ(SearchRoot(pos, 5), Root.list.entries[0].score);
    EXPECT_EQ(Ordering.history[code], before + 25);
    EXPECT_EQ(Search.stopReason, StopCode::STOP_COMMAND) << "the reason of the stop stays";
    SetStopReason(0);
}

TEST_F(RootTest, AShortBudgetLowersThePruningThresholdOfTheSearch) {
    // "Forward Pruning" 1 reduces late moves at a fixed depth; a timed search with a budget
    // short enough lowers the threshold by a step, to 0, and reduces none.
    Settings.forwardPruning = 16;
    struct Case {
        uint8_t type;
        int32_t timeAvailable;
        bool reduces;
    };
    // 1800 ms on the clock, one move to go: a budget of 188 ms, below the 256 ms that count
    // as short whatever the machine's speed.
    for (const Case& c : {Case{SearchType::FIXED, 0, true}, Case{SearchType::TIMED, 1800, false}}) {
        ASSERT_EQ(ReadFen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"), 1);
        ResetGoLimits();
        Limits.searchType = c.type;
        Limits.depthLimit = c.type == SearchType::FIXED ? 6 : MAX_DEPTH;
        testing::OutputCapture capture;
        RunSearch(WHITE, EngineStateValue::THINKING, 1, c.timeAvailable, 0);
        EXPECT_EQ(Search.reducedMoves > 0, c.reduces) << int(c.type);
        EXPECT_GT(SearchedNodes(), 0u);
    }
}

TEST_F(RootTest, SelectionSortFromAPlaceClearsExactMarks) {
    const int16_t scores[] = {5, 9, 9, -3, 12};
    Root.list.generated = Root.list.count = 5;
    for (int i = 0; i < 5; ++i) {
        Root.list.entries[i] = RootMove{static_cast<uint32_t>(i), 0, 0, scores[i], RootFlag::EXACT};
    }
    SortRootMoves(1);
    // A selection sort by swaps: the 12 swaps places with the first 9, so the other 9 comes first.
    const uint32_t expectedLines[] = {0, 4, 2, 1, 3};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Root.list.entries[i].line, expectedLines[i]) << i;
        if (i >= 1) {
            EXPECT_EQ(Root.list.entries[i].flags & RootFlag::EXACT, 0) << i;
        }
    }
    EXPECT_EQ(Root.list.entries[0].flags & RootFlag::EXACT, RootFlag::EXACT) << "entries before the start stay";
}

// Whole searches at a fixed depth: how they end and what they leave in the root list.
TEST_F(RootTest, FixedDepthSearchesStopForTheRightReason) {
    struct Case {
        const char* fen;
        int32_t depth;
        uint8_t stop;
        int32_t score;       // of entry 0, 0 = not checked
    };
    const Case cases[] = {
        {"7k/8/5K2/8/8/8/8/Q7 w - - 0 1", 12, StopCode::MATE_FOUND, MATE - 3},   // mate in 2 at depth 3
        {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1", 12, StopCode::MATE_FOUND, MATE_IN_ONE},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 3, 0, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ReadFen(c.fen), 1);
        ResetGoLimits();
        Limits.searchType = SearchType::FIXED;
        Limits.depthLimit = c.depth;
        testing::OutputCapture capture;
        const uint8_t stop = RunSearch(GameBoard.position.sideToMove, EngineStateValue::THINKING, 0, 0, 0);
        EXPECT_EQ(stop, c.stop) << c.fen;
        if (c.score != 0) {
            EXPECT_EQ(Root.list.entries[0].score, c.score) << c.fen;
        }
        const std::string out = capture.Take();
        EXPECT_NE(out.find("bestmove "), std::string::npos) << out;
        EXPECT_EQ(Control.engineState, 3) << "a finished search of its own";
        // The game board is left as it was: the move is taken back out of the record.
        EXPECT_EQ(GameRecord.length, 1) << c.fen;
    }
}

}  // namespace
}  // namespace tavrix
