#include "search/ttable.h"

#include <bit>
#include <cstdlib>
#include <cstring>

namespace tavrix {

TTState TT;

namespace {

TTEntry* AllocateHalf(uint32_t entries) {
    // Four spare entries let a bucket start at any index below E.
    const size_t bytes = (size_t(entries) + TT_BUCKET_SIZE) * sizeof(TTEntry);
    return static_cast<TTEntry*>(std::aligned_alloc(TT_ALIGNMENT, bytes));
}

size_t HalfBytes() { return (size_t(TT.entriesPerHalf) + TT_BUCKET_SIZE) * sizeof(TTEntry); }

}  // namespace

void FreeHashTable() {
    for (TTEntry*& h : TT.half) {
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
        TTEntry* white = AllocateHalf(g.entriesPerHalf);
        TTEntry* black = white ? AllocateHalf(g.entriesPerHalf) : nullptr;
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
    if (TT.sizeKb == 0) return;
    for (TTEntry* h : TT.half) std::memset(static_cast<void*>(h), 0, HalfBytes());
}

void ClearHashTable() {
    if (TT.sizeKb == 0) return;
    for (TTEntry* h : TT.half) {
        TTEntry* end = h + TT.entriesPerHalf + TT_BUCKET_SIZE;
        for (TTEntry* e = h; e != end; ++e)
            if ((e->flags & TTFlag::PERMANENT) == 0) e->flags = 0;
    }
}

}  // namespace tavrix
