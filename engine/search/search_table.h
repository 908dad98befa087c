// The search's view of the transposition table: probe and store at a node.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Bits of the flags word a probe hands back.
namespace EntryFlag {
constexpr uint16_t MATE = 0x0010;
constexpr uint16_t MATE_THREAT = 0x0020;
constexpr uint16_t UPPER = 0x0040;
constexpr uint16_t LOWER = 0x0080;
constexpr uint16_t EXACT = 0x00C0;
constexpr uint16_t BOUND_MASK = 0x00C0;
constexpr uint16_t PERMANENT = 0x8000;
}  // namespace EntryFlag

struct NodeEntry {
    Move move;         // validated; 0 = none
    int32_t score;     // relative to the probing node's ply
    int32_t depth;
    uint16_t flags;    // 0 = miss
};

bool TableExists();
// Before a move is made: starts loading the table bucket and the evaluation-cache entry the
// child node will read, so their memory latency overlaps the make and the child's first steps.
void PrefetchChild(const Position& pos, Move move, bool tableProbe);
// The same for the position after a null move.
void PrefetchAfterNull(const Position& pos);
// Probe for `side` to move at `ply`; returns the masked flags word (0 = miss).
uint16_t ProbeNodeEntry(Colour side, Position& pos, int32_t ply, NodeEntry& entry);
// Store from a node: bound, mate-threat and permanent bits in `flags`; depth, age and the
// mate conversion are added by the table.
void StoreNodeEntry(Colour side, const Position& pos, int32_t ply, int32_t depth, uint16_t flags, int32_t score,
                    Move move, int32_t staticEval);

}  // namespace tavrix
