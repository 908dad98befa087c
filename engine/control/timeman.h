// Time management: the game clocks, the time-control table, the budget of one search,
// the deadline, the gate between iterations, and the strength limit's throttle.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "search/root.h"

namespace tavrix {

constexpr int TIME_PERIODS = 4;
constexpr int32_t UNLIMITED_TARGET = 238000000;
constexpr int32_t UNLIMITED_MAXIMUM = 1524000000;
constexpr int32_t NO_DEADLINE = 2000000000;
constexpr int32_t NO_SOFT_LIMIT = 2000000000;
constexpr int32_t DEFAULT_MOVES_TO_GO = 30;
constexpr int32_t INITIAL_RUNNING_FACTOR = 16;   // x100
constexpr int32_t NO_SCORE = -8192;              // a booking without a search score
constexpr int32_t NO_PREVIOUS_SCORE = INT32_MIN;

// What a period's count means.
namespace PeriodCount {
constexpr int16_t UNUSED = -2;
constexpr int16_t REPEATS = -1;
constexpr int16_t REST_OF_GAME = 0;              // sudden death with increment
}  // namespace PeriodCount

struct TimePeriod {
    int32_t time;
    int32_t increment;
    uint16_t moves;
    int16_t count;           // PeriodCount, or n > 0: the period occurs n times
};

struct TimeState {
    // Clock base: taken at search start, after "ponderhit" and at every booked move.
    uint32_t baseTicks;
    int64_t baseProcessorMs;

    TimePeriod periods[TIME_PERIODS];

    // Per side, from AllotClock.
    int32_t movesToGo[2];
    int32_t timeAvailable[2];
    int32_t lookAheadMoves[2];
    int32_t lookAheadTime[2];
    int32_t increment;       // of the side last allotted
    uint64_t nodeTotal[2];

    // Budget of the current search.
    int32_t target;
    int32_t maximum;
    int32_t deadline;
    int32_t softLimit;
    int32_t extension;
    int32_t ponderCredit;    // time spent pondering before "ponderhit"
    int32_t forwardPruning;  // per-search copy of "Forward Pruning", maybe lowered for short budgets

    // Iteration statistics.
    int32_t runningFactor;   // branching factor x100
    uint64_t lastIterationNodes;
    uint64_t previousIterationNodes;
    int32_t lastScore;
    int32_t scoreChange;
    int32_t bestMoveChanges; // in the current iteration
    bool failLow;            // the current iteration failed low at the root
    int32_t completedIterations;
    bool easyMove;
    int32_t previousSearchScore;  // final score of the engine's previous search, or NO_PREVIOUS_SCORE

};

extern TimeState Time;

// Everything cleared, every period unused, the clock base taken now.
void ResetTimeState();

// ---------------------------------------------------------------- clock
// Milliseconds from base to now on a 32-bit tick counter, one less across a wrap.
constexpr int32_t ElapsedBetween(uint32_t base, uint32_t now) {
    uint32_t d = now - base;
    if (now < base) d -= 1;
    return static_cast<int32_t>(d);
}
int32_t ElapsedMs();
void ResetClockBase();
// AllotClock for both sides, then a new clock base.
void ResetClocks();
// A new game: every period unused.
void ClearTimeControl();
// The cumulative clock time of a side in the game record.
int32_t SideClock(int side);

// ---------------------------------------------------------------- time control
// From "go" with the side to move's remaining time; movesToGo 0 when not given.
void SetTimeControl(int32_t movesToGo, int32_t time, int32_t increment);
// Moves to go, time available and look-ahead of one side from the table and the game record.
void AllotClock(int side);

// ---------------------------------------------------------------- budget of one search
// depth: the iteration depth the search starts from (0 for a fresh search).
void StartBudget(int32_t movesToGo, int32_t timeAvailable, int32_t increment, int32_t depth);
void UpdateDeadline(int32_t depth);
// Before each iteration: advances depth and answers true to go on. A stop takes depth back.
// score: the score of the last iteration (entry 0's before the first).
bool IterationGate(int32_t& depth, const RootMoveList& list, int32_t score, const Position& root);
// Node count of an iteration just finished; the gate compares the last two.
void RecordIterationNodes(uint64_t nodes);

// The deadline extension for a score drop, in sixteenths of the target.
constexpr int DROP_EXTENSION_SIZE = 64;
constexpr uint8_t DropExtension[DROP_EXTENSION_SIZE] = {
    2,   5,   8,   11,  15,  20,  26,  32,  37,  42,  47,  52,  56,  60,  64,  68,
    72,  75,  78,  81,  84,  87,  90,  93,  96,  99,  101, 103, 105, 107, 108, 109,
    110, 111, 112, 113, 114, 115, 115, 116, 116, 117, 117, 118, 118, 119, 119, 120,
    120, 121, 121, 122, 122, 123, 123, 124, 124, 125, 125, 126, 126, 127, 127, 128};

// A root move became best or its line changed: moves the entry into the first MultiPV places,
// adjusts the extension, recomputes the deadline and prints the line(s) when due.
// Returns the entry's new index.
int BestMoveChanged(RootMoveList& list, int index, int32_t depth, int32_t boundKind, bool beingMated);

// ---------------------------------------------------------------- game record clock
// Books the move of the current game-record entry: its mover's cumulative clock, score
// (NO_SCORE: minus the score of the entry before, depth 1), depth and flags.
void BookMove(int32_t score, int32_t depth, uint16_t flags);

// ---------------------------------------------------------------- strength limit
// Sleeps until the node count fits the limited node rate, answering input meanwhile.
// t: the elapsed time of the clock check. Returns the elapsed time afterwards.
int32_t StrengthWait(int32_t t);

}  // namespace tavrix
