// Attack maps kept exact move by move, and the hanging values read from them.
#pragma once

#include "board/position.h"

namespace tavrix {

// Adds or removes the attacks of one piece of `side` standing on `square`; pieces whose
// hanging value may change are marked in attackedSlots.
using AttackRoutine = void (*)(Position& p, Colour side, int square);
constexpr int REMOVE_ROUTINES = 7;  // removing routines follow the adding ones
extern const AttackRoutine AttackRoutines[2 * REMOVE_ROUTINES];

inline void AddAttacks(Position& p, PieceType type, Colour side, int square) {
    AttackRoutines[type](p, side, square);
}
inline void RemoveAttacks(Position& p, PieceType type, Colour side, int square) {
    AttackRoutines[type + REMOVE_ROUTINES](p, side, square);
}

// True when a slider or x-ray of the map reaches the square, the gate for all ray work.
inline bool SliderReaches(const AttackRecord& r) {
    return ((r.attackWeight & 0xFF) | r.xrayWeight) & 0xFE;
}

// The square has just become empty: extend every ray of `side` that now runs through it.
// `lineBits` are those of the piece that left.
void VacateSquare(Position& p, Colour side, int square, uint8_t lineBits);
// The square has just been filled: cut every ray of `side` at it.
void OccupySquare(Position& p, Colour side, int square, uint8_t lineBits);
// The square changes occupant (a capture): adjust the x-rays of `side` running through it.
void ReplaceOccupant(Position& p, Colour side, int square, uint8_t oldLineBits, uint8_t newLineBits);

// Clears the map of `side` and adds the attacks of all its pieces.
void BuildAttackMap(Position& p, Colour side);

// Recomputes the hanging value of every piece marked in attackedSlots, White's first,
// and clears the marks.
void RecomputeHanging(Position& p);

// True when a slider of `attacker` attacks `square` along a line that runs on, through
// empty squares only, to the king of the other colour.
bool IsPinned(const Position& p, int square, Colour attacker);

}  // namespace tavrix
