#include "search/root_table.h"

#include <algorithm>
#include <atomic>

#include "search/search_state.h"
#include "search/ttable.h"

namespace tavrix {

uint16_t RootProbe(Colour side, Position& pos, int32_t ply, int32_t& score, int32_t& depth, Move& move) {
    return ProbeForPv(side, pos, score, depth, ply, move);
}

void RootSeed(Colour side, const Position& pos, int32_t ply, int32_t depth, int32_t score, Move move) {
    StoreEntry(side, pos, Search.tableAge, score, 0, std::max(depth, 0), ply, move);
}

bool HasLowerBound(uint16_t flags) { return (flags & TTFlag::LOWER) != 0; }

void RootBeginTable(bool retainHash) { BeginTableSearch(retainHash); }

void ResetHashfull() { Search.hashfull = HASHFULL_BASE; }

void MarkRootMate() { std::atomic_ref<bool>(TT.rootMateReported).store(true, std::memory_order_relaxed); }

void RootClearTable() { ClearHashTable(); }

void RootClearTableFully() { ClearHashTableFully(); }

int32_t RootHashfull() { return HashfullPermille(); }

}  // namespace tavrix
