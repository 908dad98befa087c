// The UCI command loop: reading lines, dispatching commands, parsing "position" and "go".
#pragma once

#include <cstdint>

#include "control/engine.h"

namespace tavrix {

// What Dispatch reports.
namespace DispatchResult {
constexpr int UNKNOWN = 0;
constexpr int DONE = 1;
constexpr int WAIT = 2;       // must run again once the current search has ended
}  // namespace DispatchResult

// Reads and carries out lines until no more input is waiting or the stop reason is set.
// End of input counts as "quit".
void ReadAndDispatch();
// Carries out one line.
int Dispatch(const char* line);
// True when input is waiting on standard input.
bool PollInput();

// ---------------------------------------------------------------- "position"
enum class PositionBase : uint8_t { CURRENT, START, FEN };

struct PositionCommand {
    PositionBase base;
    const char* fen;          // text behind "fen" (FEN reading stops by itself), or nullptr
    const char* moves;        // first move token behind "moves", or nullptr when no moves follow
};

// Splits the text behind "position".
PositionCommand ParsePosition(const char* cursor);
// A "position" text that shares too little with the previous one starts another game.
bool StartsAnotherGame(const char* text, const char* lastText);

// ---------------------------------------------------------------- "go"
struct GoCommand {
    GoLimits limits;
    int32_t whiteTime;        // ms, 0 when not given
    int32_t blackTime;
    int32_t whiteIncrement;
    int32_t blackIncrement;
    int32_t movesToGo;        // 0 when not given
    bool clocksReset;         // "depth", "movetime" or "infinite" asked for fresh clocks
    const char* searchMovesText;  // move tokens behind "searchmoves", or nullptr
};

// Parses the text behind "go"; starts from the current limits (search type carries over) and
// reports unknown parameters.
GoCommand ParseGo(const char* cursor);
// Takes over the limits of "go" and sets up the clocks: a fresh clock reset when asked, the
// timed control when the side to move has time on its clock.
void ApplyGoClocks(const GoCommand& go);

// ---------------------------------------------------------------- command handlers
void CommandUci();
int CommandQuit();
void CommandPosition(const char* cursor);
void CommandGo(const char* cursor);
// "go perft N": leaf counts per root move of the current position, then the total.
void CommandPerft(const char* cursor);
void CommandPonderhit();
int CommandIsReady();
void CommandUciNewGame();
// "bench [depth]": fixed-depth searches over the built-in positions.
void CommandBench(const char* cursor);
// "eval": the evaluation of the game position, term by term; the last line "eval total N"
// (centipawns, White's view).
void CommandEval();
constexpr int32_t DEFAULT_BENCH_DEPTH = 7;
// The move tokens behind "searchmoves"; unreadable ones are skipped, at most 128 are kept.
void ReadSearchMoves(const Position& board, const char* text, GoLimits& limits);

}  // namespace tavrix
