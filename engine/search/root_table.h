// The root's view of the transposition table (kept apart from the evaluation's header,
// which defines the same score constants).
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Flags of a probe hit (0 = miss); score, depth and move filled on a hit.
uint16_t RootProbe(Colour side, Position& pos, int32_t ply, int32_t& score, int32_t& depth, Move& move);
// A line move without a usable score, stored at the current age.
void RootSeed(Colour side, const Position& pos, int32_t ply, int32_t depth, int32_t score, Move move);
// Whether a hit carries a lower bound or an exact score.
bool HasLowerBound(uint16_t flags);
// New table age for a search; Retain Hash as given.
void RootBeginTable(bool retainHash);
// Entries of another age touched so far start from the base count.
void ResetHashfull();
// The root has reported a mate: mate entries count at their stored depth.
void MarkRootMate();
void RootClearTable();
// Every entry and every stale key gone: a search afterwards depends on nothing before it.
void RootClearTableFully();
int32_t RootHashfull();

}  // namespace tavrix
