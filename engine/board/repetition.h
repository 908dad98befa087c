// Draw detection: repeated positions and the fifty-move rule.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// More plies than this since the last capture or pawn move is a draw.
constexpr int32_t FIFTY_MOVE_PLIES = 99;
// The nearest earlier position with the same side to move lies this far back.
constexpr int32_t REPETITION_MIN_PLIES = 4;
// Game positions remembered for repetition tests; a ring, indexed by ply.
constexpr int32_t GAME_KEY_HISTORY = 256;

struct RepetitionState {
    int32_t searchStartPly;                 // `ply` of the root of the running search
    uint32_t gameKeyLow[GAME_KEY_HISTORY];  // key of the game position at ply i, slot i % size
    uint32_t gameKeyHigh[GAME_KEY_HISTORY];
    int32_t gameKeyPly[GAME_KEY_HISTORY];   // ply whose key a slot holds; 0 = none
};

// Each search thread keeps its own.
extern thread_local constinit RepetitionState Repetition;

void ResetRepetitionState();

// Remembers the key of a game position (after set-up and after every game move).
void RecordGameKey(const Position& pos);

// True when the current position occurred before since the last irreversible move, in
// the search tree or in the game.
bool IsRepetition(const Position& pos);
// True when the quiet `move` would produce a position that occurred before.
bool MoveRepeatsPosition(Move move, const Position& pos);
// Earlier occurrences of the current position in the game (root use).
int32_t RepetitionCount(const Position& pos);

inline bool IsFiftyMoveDraw(const Position& pos) { return pos.ply - pos.lastIrreversiblePly > FIFTY_MOVE_PLIES; }

}  // namespace tavrix
