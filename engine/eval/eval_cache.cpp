#include "eval/eval_cache.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "eval/evaluate.h"
#include "platform/platform.h"

namespace tavrix {

thread_local constinit EvalCacheTables EvalCache{};
thread_local constinit PawnCacheTable PawnCache{};

namespace {

constexpr uint32_t ENTRIES_PER_KILOBYTE_PER_TABLE = 1024 / sizeof(EvalCacheEntry) / 2;
constexpr int32_t SCORE_OFFSET = MATE;

uint64_t PackValue(const CachedEvaluation& v) {
    return uint64_t(v.flags & EvalFlag::CACHED_BITS) |
           (uint64_t(uint16_t(v.score + SCORE_OFFSET)) << 16) |
           (uint64_t(uint16_t(v.threatWord)) << 32) |
           (uint64_t(uint16_t(v.kingWord)) << 48);
}

}  // namespace

bool AllocateEvalCache(int32_t kilobytes) {
    if (kilobytes < 0) kilobytes = 0;
    if (kilobytes == EvalCache.kilobytes && (EvalCache.mask != 0 || kilobytes == 0)) return true;
    FreeEvalCache();
    if (kilobytes == 0) return true;
    // A power of two keeps the index a mask.
    const uint32_t entries = std::bit_floor(uint32_t(kilobytes) * ENTRIES_PER_KILOBYTE_PER_TABLE);
    for (int side = 0; side < 2; ++side) {
        EvalCache.table[side] = static_cast<EvalCacheEntry*>(
            platform::AllocateLarge(entries * sizeof(EvalCacheEntry), sizeof(EvalCacheEntry)));
    }
    if (EvalCache.table[0] == nullptr || EvalCache.table[1] == nullptr) {
        FreeEvalCache();
        return false;
    }
    EvalCache.mask = entries - 1;
    EvalCache.kilobytes = kilobytes;
    return true;
}

void FreeEvalCache() {
    for (int side = 0; side < 2; ++side) {
        std::free(EvalCache.table[side]);
        EvalCache.table[side] = nullptr;
    }
    EvalCache.mask = 0;
    EvalCache.kilobytes = 0;
}

void ClearEvalCache() {
    if (EvalCache.mask == 0) return;
    for (int side = 0; side < 2; ++side) {
        for (uint32_t i = 0; i <= EvalCache.mask; ++i) EvalCache.table[side][i] = EvalCacheEntry{};
    }
}

bool ProbeEvalCache(const Position& pos, Colour side, CachedEvaluation& out) {
    if (EvalCache.mask == 0) return false;
    const uint32_t keyLow = pos.hashKey[0];
    const uint32_t keyHigh = pos.hashKey[1];
    const EvalCacheEntry& e = EvalCache.table[side][keyHigh & EvalCache.mask];
    // Every stored value carries the full-evaluation bit, so an empty entry never hits.
    if ((e.word[2] ^ e.word[0]) != keyHigh || (e.word[3] ^ e.word[1]) != keyLow ||
        (e.word[2] & EvalFlag::FULL) == 0) {
        return false;
    }
    out.flags = static_cast<uint16_t>(e.word[2] & EvalFlag::CACHED_BITS);
    out.score = int32_t(e.word[2] >> 16) - SCORE_OFFSET;
    out.threatWord = static_cast<int16_t>(e.word[3] & 0xFFFF);
    out.kingWord = static_cast<int16_t>(e.word[3] >> 16);
    return true;
}

void StoreEvalCache(const Position& pos, Colour side, const CachedEvaluation& value) {
    if (EvalCache.mask == 0) return;
    const uint32_t keyLow = pos.hashKey[0];
    const uint32_t keyHigh = pos.hashKey[1];
    const uint64_t packed = PackValue(value);
    const uint32_t lo = uint32_t(packed);
    const uint32_t hi = uint32_t(packed >> 32);
    EvalCacheEntry& e = EvalCache.table[side][keyHigh & EvalCache.mask];
    e.word[0] = lo ^ keyHigh;
    e.word[1] = hi ^ keyLow;
    e.word[2] = lo;
    e.word[3] = hi;
}

void RenewPawnCache() {
    static_assert(sizeof PawnCache.pawnTable == sizeof Eval.pieceTables[PAWN]);
    if (PawnCache.generation != 0 &&
        std::memcmp(PawnCache.pawnTable, Eval.pieceTables[PAWN], sizeof PawnCache.pawnTable) == 0 &&
        std::memcmp(PawnCache.stormLevel, Eval.stormLevel, sizeof PawnCache.stormLevel) == 0 &&
        std::memcmp(PawnCache.stormZone, Eval.stormZone, sizeof PawnCache.stormZone) == 0)
        return;
    std::memcpy(PawnCache.pawnTable, Eval.pieceTables[PAWN], sizeof PawnCache.pawnTable);
    std::memcpy(PawnCache.stormLevel, Eval.stormLevel, sizeof PawnCache.stormLevel);
    std::memcpy(PawnCache.stormZone, Eval.stormZone, sizeof PawnCache.stormZone);
    if (++PawnCache.generation != 0) return;
    // After a wrap an old entry could carry the new number: empty them all.
    for (PawnFacts& e : PawnCache.entry) e = PawnFacts{};
    PawnCache.generation = 1;
}

namespace {

PawnFacts& PawnCacheSlot(uint64_t white, uint64_t black) {
    // Odd multipliers spread both placements over the top bits.
    const uint64_t mix = white * 0x9E3779B97F4A7C15ull + black * 0xC2B2AE3D27D4EB4Full;
    return PawnCache.entry[mix >> (64 - PAWN_CACHE_BITS)];
}

}  // namespace

void PrefetchPawnCache(const Position& pos) {
    const char* entry = reinterpret_cast<const char*>(&PawnCacheSlot(PawnFileWord(pos, WHITE), PawnFileWord(pos, BLACK)));
    for (size_t line = 0; line < sizeof(PawnFacts); line += 64) __builtin_prefetch(entry + line);
    // An entry is not line-aligned: its last bytes (the generation the hit test reads) can
    // sit on a line the steps above miss.
    __builtin_prefetch(entry + sizeof(PawnFacts) - 1);
}

PawnFacts* PawnCacheHit(const Position& pos) {
    const uint64_t white = PawnFileWord(pos, WHITE), black = PawnFileWord(pos, BLACK);
    PawnFacts& e = PawnCacheSlot(white, black);
    // Generation 0 is never current, so an entry never filled cannot match.
    const bool holds = e.generation == PawnCache.generation && PawnCache.generation != 0 && e.pawns[WHITE] == white &&
                       e.pawns[BLACK] == black;
    return holds ? &e : nullptr;
}

PawnFacts& ProbePawnCache(const Position& pos) {
    if (PawnFacts* hit = PawnCacheHit(pos)) return *hit;
    PawnFacts& e = PawnCacheSlot(PawnFileWord(pos, WHITE), PawnFileWord(pos, BLACK));
    FindPawnFacts(pos, e);
    e.generation = PawnCache.generation;
    return e;
}

}  // namespace tavrix
