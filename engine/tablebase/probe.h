// Tablebase probing: the position's material to its class, the class's index function to a
// table slot, and the slot's value through a cache of 8 KB chunks.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

constexpr int32_t TB_NO_VALUE = 0x7FFF;
constexpr int32_t TB_CHUNK_SIZE = 8192;
constexpr int32_t TB_CHUNK_AREA = 8228;          // chunk plus room for the block decoder
constexpr int32_t TB_CACHE_ENTRY_BYTES = 8260;   // header and data area
constexpr int32_t TB_MINIMUM_CACHE = 1048576;

// One cache entry header: eight 32-bit words.
struct ChunkEntry {
    int32_t classIndex;
    int32_t side;
    int32_t chunk;
    int32_t nextRecent, previousRecent;
    int32_t nextInBucket, previousInBucket;
    int32_t dataOffset;
};
static_assert(sizeof(ChunkEntry) == 32);

struct TablebaseProbeState {
    int32_t maxPieces;                           // largest registered class, men (0 = none)
    uint8_t* cacheBlock;
    int32_t cacheBytes;
    int32_t entryCount;
    int32_t freeHead;
    int32_t mostRecent, leastRecent;
    uint8_t* missingBitmap;                      // bit per signature number: 1 may be present
    int32_t bitmapBytes;
    uint32_t hits;
};
extern TablebaseProbeState TablebaseProbe;

// Start-up and the two path/cache options. `cacheBytes` is the "NalimovCache" setting, halved
// in place when the cache cannot be had. Returns 1 on success, 0 when the cache failed.
int InitialiseTablebases(bool full, const char* path, int32_t& cacheBytes);
void LayOutChunkCache();
void FreeTablebases();

struct TablebaseResult {
    bool found;
    int32_t distance;                    // > 0 side mates in d, < 0 side is mated in -d, 0 draw
};
TablebaseResult ProbeTablebase(const Position& pos, Colour side);

int32_t ReadTablebaseValue(int classIndex, int side, uint64_t index);
int32_t ReadTableByte(int classIndex, int side, uint32_t chunk, uint32_t offset);

// Figures for the search output and the saved game's settings line.
int32_t TablebaseMaxPieces();
int32_t RegisteredTablebaseFiles();
uint32_t TablebaseHits();
void ResetTablebaseHits();

}  // namespace tavrix
