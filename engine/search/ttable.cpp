#include "search/ttable.h"

#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "board/moveservices.h"
#include "eval/evaluate.h"
#include "platform/platform.h"
#include "search/ordering.h"
#include "search/search_state.h"

namespace tavrix {

TTState TT;

namespace {

TTSlot* AllocateHalf(uint32_t entries) {
    // Four spare entries let a bucket start at any index below E.
    const size_t bytes = (size_t(entries) + TT_BUCKET_SIZE) * sizeof(TTSlot);
    return static_cast<TTSlot*>(platform::AllocateLarge(bytes, TT_ALIGNMENT));
}

size_t HalfBytes() { return (size_t(TT.entriesPerHalf) + TT_BUCKET_SIZE) * sizeof(TTSlot); }

TTSlot* Bucket(Colour side, uint32_t keyHigh) {
    uint32_t i = keyHigh & TT.indexMask;
    if (i >= TT.entriesPerHalf) i -= TT.foldValue;
    return TT.half[side] + i;
}

// Relaxed word accesses: other threads may write the slot meanwhile; the key check catches it.
TTEntry Load(TTSlot& slot) {
    const uint64_t data = std::atomic_ref<uint64_t>(slot.data).load(std::memory_order_relaxed);
    const uint64_t key = std::atomic_ref<uint64_t>(slot.check).load(std::memory_order_relaxed) ^ data;
    TTEntry e;
    e.keyLow = uint32_t(key);
    e.keyHigh = uint32_t(key >> 32);
    e.move = uint16_t(data);
    e.score = int16_t(uint16_t(data >> 16));
    e.flags = uint16_t(data >> 32);
    e.moveDepth = uint16_t(data >> 48);
    return e;
}

void Save(TTSlot& slot, const TTEntry& e) {
    const uint64_t data = uint64_t(e.move) | uint64_t(uint16_t(e.score)) << 16 | uint64_t(e.flags) << 32 |
                          uint64_t(e.moveDepth) << 48;
    const uint64_t key = uint64_t(e.keyLow) | uint64_t(e.keyHigh) << 32;
    std::atomic_ref<uint64_t>(slot.data).store(data, std::memory_order_relaxed);
    std::atomic_ref<uint64_t>(slot.check).store(key ^ data, std::memory_order_relaxed);
}

constexpr int AgeOf(uint16_t flags) { return flags & TTFlag::AGE_MASK; }

constexpr uint16_t DepthBits(int32_t depth) {
    const int32_t d = depth < 0 ? 0 : (depth > TT_MAX_DEPTH ? TT_MAX_DEPTH : depth);
    return uint16_t(d << TTFlag::DEPTH_SHIFT);
}

// Writes into the bucket of the position; `newFlags` is complete, `score` already stored form.
// `learned`: a learned position stored through StoreEntry; it takes its own move and use
// counter also over an entry of the same position, so the table never pairs a learned score
// with the move and depth count of an older search.
void StoreCore(Colour side, const Position& pos, uint16_t newFlags, int32_t score, uint16_t aux, int32_t depth,
               Move move, bool learned) {
    const uint32_t keyLow = pos.hashKey[0], keyHigh = pos.hashKey[1];
    const uint8_t age = Search.tableAge;
    TTSlot* bucket = Bucket(side, keyHigh);
    const uint16_t moveDepth = uint16_t(depth < 0 ? 0 : depth);
    TTEntry entries[TT_BUCKET_SIZE];
    for (int j = 0; j < TT_BUCKET_SIZE; ++j) entries[j] = Load(bucket[j]);

    for (int j = 0; j < TT_BUCKET_SIZE; ++j) {
        TTEntry& e = entries[j];
        if (e.keyLow != keyLow || e.keyHigh != keyHigh) continue;
        if (e.flags == 0) {
            // Emptied by Clear Hash: nothing of the old contents may survive.
            e.move = NO_MOVE;
            e.moveDepth = 0;
        }
        if (move != NO_MOVE && (e.flags & TTFlag::PERMANENT) == 0 && e.moveDepth < moveDepth) {
            e.move = move;
            e.moveDepth = moveDepth;
        }
        if (newFlags >= e.flags) {
            if (AgeOf(e.flags) != age) ++Search.hashfull;
            e.score = int16_t(score);
            e.flags = newFlags;
            if (learned) {
                if (move != NO_MOVE) e.move = move;
                e.moveDepth = aux;
            }
        }
        Save(bucket[j], e);
        return;
    }

    // Replace the shallowest stale entry; with none stale, the smallest flags word.
    TTEntry* victim = nullptr;
    bool staleSeen = false;
    for (int j = 0; j < TT_BUCKET_SIZE; ++j) {
        TTEntry* e = entries + j;
        const bool stale = AgeOf(e->flags) != age && (e->flags & TTFlag::PERMANENT) == 0;
        if (stale) {
            if (!staleSeen || e->flags < victim->flags) victim = e;
            staleSeen = true;
        } else if (!staleSeen && (victim == nullptr || e->flags < victim->flags)) {
            victim = e;
        }
    }
    if (AgeOf(victim->flags) != age) ++Search.hashfull;
    victim->move = move;
    if (newFlags & TTFlag::PERMANENT)
        victim->moveDepth = aux;
    else
        // The old occupant's move depth means nothing for this position.
        victim->moveDepth = move != NO_MOVE ? moveDepth : 0;
    victim->flags = newFlags;
    victim->keyLow = keyLow;
    victim->keyHigh = keyHigh;
    victim->score = int16_t(score);
    Save(bucket[victim - entries], *victim);
}

uint16_t MateBit(int32_t score) {
    return (score > MATE_THRESHOLD || score < -MATE_THRESHOLD) ? TTFlag::MATE : 0;
}

}  // namespace

uint16_t ProbeTable(Colour side, Position& pos, int32_t ply, TTHit& hit) {
    if (TT.sizeKb == 0) return 0;
    const uint32_t keyLow = pos.hashKey[0], keyHigh = pos.hashKey[1];
    TTSlot* bucket = Bucket(side, keyHigh);
    TTSlot* slot = nullptr;
    TTEntry found;
    for (int j = 0; j < TT_BUCKET_SIZE; ++j) {
        found = Load(bucket[j]);
        if (found.keyLow == keyLow && found.keyHigh == keyHigh) {
            slot = bucket + j;
            break;
        }
    }
    if (slot == nullptr || found.flags == 0) return 0;
    TTEntry* e = &found;

    const uint8_t age = Search.tableAge;
    const bool permanent = (e->flags & TTFlag::PERMANENT) != 0;
    const bool usable = AgeOf(e->flags) == age || (TT.retainHash && (e->flags & TTFlag::MATE) == 0) || permanent;
    if (!usable) return 0;
    if (permanent && e->moveDepth != TT_USE_COUNTER_MAX) {
        ++e->moveDepth;
        Save(*slot, *e);
    }

    Move move = e->move;
    if (move != NO_MOVE && !ValidateMove(side, pos, move)) return 0;

    if (AgeOf(e->flags) != age) {
        e->flags = uint16_t((e->flags & ~TTFlag::AGE_MASK) | age);
        Save(*slot, *e);
        ++Search.hashfull;
    }
    hit.move = move;
    hit.score = ScoreFromTable(e->score, ply);
    hit.depth = (e->flags & TTFlag::MATE) && !std::atomic_ref<bool>(TT.rootMateReported).load(std::memory_order_relaxed)
                    ? TT_MATE_ENTRY_DEPTH
                    : (e->flags & TTFlag::DEPTH_MASK) >> TTFlag::DEPTH_SHIFT;
    hit.flags = e->flags & TTFlag::PROBE_MASK;
    return hit.flags;
}

uint16_t ProbeForPv(Colour side, Position& pos, int32_t& score, int32_t& depth, int32_t ply, Move& move) {
    TTHit hit{};
    const uint16_t flags = ProbeTable(side, pos, ply, hit);
    if (flags != 0) {
        score = hit.score;
        depth = hit.depth;
        move = hit.move;
    }
    return flags;
}

void StoreTable(Colour side, const Position& pos, int32_t ply, int32_t depth, uint16_t flags, int32_t score,
                Move move, int32_t staticEval) {
    if (TT.sizeKb == 0) return;
    const uint16_t newFlags = uint16_t((flags & (TTFlag::BOUND_MASK | TTFlag::MATE_THREAT | TTFlag::PERMANENT)) |
                                       DepthBits(depth) | Search.tableAge | MateBit(score));
    StoreCore(side, pos, newFlags, ScoreToTable(score, ply), uint16_t(staticEval), depth, move, false);
}

void StoreEntry(Colour side, const Position& pos, uint16_t flags, int32_t score, uint16_t aux, int32_t depth,
                int32_t ply, Move move) {
    if (TT.sizeKb == 0) return;
    const uint16_t newFlags = uint16_t((flags & ~TTFlag::DEPTH_MASK) | DepthBits(depth) | MateBit(score));
    StoreCore(side, pos, newFlags, ScoreToTable(score, ply), aux, depth, move, (newFlags & TTFlag::PERMANENT) != 0);
}

void BeginTableSearch(bool retainHash) {
    Search.tableAge = Search.tableAge >= TT_MAX_AGE ? 1 : uint8_t(Search.tableAge + 1);
    Search.hashfull = HASHFULL_BASE;
    TT.retainHash = retainHash;
    std::atomic_ref<bool>(TT.rootMateReported).store(false, std::memory_order_relaxed);
}

int32_t HashfullPermille() {
    if (TT.sizeKb == 0) return 0;
    const int64_t permille = int64_t(Search.hashfull) * 1000 / (int64_t(TT.sizeKb) * 64);
    return permille > 1000 ? 1000 : int32_t(permille);
}

TTEntry ReadSlot(Colour side, uint32_t index) { return Load(TT.half[side][index]); }

void WriteSlot(Colour side, uint32_t index, const TTEntry& entry) { Save(TT.half[side][index], entry); }

void FreeHashTable() {
    for (TTSlot*& h : TT.half) {
        std::free(h);
        h = nullptr;
    }
    TT.sizeKb = 0;
    TT.hashKb = 0;
    TT.entriesPerHalf = 0;
    TT.indexMask = 0;
    TT.foldValue = 0;
}

void ResetTTState() {
    FreeHashTable();
    TT = TTState{};
}

TTGeometry ComputeTTGeometry(int32_t kilobytes) {
    TTGeometry g{};
    if (kilobytes <= 0) return g;
    const uint32_t n = uint32_t(kilobytes);
    g.evalCacheKb = int32_t(std::bit_floor(n) / 2);
    g.tableKb = kilobytes - g.evalCacheKb;
    g.entriesPerHalf = uint32_t(g.tableKb) * TT_ENTRIES_PER_KB;
    // A table of one kilobyte has no T - 1 to take the logarithm of; treat it as k = 0.
    const uint32_t below = g.tableKb > 1 ? uint32_t(g.tableKb - 1) : 1u;
    const int k = std::bit_width(below) - 1;
    const uint32_t span = 1u << (k + 7);
    g.indexMask = ((span - 1) >> 1) & ~uint32_t(TT_BUCKET_SIZE - 1);
    g.foldValue = span / 4;
    return g;
}

void LowerHashRequest(HashRetry& retry) {
    int32_t& n = retry.request;
    if (n <= 0) {
        n = 0;
        return;
    }
    if (retry.phase == 0) {
        retry.phase = 1;
        if (!std::has_single_bit(uint32_t(n))) {
            n = int32_t(std::bit_floor(uint32_t(n) - 1));
            return;
        }
    }
    if (retry.phase == 1) {
        retry.previous = n;
        // At least one kilobyte down, or small requests would never reach 0.
        n -= n / 4 > 0 ? n / 4 : 1;
        retry.phase = 2;
    } else {
        n += (retry.previous - n) / 2;
        retry.phase = 1;
    }
}

int32_t ResizeHashTable(int32_t kilobytes) {
    FreeHashTable();
    HashRetry retry{kilobytes, kilobytes, 0};
    while (retry.request > 0) {
        const TTGeometry g = ComputeTTGeometry(retry.request);
        // The evaluation cache takes its share first; it fails the request like the table does.
        if (!AllocateEvalCache(g.evalCacheKb)) {
            LowerHashRequest(retry);
            continue;
        }
        TTSlot* white = AllocateHalf(g.entriesPerHalf);
        TTSlot* black = white ? AllocateHalf(g.entriesPerHalf) : nullptr;
        if (white && black) {
            TT.half[WHITE] = white;
            TT.half[BLACK] = black;
            TT.entriesPerHalf = g.entriesPerHalf;
            TT.indexMask = g.indexMask;
            TT.foldValue = g.foldValue;
            TT.evalCacheKb = g.evalCacheKb;
            TT.sizeKb = g.tableKb;
            TT.hashKb = retry.request;
            ClearHashTableFully();
            return retry.request;
        }
        std::free(white);
        LowerHashRequest(retry);
    }
    return 0;
}

void ClearHashTableFully() {
    ClearOrderingStats();
    ClearEvalCache();
    if (TT.sizeKb == 0) return;
    for (TTSlot* h : TT.half) std::memset(static_cast<void*>(h), 0, HalfBytes());
}

void ClearHashTable() {
    ClearOrderingStats();
    ClearEvalCache();
    if (TT.sizeKb == 0) return;
    for (Colour side = WHITE; side <= BLACK; ++side)
        for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i)
            // The whole entry goes, so a later store cannot inherit a stale move depth.
            if ((ReadSlot(side, i).flags & TTFlag::PERMANENT) == 0) WriteSlot(side, i, TTEntry{});
}

}  // namespace tavrix
