// Think control: one search from "go" to "bestmove", the clock and input check made from
// inside the search, pondering, and the calibration search of start-up.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "control/engine.h"
#include "search/search_state.h"

namespace tavrix {


static_assert(StopCode::STOP_COMMAND == StopReasonValue::STOP_COMMAND);

// Output bits of a search.
namespace OutputBit {
constexpr uint8_t CURRMOVE_ALLOWED = 0x01;
constexpr uint8_t STARTED = 0x02;
}  // namespace OutputBit

constexpr int32_t FIRST_OUTPUT_MS = 500;        // a search this short prints one line at its end
constexpr int32_t CURRMOVE_AFTER_MS = 2000;
constexpr int32_t SINGLE_REPLY_MS = 250;
constexpr int32_t SINGLE_REPLY_DEPTH = 3;
constexpr int32_t CALIBRATION_MS = 1000;
constexpr int32_t EASY_MOVE_MARGIN = 96;
constexpr int32_t ASPIRATION = 32;
constexpr int32_t NO_ANCHOR = -1;

struct ThinkState {
    Position position;          // the search's own copy of the game position
    Colour side;                // side the engine thinks for
    int32_t bestScore;          // of the last completed iteration
    int32_t lowestBest;         // since depth 3
    int32_t highestBest;
    Move ponderMove;
    int32_t nodeRate;           // nodes per second last measured by the clock check
    int32_t calibratedNodeRate; // measured at start-up
    int32_t pollCount;          // clock checks since the last "info nodes" line
    int32_t learningAnchor;     // game length the learning is measured from, NO_ANCHOR unset
    uint32_t anchorKey[2];
    int32_t savedScore;         // final score of the last own search, for the next one
    int32_t savedLength;
    int32_t inputLooks;         // looks for input left before the next clock check (with helpers)
    bool silent;                // a search of "bench": input is read, nothing is printed
};

extern ThinkState ThinkControl;

void ResetThinkState();

// Sets the stop reason of the command loop and of the search together.
void SetStopReason(uint8_t reason);
// True while input may be read during a search (the start-up calibration does not poll).
bool InputPollingActive();

// Nodes of the running (or last) search, every thread's.
uint64_t SearchedNodes();
// The root window of the next iteration after one that scored `score`.
void SetRootWindow(int32_t score);

// Thinks for `side` in `mode` (4 normal, 6 ponder) on the game position.
void Think(Colour side, int mode);
// The search body; returns the stop reason (normal thinking) or the stop value (other modes).
uint8_t RunSearch(Colour side, int mode, int32_t movesToGo, int32_t timeAvailable, int32_t increment);
// The clock and input check; returns the elapsed milliseconds.
int32_t TimeCheck(bool keepNodeRate);
// Called by the search whenever its poll countdown runs out.
void SearchPoll();
// With helpers beside it the main search gets only a share of the processor and its clock
// checks, spaced in its own nodes, come seldom: the nodes up to the next one are cut into
// steps of INPUT_LOOK_NODES, after each of which it looks for waiting input.
constexpr int32_t INPUT_LOOK_NODES = 256;
void SpaceInputLooks();
// Switches a running ponder search to normal thinking.
void Ponderhit(int32_t ponderTime);
// After an iteration: plays a forced move once the search has looked far and long enough.
void SingleReplyCheck();

// The one-second search of start-up that measures the node rate and sets the "UCI_Elo" range.
void CalibrationSearch();

// The positions of "bench"; the speed tools search the same set.
inline constexpr const char* BENCH_POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ - 0 8",
    "2r2rk1/1bqnbppp/p2ppn2/1p6/3NP3/1BN1BP2/PPPQ2PP/2KR3R w - - 0 13",
    "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4",
    "6k1/5ppp/8/8/8/8/q4PPP/1Q4K1 w - - 0 1",
    "8/8/1p1k4/1P1p4/3K4/8/8/8 w - - 0 1",
    "8/3k4/8/8/8/4K3/4P3/8 w - - 0 1",
};

// One fixed-depth search of the game board's position through the root of every search,
// as "bench" runs each position: nothing is printed and the game board stays; waiting input
// is read as during "go" once the command loop reads input. The result stays in the root
// list (entry 0 the best move). Returns the nodes searched.
uint64_t SearchFixedDepth(int32_t depth);

// Fixed-depth searches over a built-in set of positions; prints nodes, time and nodes per
// second. "stop", or a command that waits for the search, ends it with the count so far.
// Returns the node total.
uint64_t Bench(int32_t depth);

}  // namespace tavrix
