// Transposition table: two halves (White to move, Black to move) of 16-byte entries
// in buckets of four.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// One cached search result. The layout is fixed because the position-learning file
// stores these entries verbatim.
struct TTEntry {
    uint32_t keyLow;
    uint16_t move;
    int16_t score;      // mate scores in root-relative form
    uint16_t flags;     // TTFlag bits; 0 = empty entry
    uint16_t moveDepth; // depth the move was stored at; use counter of permanent entries
    uint32_t keyHigh;
};
static_assert(sizeof(TTEntry) == 16);

// How an entry is kept in the table, which several search threads read and write at once:
// two words, each read and written whole, the second the key xor the first. A slot torn
// between two writes fails the key check and is a miss.
struct TTSlot {
    uint64_t data;      // move, score, flags, moveDepth
    uint64_t check;     // (keyLow | keyHigh << 32) ^ data
};
static_assert(sizeof(TTSlot) == sizeof(TTEntry));

namespace TTFlag {
constexpr uint16_t AGE_MASK = 0x0007;
constexpr uint16_t MATE = 0x0010;
constexpr uint16_t MATE_THREAT = 0x0020;
constexpr uint16_t UPPER = 0x0040;
constexpr uint16_t LOWER = 0x0080;
constexpr uint16_t EXACT = 0x00C0;
constexpr uint16_t BOUND_MASK = 0x00C0;
constexpr uint16_t DEPTH_SHIFT = 8;
constexpr uint16_t DEPTH_MASK = 0x3F00;
constexpr uint16_t PERMANENT = 0x8000;
// What a probe hands back of the flags word.
constexpr uint16_t PROBE_MASK = 0x80FF;
}  // namespace TTFlag

constexpr int TT_BUCKET_SIZE = 4;
constexpr int TT_ENTRIES_PER_KB = 32;   // per half: two halves of 16-byte entries
constexpr int TT_ALIGNMENT = 64;
constexpr int MATE_SCORE = MATE;
// A mate entry counts this deep until the root has reported a mate in the current think.
constexpr int TT_MATE_ENTRY_DEPTH = 62;
constexpr int TT_MAX_DEPTH = 63;
constexpr uint8_t TT_MAX_AGE = 7;
constexpr uint32_t HASHFULL_BASE = 31;
constexpr uint16_t TT_USE_COUNTER_MAX = 0xFFFF;

// Geometry and storage of the table.
struct TTState {
    TTSlot* half[2];          // White to move, Black to move; 64-byte aligned
    int32_t hashKb;           // the request obtained: table and evaluation cache
    int32_t sizeKb;           // kilobytes of both halves; 0 = no table
    int32_t evalCacheKb;      // share of the last request that belongs to the evaluation cache
    uint32_t entriesPerHalf;  // E
    uint32_t indexMask;
    uint32_t foldValue;
    bool retainHash;          // "Retain Hash" as of the current search
    bool rootMateReported;    // the root has reported a mate score in this think (any thread may mark it)
};

extern TTState TT;

// One slot of a half as an entry, and back (index below entriesPerHalf + TT_BUCKET_SIZE).
TTEntry ReadSlot(Colour side, uint32_t index);
void WriteSlot(Colour side, uint32_t index, const TTEntry& entry);

// Frees the table and returns the record to its initial state.
void ResetTTState();

// Derived sizes of a request of n kilobytes (no allocation).
struct TTGeometry {
    int32_t evalCacheKb;      // b
    int32_t tableKb;          // T
    uint32_t entriesPerHalf;  // E
    uint32_t indexMask;
    uint32_t foldValue;
};
TTGeometry ComputeTTGeometry(int32_t kilobytes);

// Retry sequence after failed allocations: first down to a power of two, then alternately
// down by a quarter and back halfway towards the request before that quarter step.
struct HashRetry {
    int32_t request;   // kilobytes to try next
    int32_t previous;  // the request before the last quarter step
    uint8_t phase;     // 0 first failure, 1 quarter step next, 2 halfway step next
};
// Lowers `retry.request` after the allocation of it failed; it reaches 0 eventually.
void LowerHashRequest(HashRetry& retry);

// What a probe hands back.
struct TTHit {
    Move move;         // kind bits completed by the validation; 0 = none
    int32_t score;     // converted to the probing node's distance from the root
    int32_t depth;     // 62 for mate entries until the root has reported a mate
    uint16_t flags;    // the entry's flags masked with PROBE_MASK
};

// Starts loading the bucket of the position; a probe that follows finds it in the cache.
void PrefetchTable(Colour side, uint32_t keyHigh);
// Looks up the position with `side` to move at `ply`. Returns the masked flags word, 0 on
// a miss. A hit refreshes the entry's age; a stored move the position cannot play is a miss.
uint16_t ProbeTable(Colour side, Position& pos, int32_t ply, TTHit& hit);
// The same probe with separate results, as the root uses it.
uint16_t ProbeForPv(Colour side, Position& pos, int32_t& score, int32_t& depth, int32_t ply, Move& move);

// Store from the search: `flags` carries the bound, the mate-threat flag and the permanent
// bit of the probed entry; depth, age and the mate flag are added here. `staticEval`
// becomes the use counter when the entry is permanent.
void StoreTable(Colour side, const Position& pos, int32_t ply, int32_t depth, uint16_t flags, int32_t score,
                Move move, int32_t staticEval);
// Store with the caller's own flags (age included) and auxiliary word: the root's PV
// seeding and learned positions come in here.
void StoreEntry(Colour side, const Position& pos, uint16_t flags, int32_t score, uint16_t aux, int32_t depth,
                int32_t ply, Move move);

// Start of a search: next age (1..7), hashfull counter back to its base, Retain Hash taken.
void BeginTableSearch(bool retainHash);
// Entries of another age refreshed or overwritten so far, in permille of the table.
int32_t HashfullPermille();

// Stored form of a score found at `ply`, and back.
constexpr int32_t ScoreToTable(int32_t score, int32_t ply) {
    if (score > MATE_THRESHOLD) return score + ply - 1;
    if (score < -MATE_THRESHOLD) return score - ply + 1;
    return score;
}
constexpr int32_t ScoreFromTable(int32_t stored, int32_t ply) {
    if (stored > MATE_THRESHOLD) return stored - ply + 1;
    if (stored < -MATE_THRESHOLD) return stored + ply - 1;
    return stored;
}

// Sizes the table (and the evaluation cache carved from the same request) to at most
// `kilobytes`, halving on allocation failure. Returns the kilobytes obtained, 0 on failure.
int32_t ResizeHashTable(int32_t kilobytes);
// "Clear Hash": empties every entry except learned (permanent) ones and resets the
// move-ordering statistics.
void ClearHashTable();
// Empties every entry, learned ones included.
void ClearHashTableFully();
// Releases both halves; the hash size becomes 0.
void FreeHashTable();

}  // namespace tavrix
