// What the engine says while and after it searches: info lines, "bestmove", score and move texts.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "search/think_link.h"

namespace tavrix {

constexpr int SCORE_TEXT_SIZE = 32;
constexpr int WIRE_MOVE_TEXT_SIZE = 8;     // "e7e8q " and its terminator
constexpr int OUTPUT_LINE_SIZE = 1024;     // an info line with a 62-move line fits

// Score in centipawns (toward zero) with the bound suffix, or "mate N" / "mate -N".
void ScoreText(int32_t score, int32_t boundKind, char out[SCORE_TEXT_SIZE]);
// Coordinate move with a lower-case promotion letter and one trailing space.
void MoveText(Move move, char out[WIRE_MOVE_TEXT_SIZE]);

// One "info ... pv ..." line; `multiPV` 0 prints no "multipv" field. `line` ends with 0.
void PrintPv(int32_t multiPV, const Move* line, int32_t boundKind, int32_t score, int32_t depth,
             int32_t selectiveDepth);
void PrintCurrmove(int32_t number, Move move);
void PrintNodes();
void PrintDepth();
void PrintBestmove(Move move, Move ponder);
// The "bestmove" line alone ("bestmove 0000 " for the null move).
void PrintBestmoveLine(Move move, Move ponder);

// The PV line(s) of the root list as they stand: entry 0 with the root's bound kind, or with
// MultiPV the first entries each with its own depth and score.
void PrintRootPv();

}  // namespace tavrix
