#include "search/search_table.h"

#include "board/makemove.h"
#include "eval/eval_cache.h"
#include "search/ttable.h"

namespace tavrix {

static_assert(EntryFlag::MATE == TTFlag::MATE && EntryFlag::MATE_THREAT == TTFlag::MATE_THREAT);
static_assert(EntryFlag::UPPER == TTFlag::UPPER && EntryFlag::LOWER == TTFlag::LOWER);
static_assert(EntryFlag::EXACT == TTFlag::EXACT && EntryFlag::PERMANENT == TTFlag::PERMANENT);

bool TableExists() { return TT.sizeKb != 0; }

void PrefetchChild(const Position& pos, Move move, bool tableProbe) {
    const uint32_t keyHigh = KeyHighAfter(pos, move);
    const Colour child = pos.sideToMove ^ 1;
    if (tableProbe) PrefetchTable(child, keyHigh);
    PrefetchEvalCache(keyHigh, child);
}

void PrefetchAfterNull(const Position& pos) {
    // A null move changes the side to move and at most the low word of the key.
    const Colour child = pos.sideToMove ^ 1;
    PrefetchTable(child, pos.hashKey[1]);
    PrefetchEvalCache(pos.hashKey[1], child);
}

uint16_t ProbeNodeEntry(Colour side, Position& pos, int32_t ply, NodeEntry& entry) {
    TTHit hit{};
    const uint16_t flags = ProbeTable(side, pos, ply, hit);
    entry = {hit.move, hit.score, hit.depth, flags};
    return flags;
}

void StoreNodeEntry(Colour side, const Position& pos, int32_t ply, int32_t depth, uint16_t flags, int32_t score,
                    Move move, int32_t staticEval) {
    StoreTable(side, pos, ply, depth, flags, score, move, staticEval);
}

}  // namespace tavrix
