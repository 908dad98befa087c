#include "search/search_table.h"

#include "eval/eval_cache.h"
#include "search/ttable.h"

namespace tavrix {

static_assert(EntryFlag::MATE == TTFlag::MATE && EntryFlag::MATE_THREAT == TTFlag::MATE_THREAT);
static_assert(EntryFlag::UPPER == TTFlag::UPPER && EntryFlag::LOWER == TTFlag::LOWER);
static_assert(EntryFlag::EXACT == TTFlag::EXACT && EntryFlag::PERMANENT == TTFlag::PERMANENT);

bool TableExists() { return TT.sizeKb != 0; }

void PrefetchNode(const Position& pos, bool tableProbe) {
    if (tableProbe) PrefetchTable(pos.sideToMove, pos);
    PrefetchEvalCache(pos, pos.sideToMove);
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
