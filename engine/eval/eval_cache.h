// Evaluation cache: full evaluations kept per side to move, checked by an xor of the key.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "eval/pawns.h"

namespace tavrix {

struct EvalCacheEntry {
    uint32_t word[4];   // lo ^ keyHigh, hi ^ keyLow, lo, hi
};
static_assert(sizeof(EvalCacheEntry) == 16);

struct EvalCacheTables {
    EvalCacheEntry* table[2];   // White to move, Black to move
    uint32_t mask;              // entries - 1; 0 = no cache
    int32_t kilobytes;
};

// Each search thread has its own cache tables.
extern thread_local constinit EvalCacheTables EvalCache;

// What a cache entry keeps of one evaluation.
struct CachedEvaluation {
    uint16_t flags;      // checkFlag bits 0..12
    int32_t score;
    int16_t threatWord;
    int16_t kingWord;
};

bool ProbeEvalCache(const Position& pos, Colour side, CachedEvaluation& out);
// Starts loading the entry of a position (by the high word of its key) while the caller
// still has work to do.
inline void PrefetchEvalCache(uint32_t keyHigh, Colour side) {
    if (EvalCache.mask != 0) __builtin_prefetch(&EvalCache.table[side][keyHigh & EvalCache.mask]);
}
void StoreEvalCache(const Position& pos, Colour side, const CachedEvaluation& value);

// Pawn cache: the pawn facts of both sides by the exact pawn placement. Entries of an older
// generation are empty: a new generation starts whenever the pawn table or the storm
// settings, which the facts read, change.
constexpr int PAWN_CACHE_BITS = 12;
constexpr uint32_t PAWN_CACHE_ENTRIES = 1u << PAWN_CACHE_BITS;

struct PawnCacheTable {
    PawnFacts entry[PAWN_CACHE_ENTRIES];
    uint32_t generation;        // 0 before the first renewal: nothing is valid
    // What the facts of this generation were found with.
    int16_t pawnTable[2][64];
    uint8_t stormLevel[2];
    uint8_t stormZone[2];
};

// Each search thread has its own pawn cache, beside its evaluation cache.
extern thread_local constinit PawnCacheTable PawnCache;

// Starts a new generation (every entry becomes empty) when the evaluation's pawn table or
// storm settings differ from those of the current one.
void RenewPawnCache();
// Starts loading the cache entry of the position's pawns ahead of the pawn term.
void PrefetchPawnCache(const Position& pos);
// The cached facts of the position's pawns, nullptr when the cache does not hold them.
PawnFacts* PawnCacheHit(const Position& pos);
// The facts of the position's pawns: from the cache, or found and stored.
PawnFacts& ProbePawnCache(const Position& pos);

}  // namespace tavrix
