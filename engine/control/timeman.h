// Time management: game clocks, the budget of a move, the deadline, the iteration gate and
// the strength limit.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

constexpr int32_t UNLIMITED_TARGET = 238000000;
constexpr int32_t UNLIMITED_MAXIMUM = 1524000000;
constexpr int32_t NO_SOFT_LIMIT = 2000000000;
constexpr int32_t PONDER_DEADLINE = 2000000000;
constexpr int32_t INITIAL_RUNNING_FACTOR = 16;
constexpr int32_t DEFAULT_MOVES_TO_GO = 30;

struct TimeState {
    uint32_t clockBase;          // tick count at the start of the current measurement
    int32_t target;
    int32_t maximum;
    int32_t deadline;
    int32_t softLimit;
    int32_t extension;
    int32_t ponderCredit;        // time spent pondering before "ponderhit"
    int32_t forwardPruning;      // per-search pruning threshold
    int32_t runningFactor;       // branching factor x 100
    uint64_t iterationNodes[2];  // nodes of the last iteration and of the one before
    int32_t lastScore;
    int32_t scoreChange;
    int32_t bestMoveChanges;     // in the current iteration
    int32_t movesToGo[2];        // per side, from the clock table
    int32_t timeAvailable[2];
    int32_t increment[2];
};

extern TimeState Time;

void ResetTimeState();

// Milliseconds since the clock base.
int32_t ElapsedTime();
void ResetClockBase();
// Both sides' allotments from the clock table, then a new clock base.
void ResetClocks();

// The clock table from the "go" values of the side to move.
void SetTimeControl(int32_t movesToGo, int32_t time, int32_t increment);
// Moves to go, time available and increment of `side` from the clock table.
void AllotClock(Colour side);
// The budget of a new search.
void StartBudget(int32_t movesToGo, int32_t timeAvailable, int32_t increment);
// Recomputes the deadline, then runs the clock and input check.
void UpdateDeadline();
// Before each iteration: advances the depth; false when no further iteration should run.
bool IterationGate();
// The root entry at `index` became best or changed its line; re-sorts it into the first
// MultiPV places, adapts the deadline, prints when due and returns the entry's new index.
int32_t BestMoveChanged(int32_t index);
// Enters the move just made in the game record's clock with score, depth and flags.
void BookMove(int32_t score, int32_t depth, uint16_t flags);

// Sleeps until the node count fits the strength limit (input is served meanwhile).
void StrengthLimitWait(int32_t elapsed);

}  // namespace tavrix
