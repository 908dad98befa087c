#include <gtest/gtest.h>

#include <string>

#include "control/engine.h"
#include "control/game_record.h"
#include "control/options.h"
#include "control/setup.h"
#include "control/think.h"
#include "control/timeman.h"
#include "control/uci.h"
#include "platform/platform.h"
#include "search/search_state.h"

namespace tavrix {
namespace {

constexpr int THINKING = EngineStateValue::THINKING;
constexpr int PONDERING = EngineStateValue::PONDERING;
constexpr int CALIBRATING = EngineStateValue::CALIBRATING;

// Eight plies from the start: White to move, game length 9.
constexpr const char* OPENING = "e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 b5a4 g8f6";

void StartClean(const char* moves = OPENING) {
    ResetControlState();
    ResetEngineSettings();
    LoadDefaults();
    ResetSearchState();
    ResetGameBoard();
    NewGame();
    PlayMoveList(moves);
    ResetTimeState();
    Settings.optionFlags &= ~(OptionFlag::PONDER | OptionFlag::GUI_TIME_LAG);
    Control.engineState = THINKING;
    ThinkControl.learningAnchor = GameRecord.length - 20;  // well past the first moves
}

// "go" as the GUI sends it, then the budget for the side to move as think control asks for it.
void GoAndBudget(const char* goText) {
    ApplyGoClocks(ParseGo(goText));
    const int side = GameBoard.position.sideToMove;
    StartBudget(Time.movesToGo[side], Time.timeAvailable[side], Time.increment, 0);
}

TEST(TimeBudget, TimedControlFromGo) {
    struct Case {
        const char* name;
        const char* go;
        int pliesPastAnchor;   // 0: far past it
        uint32_t options;      // added to the flag word
        int32_t target, softLimit, maximum;
    };
    constexpr uint32_t PONDER = OptionFlag::PONDER;
    constexpr uint32_t LAG = OptionFlag::GUI_TIME_LAG;
    const Case cases[] = {
        // c = 56250, a = 54750, d = 938, total = 81952
        {"sudden death with increment", "wtime 60000 winc 1000 btime 60000 binc 1000", 0, 0, 2731, 1638, 40976},
        {"first search of a game", "wtime 60000 winc 1000", 2, 0, 3413, 2047, 40976},
        {"one ply past the anchor", "wtime 60000 winc 1000", 1, 0, 3584, 2150, 40976},
        {"five plies past the anchor", "wtime 60000 winc 1000", 5, 0, 2901, 1740, 40976},
        {"six plies past the anchor", "wtime 60000 winc 1000", 6, 0, 2731, 1638, 40976},
        {"pondering adds a quarter", "wtime 60000 winc 1000", 0, PONDER, 2731 + 682, 2047, 40976},
        {"the other side's clock is ignored", "wtime 60000 winc 1000 btime 5 binc 0", 0, 0, 2731, 1638, 40976},
        // no increment: 1500 held back, or 8000 with the lag option
        {"no increment", "wtime 60000", 0, 0, 54750 / 30, 1095, 27375},
        {"no increment with lag", "wtime 60000", 0, LAG, 48250 / 30, 964, 24125},
        {"lag with increment holds 1500", "wtime 60000 winc 1000", 0, LAG, 2731, 1638, 40976},
        // movestogo
        {"ten moves to go", "wtime 60000 movestogo 10", 0, 0, 5475, 3285, 27375},
        {"two moves to go", "wtime 60000 movestogo 2", 0, 0, 27375, 16425, 27375},
        {"last move before the control", "wtime 60000 movestogo 1", 0, 0, 54750, 32850, 54750},
        // total 54750 + 938 x 39 = 91332, shared over 30 moves at most
        {"forty moves to go", "wtime 60000 winc 1000 movestogo 40", 0, 0, 3044, 1826, 45666},
        // nearly flagged: a <= 60 becomes 60, or half the clock when that is less, and caps everything
        {"almost no time", "wtime 100", 0, 0, 1, 0, 23},
        {"almost no time with increment", "wtime 100 winc 1000", 0, 0, 47, 28, 47},
        {"a clock that pays the whole floor", "wtime 200 winc 1000", 0, 0, 60, 36, 60},
        {"negative clock counts as 1 ms", "wtime -500 winc 1000", 0, 0, 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartClean();
        Settings.optionFlags |= c.options;
        if (c.pliesPastAnchor != 0) ThinkControl.learningAnchor = GameRecord.length - c.pliesPastAnchor;
        GoAndBudget(c.go);
        EXPECT_EQ(Limits.searchType, SearchType::TIMED);
        EXPECT_EQ(Time.target, c.target);
        EXPECT_EQ(Time.softLimit, c.softLimit);
        EXPECT_EQ(Time.maximum, c.maximum);
        EXPECT_EQ(Time.deadline, std::min(c.target, c.maximum));
        EXPECT_EQ(Time.extension, 0);
        EXPECT_EQ(Control.stopReason, 0);
    }
}

TEST(TimeBudget, BlackToMoveUsesBlackClock) {
    StartClean("e2e4");
    GoAndBudget("wtime 1000 winc 0 btime 60000 binc 1000");
    EXPECT_EQ(Time.timeAvailable[BLACK], 60000);
    EXPECT_EQ(Time.movesToGo[BLACK], 30);
    EXPECT_EQ(Time.increment, 1000);
    EXPECT_EQ(Time.target, 2731);
    EXPECT_EQ(Time.maximum, 40976);
}

TEST(TimeBudget, DeadlineByStateAndSearchType) {
    struct Case {
        const char* name;
        const char* go;
        int engineState;
        int32_t ponderCredit;
        int32_t deadline;
    };
    const Case cases[] = {
        {"movetime", "movetime 5000", THINKING, 0, 5000},
        {"movetime beats a timed target", "wtime 600000 movetime 5000", THINKING, 0, 5000},
        {"infinite", "infinite", THINKING, 0, UNLIMITED_TARGET},
        {"depth", "depth 7", THINKING, 0, UNLIMITED_TARGET},
        {"timed", "wtime 60000 winc 1000", THINKING, 0, 2731},
        {"pondering has no deadline", "wtime 60000 winc 1000", PONDERING, 0, NO_DEADLINE},
        {"calibration runs to the move time", "movetime 1000", CALIBRATING, 0, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartClean();
        Control.engineState = c.engineState;
        GoAndBudget(c.go);
        EXPECT_EQ(Time.deadline, c.deadline);
    }

    // Time already spent pondering comes off the deadline.
    StartClean();
    GoAndBudget("wtime 60000 winc 1000");
    Time.ponderCredit = 700;
    UpdateDeadline(1);
    EXPECT_EQ(Time.deadline, 2731 - 700);
}

TEST(TimeBudget, DepthLimitPassedWhileMovingTheDeadline) {
    StartClean();
    GoAndBudget("depth 3");
    UpdateDeadline(3);
    EXPECT_EQ(Control.stopReason, 0);
    UpdateDeadline(4);
    EXPECT_EQ(Control.stopReason, StopCode::DEPTH_LIMIT);
}

TEST(TimeBudget, ForwardPruningLoweredForShortSearchesOnSlowMachines) {
    struct Case {
        const char* go;
        int32_t calibratedRate;
        bool steady;
        int32_t pruning;       // as set
        int32_t expected;
    };
    const Case cases[] = {
        {"wtime 60000 winc 1000", 100000, false, 160, 160 - 16},  // 390 x 10 < 192000
        {"wtime 60000 winc 1000", 100000, true, 160, 160},        // "Steady Search" keeps it
        {"wtime 60000 winc 1000", 200, false, 160, 160 - 16},     // slow machine
        {"wtime 60000 winc 1000", 100000, false, 15, 15},         // already below one step
        {"wtime 60000 winc 1000", 20000000, false, 160, 160},     // 78125 x 10 > 192000
        {"infinite", 100, false, 160, 160},                       // long search
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.go);
        StartClean();
        ThinkControl.calibratedNodeRate = c.calibratedRate;
        Settings.forwardPruning = c.pruning;
        if (c.steady) Settings.optionFlags |= OptionFlag::STEADY_SEARCH;
        GoAndBudget(c.go);
        EXPECT_EQ(Time.forwardPruning, c.expected);
        EXPECT_EQ(Settings.forwardPruning, c.pruning);
    }
}

// ---------------------------------------------------------------- clock table

TEST(TimeClock, ElapsedAcrossTheTickWrap) {
    struct Case { uint32_t base, now; int32_t elapsed; };
    const Case cases[] = {
        {1000, 1000, 0},
        {1000, 4500, 3500},
        {0xFFFFFF00u, 0xFFFFFFFFu, 0xFF},
        {0xFFFFFF00u, 0x00000010u, 0x10 + 0x100 - 1},  // wrapped: one less
    };
    for (const Case& c : cases) EXPECT_EQ(ElapsedBetween(c.base, c.now), c.elapsed) << c.base << " " << c.now;
}

TEST(TimeClock, AllotClockOverPeriods) {
    struct Case {
        const char* name;
        TimePeriod periods[TIME_PERIODS];
        int32_t movesPlayed;     // by White
        int32_t clock;           // White's cumulative time
        int32_t movesToGo, timeAvailable, increment;
        int32_t lookAheadMoves, lookAheadTime;
    };
    constexpr int16_t U = PeriodCount::UNUSED;
    constexpr TimePeriod NONE{0, 0, 0, U};
    const Case cases[] = {
        {"40 moves in 2 h, repeating", {{7200000, 0, 40, -1}, NONE, NONE, NONE}, 45, 8000000,
         35, 2 * 7200000 - 8000000, 0, 35 + 40, 2 * 7200000 - 8000000 + 7200000},
        {"40/2h then 20/1h repeating", {{7200000, 0, 40, 1}, {3600000, 0, 20, -1}, NONE, NONE}, 50, 8000000,
         10, 3600000 - 800000, 0, 30, 3600000 - 800000 + 3600000},
        {"40/2h then 30 min + 30 s", {{7200000, 0, 40, 1}, {1800000, 30000, 30, 0}, NONE, NONE}, 45, 7500000,
         30, 1800000 + 30000 * 5 - 300000, 30000, 30, 1800000 + 30000 * 5 - 300000},
        {"first of two 40-move rounds", {{0, 0, 0, 1}, {7200000, 0, 40, 2}, {3600000, 0, 20, -1}, NONE}, 10,
         100000, 30, 7200000 - 100000, 0, 70, 7200000 - 100000 + 7200000},
        {"last of two 40-move rounds", {{0, 0, 0, 1}, {7200000, 0, 40, 2}, {3600000, 0, 20, -1}, NONE}, 50,
         100000, 30, 2 * 7200000 - 100000, 0, 50, 2 * 7200000 - 100000 + 3600000},
        {"past both rounds", {{0, 0, 0, 1}, {7200000, 0, 40, 2}, {3600000, 0, 20, -1}, NONE}, 85,
         15000000, 15, 3600000 - 600000, 0, 35, 3600000 - 600000 + 3600000},
        {"game so far is never the current period", {{0, 0, 12, 1}, {60000, 1000, 30, 0}, NONE, NONE}, 10, 5000,
         20, 60000 + 1000 * 10 - 5000, 1000, 20 + 30, 60000 + 1000 * 10 - 5000 + 60000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartClean("");
        Limits.searchType = SearchType::TIMED;
        for (int i = 0; i < TIME_PERIODS; ++i) Time.periods[i] = c.periods[i];
        // White to move with movesPlayed moves behind it, the latest Black entry holding the clock.
        GameRecord.plyOffset = 2 * c.movesPlayed;
        GameRecord.entries[GameRecord.length - 1].clockTime = c.clock;
        AllotClock(WHITE);
        EXPECT_EQ(Time.movesToGo[WHITE], c.movesToGo);
        EXPECT_EQ(Time.timeAvailable[WHITE], c.timeAvailable);
        EXPECT_EQ(Time.increment, c.increment);
        EXPECT_EQ(Time.lookAheadMoves[WHITE], c.lookAheadMoves);
        EXPECT_EQ(Time.lookAheadTime[WHITE], c.lookAheadTime);
    }
}

TEST(TimeClock, AllotClockActsOnlyForTimedSearches) {
    StartClean();
    Time.periods[1] = TimePeriod{60000, 0, 30, PeriodCount::REST_OF_GAME};
    Time.movesToGo[WHITE] = 7;
    Limits.searchType = SearchType::FIXED;
    AllotClock(WHITE);
    EXPECT_EQ(Time.movesToGo[WHITE], 7);
}

TEST(TimeClock, GoClocksGiveTheGuiValuesAtAnyGameLength) {
    struct Case {
        const char* moves;
        const char* go;
        int side;
        int32_t movesToGo, time, increment;
    };
    const Case cases[] = {
        {"", "wtime 300000 btime 300000 winc 2000 binc 2000", WHITE, 30, 300000, 2000},
        {"e2e4", "wtime 300000 btime 290000 winc 2000 binc 3000", BLACK, 30, 290000, 3000},
        {OPENING, "wtime 123456 btime 1 movestogo 17", WHITE, 17, 123456, 0},
        {"e2e4 e7e5 g1f3", "btime 50 movestogo 1", BLACK, 1, 50, 0},
        {"", "wtime 0 winc 100", WHITE, 30, 1, 100},
        {"", "wtime 60000 movestogo -7", WHITE, 30, 60000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.moves) + " / " + c.go);
        StartClean(c.moves);
        // Clocks from earlier searches are folded into the finished period.
        GameRecord.entries[GameRecord.length].clockTime = 41000;
        GameRecord.entries[GameRecord.length - 1].clockTime = 39000;
        ApplyGoClocks(ParseGo(c.go));
        EXPECT_EQ(Limits.searchType, SearchType::TIMED);
        EXPECT_EQ(Time.periods[0].time, 41000);
        EXPECT_EQ(Time.periods[0].count, 1);
        EXPECT_EQ(Time.periods[2].count, PeriodCount::UNUSED);
        EXPECT_EQ(SideClock(WHITE), 41000);
        EXPECT_EQ(SideClock(BLACK), 41000);
        EXPECT_EQ(Time.movesToGo[c.side], c.movesToGo);
        EXPECT_EQ(Time.timeAvailable[c.side], c.time);
        AllotClock(c.side);
        EXPECT_EQ(Time.increment, c.increment);
    }
}

TEST(TimeClock, GoWithoutTheMoversTimeStaysFixed) {
    StartClean();
    ApplyGoClocks(ParseGo("btime 60000 binc 1000"));  // White to move, only Black's clock given
    EXPECT_EQ(Limits.searchType, SearchType::FIXED);
    EXPECT_EQ(Time.periods[1].count, PeriodCount::UNUSED);
}

TEST(TimeClock, NewGameEmptiesTheTable) {
    struct Case { const char* line; bool emptied; };
    const Case cases[] = {
        {"ucinewgame", true},
        {"position startpos moves e2e4", true},
        {"position fen 4k3/8/8/8/8/8/8/4K3 w - - 0 40", false},
        {"isready", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        StartClean();
        ApplyGoClocks(ParseGo("wtime 60000"));
        ASSERT_NE(Time.periods[1].count, PeriodCount::UNUSED);
        Control.protocolState = ProtocolStateValue::READY;
        Control.engineState = EngineStateValue::IDLE;
        Dispatch(c.line);
        EXPECT_EQ(Time.periods[1].count == PeriodCount::UNUSED, c.emptied);
    }
}

TEST(TimeClock, BookMoveFillsTheEntry) {
    struct Case {
        int32_t score, depth;
        uint16_t flags;
        int16_t bookedScore;
        uint16_t depthWord;
    };
    const Case cases[] = {
        {35, 12, EntryFlag::SCORE_USABLE, 35, 12 << 10},
        {-7900, 63, EntryFlag::SCORE_USABLE, -7900, 63 << 10},
        {2, 1, EntryFlag::BOOK_MOVE, 2, 1 << 10},
        {NO_SCORE, 9, 0, -44, 1 << 10},  // no score: the previous entry's negated, depth 1
        {10, 90, 0, 10, 63 << 10},        // depth clamped to its six bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.score);
        StartClean();
        ThinkControl.position.nodes = 5000;
        const int n = GameRecord.length;
        GameRecord.entries[n - 1].score = 44;
        GameRecord.entries[n - 2].clockTime = 30000;  // the mover's time before this move
        Time.baseTicks = platform::TickCount() - 1500;
        BookMove(c.score, c.depth, c.flags);
        const GameEntry& e = GameRecord.entries[n];
        EXPECT_GE(e.clockTime, 31500);
        EXPECT_LT(e.clockTime, 31500 + 1000);
        EXPECT_EQ(e.score, c.bookedScore);
        EXPECT_EQ(e.depthWord, c.depthWord);
        EXPECT_EQ(e.flags, c.flags);
        EXPECT_EQ(Time.nodeTotal[e.mover], 5000u);
        EXPECT_LT(ElapsedMs(), 1000);  // a new clock base
    }
}

// ---------------------------------------------------------------- root list helpers

struct ListSetup {
    int count;
    int16_t scores[8];
};

RootMoveList MakeList(const ListSetup& s) {
    RootMoveList list{};
    list.count = s.count;
    for (int i = 0; i < s.count; ++i) {
        list.entries[i].line = static_cast<uint32_t>(i);
        list.entries[i].score = s.scores[i];
        Root.lines[i][1] = static_cast<Move>(MakeMoveWord(8 + i, 16 + i));
    }
    return list;
}

// ---------------------------------------------------------------- best-move change

TEST(BestMoveChange, EntryMovesIntoTheMultiPvPlaces) {
    struct Case {
        int multiPV;
        ListSetup list;
        int index;
        int newIndex;
        uint32_t order[6];      // line index of each entry afterwards
    };
    const Case cases[] = {
        {1, {5, {50, 40, 30, 20, 60}}, 4, 0, {4, 0, 1, 2, 3}},
        {1, {5, {50, 40, 30, 20, 10}}, 2, 0, {2, 0, 1, 3, 4}},  // best with MultiPV 1 whatever its score
        {1, {3, {50, 40, 30}}, 0, 0, {0, 1, 2}},                // entry 0 stays
        {3, {6, {50, 40, 30, 20, 10, 45}}, 5, 1, {0, 5, 1, 2, 3, 4}},
        {3, {6, {50, 40, 30, 20, 10, 35}}, 5, 2, {0, 1, 5, 2, 3, 4}},  // none below: place MultiPV - 1
        {3, {6, {50, 40, 30, 20, 10, 60}}, 5, 0, {5, 0, 1, 2, 3, 4}},
        {3, {6, {50, 40, 30, 20, 10, 40}}, 5, 2, {0, 1, 5, 2, 3, 4}},  // an equal score is not below
        {4, {6, {50, 40, 30, 20, 10, 45}}, 1, 1, {0, 1, 2, 3, 4, 5}},  // already inside the places
        {6, {6, {50, 40, 30, 20, 10, 45}}, 2, 2, {0, 1, 2, 3, 4, 5}},  // 30 above nothing before it
        {6, {6, {50, 40, 30, 20, 10, 45}}, 5, 1, {0, 5, 1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "multipv " << c.multiPV << " index " << c.index);
        StartClean();
        GoAndBudget("wtime 60000 winc 1000");
        Settings.multiPV = static_cast<uint8_t>(c.multiPV);
        Time.completedIterations = 4;
        RootMoveList list = MakeList(c.list);
        EXPECT_EQ(BestMoveChanged(list, c.index, 5, 4, false), c.newIndex);
        for (int i = 0; i < c.list.count; ++i) EXPECT_EQ(list.entries[i].line, c.order[i]) << i;
        EXPECT_EQ(Time.bestMoveChanges, c.index != 0 ? 1 : 0);
        EXPECT_EQ(Time.completedIterations, c.index != 0 ? 0 : 4);
    }
}

TEST(BestMoveChange, ExtensionByResultKind) {
    // target 2731, maximum 40976
    struct Case {
        const char* name;
        int16_t bestScore;
        int32_t boundKind;
        bool beingMated;
        int32_t lastScore, scoreChange;
        bool failLow;
        int32_t extensionBefore;
        int index;              // entry that changed (entry 1 becomes best)
        int32_t extension;
    };
    const Case cases[] = {
        {"exact: no change", 20, 3, false, 100, 0, false, 500, 0, 500},
        {"fail low", 20, 2, false, 20, 0, false, 0, 0, 8 * 2731},
        {"fail low kind 0", 20, 0, false, 20, 0, false, 0, 0, 8 * 2731},
        {"being mated: everything", -7900, 4, false, 20, 0, false, 0, 0, 40976},
        {"already known to be mated", -7900, 3, true, 20, 0, false, 0, 0, 0},
        {"drop of 60", 40, 4, false, 100, 0, false, 0, 0, 32 * (2731 / 16)},
        {"drop of 60 after a falling iteration", 40, 4, false, 100, -20, false, 0, 0, 47 * (2731 / 16)},
        {"rising last change does not count", 40, 4, false, 100, 20, false, 0, 0, 32 * (2731 / 16)},
        {"drop after a fail low", 40, 6, false, 100, 0, true, 0, 0, 52 * (2731 / 16)},
        {"drop with a new best move", 40, 4, false, 100, 0, false, 0, 1, 37 * (2731 / 16)},
        {"smallest real drop", 96, 4, false, 100, 0, false, 0, 0, 2 * (2731 / 16)},
        {"huge drop is capped", -3000, 4, false, 100, 0, false, 0, 0, 128 * (2731 / 16)},
        {"no drop clears a positive extension", 97, 4, false, 100, 0, false, 900, 0, 0},
        {"no drop keeps a negative extension", 150, 4, false, 100, 0, false, -1365, 0, -1365},
        {"no drop with a new best move", 150, 4, false, 100, 0, false, -1365, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartClean();
        GoAndBudget("wtime 60000 winc 1000");
        ASSERT_EQ(Time.target, 2731);
        Time.lastScore = c.lastScore;
        Time.scoreChange = c.scoreChange;
        Time.failLow = c.failLow;
        Time.extension = c.extensionBefore;
        // The changing entry carries the best score; the other one sits just below it.
        ListSetup setup{3, {0, 0, -50}};
        setup.scores[c.index] = c.bestScore;
        setup.scores[c.index ^ 1] = static_cast<int16_t>(c.bestScore - 10);
        RootMoveList list = MakeList(setup);
        BestMoveChanged(list, c.index, 5, c.boundKind, c.beingMated);
        EXPECT_EQ(list.entries[0].score, c.bestScore);
        EXPECT_EQ(Time.extension, c.extension);
        const int64_t deadline = std::min<int64_t>(2731 + int64_t{c.extension}, 40976);
        EXPECT_EQ(Time.deadline, deadline);
    }
}

TEST(BestMoveChange, FailLowRaisesDeadlineToNineTargetsOrTheMaximum) {
    struct Case { const char* go; int32_t deadline; };
    const Case cases[] = {
        {"wtime 60000 winc 1000", 9 * 2731},
        {"wtime 60000 movestogo 2", 27375},        // nine targets are past the maximum
        {"wtime 1000", 18},                        // the 60 ms floor: target 2
        {"movetime 3000", 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.go);
        StartClean();
        GoAndBudget(c.go);
        RootMoveList list = MakeList({2, {-30, -40}});
        BestMoveChanged(list, 0, 6, 2, false);
        EXPECT_EQ(Time.deadline, c.deadline);
    }
}

// ---------------------------------------------------------------- iteration gate

TEST(IterationGate, DepthLimits) {
    struct Case {
        const char* name;
        const char* go;
        int engineState;
        uint8_t searchType;     // 0: as "go" left it
        int32_t depthBefore;
        bool goOn;
    };
    const Case cases[] = {
        {"thinking stops at the limit", "depth 4", THINKING, 0, 4, false},
        {"thinking runs up to the limit", "depth 4", THINKING, 0, 3, true},
        {"pondering passes the limit", "depth 4", PONDERING, 0, 4, true},
        {"pondering stops at the maximum depth", "depth 4", PONDERING, 0, MAX_DEPTH, false},
        {"search type 1 stops at the limit", "depth 4", PONDERING, 1, 4, false},
        {"first iteration", "wtime 60000", THINKING, 0, 0, true},
        {"infinite ends at the maximum depth", "infinite", THINKING, 0, MAX_DEPTH, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartClean();
        Control.engineState = c.engineState;
        GoAndBudget(c.go);
        if (c.searchType != 0) Limits.searchType = c.searchType;
        RootMoveList list = MakeList({2, {30, 20}});
        int32_t depth = c.depthBefore;
        EXPECT_EQ(IterationGate(depth, list, 30, GameBoard.position), c.goOn);
        EXPECT_EQ(depth, c.goOn ? c.depthBefore + 1 : c.depthBefore);
        EXPECT_EQ(Control.stopReason, 0);  // a depth stop leaves the reason alone
    }
}

TEST(IterationGate, TimeRules) {
    // target 2731, soft limit 1638
    struct Case {
        const char* name;
        int32_t elapsed;
        int32_t extension;
        uint64_t previousNodes, lastNodes;
        bool failLow;
        int bestMoveChanges;
        int engineState;
        bool goOn;
    };
    const Case cases[] = {
        {"inside the soft limit", 500, 0, 1000, 3000, false, 0, THINKING, true},
        {"past the target", 2900, 0, 1000, 1000, false, 0, THINKING, false},
        {"past the target but extended", 2900, 2000, 1000, 100, false, 0, THINKING, true},
        {"past a shortened target", 1500, -1365, 1000, 1000, false, 0, THINKING, false},
        {"past the soft limit, next iteration too long", 1800, 0, 1000, 3000, false, 0, THINKING, false},
        {"past the soft limit, cheap iterations", 1800, 0, 1000, 100, false, 0, THINKING, true},
        {"past the soft limit after a fail low", 1800, 0, 1000, 3000, true, 0, THINKING, true},
        {"past the soft limit with a new best move", 1800, 0, 1000, 3000, false, 1, THINKING, true},
        {"pondering ignores the clock", 9000, 0, 1000, 3000, false, 0, PONDERING, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartClean();
        Control.engineState = c.engineState;
        GoAndBudget("wtime 60000 winc 1000");
        ASSERT_EQ(Time.softLimit, 1638);
        Time.extension = c.extension;
        Time.previousIterationNodes = c.previousNodes;
        Time.lastIterationNodes = c.lastNodes;
        Time.failLow = c.failLow;
        Time.bestMoveChanges = c.bestMoveChanges;
        Time.baseTicks = platform::TickCount() - static_cast<uint32_t>(c.elapsed);
        RootMoveList list = MakeList({2, {30, 20}});
        int32_t depth = 5;
        EXPECT_EQ(IterationGate(depth, list, 30, GameBoard.position), c.goOn);
        EXPECT_EQ(depth, c.goOn ? 6 : 5);
        EXPECT_EQ(Control.stopReason, c.goOn ? 0 : StopCode::GATE);
        if (c.goOn) {
            EXPECT_EQ(Time.bestMoveChanges, 0);
        }
    }
}

TEST(IterationGate, StatisticsAndKeptStopReason) {
    StartClean();
    GoAndBudget("wtime 60000 winc 1000");
    RootMoveList list = MakeList({2, {30, 20}});
    int32_t depth = 0;
    Time.bestMoveChanges = 3;
    ASSERT_TRUE(IterationGate(depth, list, 30, GameBoard.position));
    EXPECT_EQ(Time.lastScore, 30);
    EXPECT_EQ(Time.scoreChange, 0);
    EXPECT_EQ(Time.bestMoveChanges, 0);
    EXPECT_EQ(Time.runningFactor, INITIAL_RUNNING_FACTOR);  // depth 1 measures nothing

    RecordIterationNodes(100);
    RecordIterationNodes(400);  // ratio 400 x 100 / 101 = 396
    ASSERT_TRUE(IterationGate(depth, list, -10, GameBoard.position));
    EXPECT_EQ(Time.runningFactor, (16 + 396) / 2);
    EXPECT_EQ(Time.scoreChange, -40);
    EXPECT_EQ(Time.lastScore, -10);

    RecordIterationNodes(0);  // the ratio never counts below 16
    ASSERT_TRUE(IterationGate(depth, list, -10, GameBoard.position));
    EXPECT_EQ(Time.runningFactor, ((16 + 396) / 2 + 16) / 2);

    // A stop command that arrived meanwhile is not overwritten.
    Control.stopReason = StopReasonValue::STOP_COMMAND;
    EXPECT_FALSE(IterationGate(depth, list, -10, GameBoard.position));
    EXPECT_EQ(depth, 3);
    EXPECT_EQ(Control.stopReason, StopReasonValue::STOP_COMMAND);
}

TEST(IterationGate, EasyMoveShortensTheBudget) {
    // After 1. e4 d5 2. exd5 Black to move: Qxd8... d8d5 takes back a pawn with the queen.
    constexpr const char* CAPTURE_LINE = "e2e4 d7d5 e4d5";
    const Move recapture = MakeMoveWord(59, 35);  // Qd8xd5 takes the pawn that took
    const Move other = MakeMoveWord(62, 45);      // Ng8f6
    struct Case {
        const char* name;
        const char* moves;
        Move best;
        int16_t bestScore, secondScore;
        bool easyFlag;
        int completed;          // completed iterations before depth 5
        bool failLow;
        uint64_t lastNodes;     // previous iteration 1000 nodes
        int32_t previousSearchScore;
        int32_t extension;      // target 2731
    };
    const Case cases[] = {
        {"plain easy move", OPENING, other, 200, 100, true, 4, false, 500, NO_PREVIOUS_SCORE, -1365},
        {"margin of exactly 96 is not easy", OPENING, other, 196, 100, true, 4, false, 500, NO_PREVIOUS_SCORE, 0},
        {"flag not set", OPENING, other, 200, 100, false, 4, false, 500, NO_PREVIOUS_SCORE, 0},
        {"best move changed in this search", OPENING, other, 200, 100, true, 0, false, 500, NO_PREVIOUS_SCORE, 0},
        {"fail low in this iteration", OPENING, other, 200, 100, true, 4, true, 500, NO_PREVIOUS_SCORE, 0},
        {"even recapture", CAPTURE_LINE, recapture, 200, 100, true, 4, false, 500, NO_PREVIOUS_SCORE,
         -1365 - 682},
        {"same square, other move", CAPTURE_LINE, other, 200, 100, true, 4, false, 500, NO_PREVIOUS_SCORE, -1365},
        {"growing tree", OPENING, other, 200, 100, true, 4, false, 100000, NO_PREVIOUS_SCORE, -1365 - 682},
        {"score rose since the last search", OPENING, other, 200, 100, true, 4, false, 500, 100, -1365 / 2},
        {"score steady since the last search", OPENING, other, 200, 100, true, 4, false, 500, 150, -1365},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartClean(c.moves);
        GoAndBudget(GameBoard.position.sideToMove == WHITE ? "wtime 60000 winc 1000" : "btime 60000 binc 1000");
        ASSERT_EQ(Time.target, 2731);
        Time.easyMove = c.easyFlag;
        Time.completedIterations = c.completed;
        Time.failLow = c.failLow;
        Time.previousSearchScore = c.previousSearchScore;
        Time.previousIterationNodes = 1000;
        Time.lastIterationNodes = c.lastNodes;
        RootMoveList list = MakeList({2, {c.bestScore, c.secondScore}});
        Root.lines[0][1] = c.best;
        int32_t depth = 4;
        EXPECT_TRUE(IterationGate(depth, list, c.bestScore, GameBoard.position));
        EXPECT_EQ(Time.extension, c.extension);
        EXPECT_EQ(Time.deadline, 2731 + c.extension);
    }
}

// ---------------------------------------------------------------- strength limit

TEST(StrengthLimit, WaitEndsAtOnceWhenNothingIsDueOrTheDeadlineHasPassed) {
    struct Case {
        const char* name;
        uint64_t nodes;
        int32_t deadline;
        uint8_t stopReason;
        uint8_t stopAfter;
    };
    const Case cases[] = {
        {"ahead of the rate", 100, NO_DEADLINE, 0, 0},
        {"behind, but the deadline has passed", 10000000, 0, 0, StopCode::DEADLINE},
        {"behind, but already stopping", 10000000, NO_DEADLINE, StopReasonValue::STOP_COMMAND,
         StopReasonValue::STOP_COMMAND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartClean();
        Settings.strengthLimit = 1000;
        ThinkControl.position.nodes = c.nodes;
        Time.deadline = c.deadline;
        Control.stopReason = c.stopReason;
        const int32_t t = ElapsedMs();
        EXPECT_LT(StrengthWait(t), t + 1000);
        EXPECT_EQ(Control.stopReason, c.stopAfter);
        EXPECT_EQ(Search.pollCountdown, 1000 / 8);
    }
}

}  // namespace
}  // namespace tavrix
