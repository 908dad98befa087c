// Tablebase probing and the chunk cache.
#include "tablebase/probe.h"

#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "tablebase/catalogue.h"

namespace tavrix {

TablebaseProbeState TablebaseProbe;

namespace {

std::mutex ProbeLock;

constexpr int32_t NONE = -1;
constexpr uint32_t CHUNKS_PER_EXTENT = 1u << 18;
constexpr int32_t WIDE_CHUNK_POSITIONS = TB_CHUNK_SIZE / 2;
constexpr int32_t WIN_BASE = 32767;            // stored r > 0: mate in 32767 - r
constexpr int32_t LOSS_BASE = 32766;           // stored r < 0: mated in -r - 32766
constexpr int32_t BYTE_OFFSET = 32640;
constexpr int32_t MATED_NOW = -32766;          // the side to move is checkmated already
constexpr uint8_t BROKEN_BYTE = 127;
// kppkp with Black to move holds seven losses in 127 moves, one more than a byte can tell.
constexpr int KPPKP_CLASS = 36;
constexpr int32_t LOST_IN_127 = -32639;
constexpr uint64_t KPPKP_LOST_IN_127[] = {56802428, 56811076, 56849992, 56858640, 59592489, 67775659, 71071628};

ChunkEntry* Entries() { return reinterpret_cast<ChunkEntry*>(TablebaseProbe.cacheBlock); }
uint8_t* DataOf(const ChunkEntry& e) { return TablebaseProbe.cacheBlock + e.dataOffset; }

void UnlinkRecent(int32_t i) {
    ChunkEntry* e = Entries();
    TablebaseProbeState& s = TablebaseProbe;
    if (e[i].previousRecent != NONE) e[e[i].previousRecent].nextRecent = e[i].nextRecent;
    else s.mostRecent = e[i].nextRecent;
    if (e[i].nextRecent != NONE) e[e[i].nextRecent].previousRecent = e[i].previousRecent;
    else s.leastRecent = e[i].previousRecent;
}

void PushRecent(int32_t i) {
    ChunkEntry* e = Entries();
    TablebaseProbeState& s = TablebaseProbe;
    e[i].previousRecent = NONE;
    e[i].nextRecent = s.mostRecent;
    if (s.mostRecent != NONE) e[s.mostRecent].previousRecent = i;
    s.mostRecent = i;
    if (s.leastRecent == NONE) s.leastRecent = i;
}

int32_t& BucketHead(int classIndex, int side, uint32_t chunk) {
    return Catalogue.entry[classIndex].cacheBuckets[side][chunk % TB_BUCKETS];
}

void UnlinkBucket(int32_t i) {
    ChunkEntry* e = Entries();
    if (e[i].previousInBucket != NONE) e[e[i].previousInBucket].nextInBucket = e[i].nextInBucket;
    else BucketHead(e[i].classIndex, e[i].side, static_cast<uint32_t>(e[i].chunk)) = e[i].nextInBucket;
    if (e[i].nextInBucket != NONE) e[e[i].nextInBucket].previousInBucket = e[i].previousInBucket;
}

void PushBucket(int32_t i) {
    ChunkEntry* e = Entries();
    int32_t& head = BucketHead(e[i].classIndex, e[i].side, static_cast<uint32_t>(e[i].chunk));
    e[i].previousInBucket = NONE;
    e[i].nextInBucket = head;
    if (head != NONE) e[head].previousInBucket = i;
    head = i;
}

std::FILE* OpenExtent(int classIndex, int side, int extent) {
    TablebaseClass& c = Catalogue.entry[classIndex];
    if (c.openFile[side][extent] != nullptr) return c.openFile[side][extent];
    char name[TB_PATH_SIZE + 40];
    if (!TablebaseFileName(classIndex, side, extent, name, sizeof name)) return nullptr;
    std::FILE* f = std::fopen(name, "rb");
    if (f == nullptr) {
        // Perhaps too many files are open: close them all and try once more.
        CloseTablebaseFiles();
        f = std::fopen(name, "rb");
    }
    c.openFile[side][extent] = f;
    return f;
}

bool FillChunk(int classIndex, int side, uint32_t chunk, uint8_t* data) {
    TablebaseClass& c = Catalogue.entry[classIndex];
    const bool split = (c.flags & TablebaseFlag::SPLIT) != 0;
    const int extent = split ? static_cast<int>(chunk / CHUNKS_PER_EXTENT) : 0;
    const uint32_t local = split ? chunk % CHUNKS_PER_EXTENT : chunk;
    if (extent >= TB_MAX_EXTENTS) return false;
    std::FILE* f = OpenExtent(classIndex, side, extent);
    if (f == nullptr) return false;
    if (c.compressedHandle[side][extent] != nullptr)
        return DecodeTableBlock(*c.compressedHandle[side][extent], f, local, data) == 0;
    if (fseeko(f, static_cast<off_t>(local) * TB_CHUNK_SIZE, SEEK_SET) != 0) return false;
    const size_t n = std::fread(data, 1, TB_CHUNK_SIZE, f);
    if (n < size_t(TB_CHUNK_SIZE)) {
        if (std::ferror(f)) {
            std::clearerr(f);
            return false;
        }
        // The last chunk of a file: what lies beyond it holds no value.
        std::memset(data + n, BROKEN_BYTE, TB_CHUNK_SIZE - n);
    }
    return true;
}

bool SideRegistered(int classIndex, int side) {
    const TablebaseClass& c = Catalogue.entry[classIndex];
    for (int e = 0; e < TB_MAX_EXTENTS; ++e)
        if (c.fileElement[side][e] != 0) return true;
    return false;
}

}  // namespace

void LayOutChunkCache() {
    TablebaseProbeState& s = TablebaseProbe;
    CloseTablebaseFiles();
    s.freeHead = NONE;
    s.mostRecent = s.leastRecent = NONE;
    ChunkEntry* e = Entries();
    for (int32_t i = s.entryCount - 1; i >= 0; --i) {
        e[i] = ChunkEntry{};
        e[i].dataOffset = static_cast<int32_t>(s.entryCount * sizeof(ChunkEntry) + size_t(i) * TB_CHUNK_AREA);
        e[i].nextRecent = s.freeHead;
        s.freeHead = i;
    }
    for (TablebaseClass& c : Catalogue.entry)
        for (auto& side : c.cacheBuckets)
            for (int32_t& b : side) b = NONE;
}

void FreeTablebases() {
    TablebaseProbeState& s = TablebaseProbe;
    ResetTablebaseCatalogue();
    std::free(s.cacheBlock);
    std::free(s.missingBitmap);
    s = TablebaseProbeState{};
}

int InitialiseTablebases(bool full, const char* path, int32_t& cacheBytes) {
    TablebaseProbeState& s = TablebaseProbe;
    if (full) {
        CloseTablebaseFiles();
        s.maxPieces = RegisterTablebases(path);
    }
    std::free(s.cacheBlock);
    s.cacheBlock = nullptr;
    s.entryCount = 0;
    s.cacheBytes = 0;
    if (s.maxPieces == 0) return 1;
    for (;;) {
        s.cacheBlock = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(cacheBytes)));
        if (s.cacheBlock != nullptr) break;
        cacheBytes /= 2;
        if (cacheBytes < TB_MINIMUM_CACHE) {
            s.maxPieces = 0;
            return 0;
        }
    }
    s.cacheBytes = cacheBytes;
    s.entryCount = cacheBytes / TB_CACHE_ENTRY_BYTES;
    LayOutChunkCache();
    if (s.maxPieces > 2) {
        std::free(s.missingBitmap);
        int32_t bytes = 1;
        for (int i = 2; i < s.maxPieces; ++i) bytes *= 10;
        s.bitmapBytes = bytes / 2;
        s.missingBitmap = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(s.bitmapBytes)));
        if (s.missingBitmap == nullptr) return 0;
        std::memset(s.missingBitmap, 0xFF, static_cast<size_t>(s.bitmapBytes));
    }
    return 1;
}

int32_t ReadTableByte(int classIndex, int side, uint32_t chunk, uint32_t offset) {
    TablebaseProbeState& s = TablebaseProbe;
    if (s.entryCount == 0 || offset >= uint32_t(TB_CHUNK_SIZE)) return TB_NO_VALUE;
    ChunkEntry* e = Entries();
    for (int32_t i = BucketHead(classIndex, side, chunk); i != NONE; i = e[i].nextInBucket)
        if (e[i].classIndex == classIndex && e[i].side == side && e[i].chunk == static_cast<int32_t>(chunk)) {
            UnlinkRecent(i);
            PushRecent(i);
            UnlinkBucket(i);
            PushBucket(i);
            return static_cast<int8_t>(DataOf(e[i])[offset]);
        }
    int32_t i = s.freeHead;
    if (i != NONE) {
        s.freeHead = e[i].nextRecent;
    } else {
        i = s.leastRecent;
        UnlinkRecent(i);
        UnlinkBucket(i);
    }
    e[i].classIndex = classIndex;
    e[i].side = side;
    e[i].chunk = static_cast<int32_t>(chunk);
    if (!FillChunk(classIndex, side, chunk, DataOf(e[i]))) {
        // The table is dropped until the next full registration.
        TablebaseClass& c = Catalogue.entry[classIndex];
        const int extent = (c.flags & TablebaseFlag::SPLIT) ? static_cast<int>(chunk / CHUNKS_PER_EXTENT) : 0;
        if (extent < TB_MAX_EXTENTS) c.fileElement[side][extent] = 0;
        e[i].nextRecent = s.freeHead;
        s.freeHead = i;
        return TB_NO_VALUE;
    }
    PushRecent(i);
    PushBucket(i);
    return static_cast<int8_t>(DataOf(e[i])[offset]);
}

int32_t ReadTablebaseValue(int classIndex, int side, uint64_t index) {
    const TablebaseClass& c = Catalogue.entry[classIndex];
    const int s = (c.flags & TablebaseFlag::SYMMETRIC) ? 0 : side;
    if (TablebaseProbe.entryCount == 0 || !c.hasBuckets[s]) return TB_NO_VALUE;
    if (c.flags & TablebaseFlag::WIDE) {
        const uint32_t chunk = static_cast<uint32_t>(index / WIDE_CHUNK_POSITIONS);
        const uint32_t offset = static_cast<uint32_t>(index % WIDE_CHUNK_POSITIONS) * 2;
        const int32_t low = ReadTableByte(classIndex, s, chunk, offset);
        if (low == TB_NO_VALUE) return TB_NO_VALUE;
        const int32_t high = ReadTableByte(classIndex, s, chunk, offset + 1);
        if (high == TB_NO_VALUE) return TB_NO_VALUE;
        return static_cast<int16_t>(high * 256 + (low & 0xFF));
    }
    if (classIndex == KPPKP_CLASS && s == BLACK)
        for (const uint64_t lost : KPPKP_LOST_IN_127)
            if (index == lost) return LOST_IN_127;
    const int32_t b = ReadTableByte(classIndex, s, static_cast<uint32_t>(index / TB_CHUNK_SIZE),
                                    static_cast<uint32_t>(index % TB_CHUNK_SIZE));
    if (b == TB_NO_VALUE || b == BROKEN_BYTE) return TB_NO_VALUE;
    if (b == 0) return 0;
    if (b > 0) return b + BYTE_OFFSET;
    if (b == -127) return -BYTE_OFFSET;
    if (b == -128) return BYTE_OFFSET;
    return b - BYTE_OFFSET;
}

TablebaseResult ProbeTablebase(const Position& pos, Colour side) {
    TablebaseProbeState& s = TablebaseProbe;
    if (s.maxPieces == 0 || s.missingBitmap == nullptr) return TablebaseResult{false, 0};
    int counts[10];
    for (int c = 0; c < 2; ++c) {
        const uint32_t sig = pos.materialSignature[c];
        counts[c * 5 + 0] = static_cast<int>(sig >> 16 & 15);
        counts[c * 5 + 1] = static_cast<int>(sig >> 20 & 3);
        counts[c * 5 + 2] = static_cast<int>(sig >> 22 & 3);
        counts[c * 5 + 3] = static_cast<int>(sig >> 24 & 3);
        counts[c * 5 + 4] = static_cast<int>(sig >> 26 & 7);
    }
    const int found = MaterialLookup(counts);
    if (found == 0) return TablebaseResult{false, 0};

    SquareRecord record[2];
    std::memset(record, 0, sizeof record);
    uint32_t v = 2 + static_cast<uint32_t>(side);
    for (int c = 0; c < 2; ++c) {
        record[c].place[RECORD_KING] = static_cast<uint8_t>(KingSquare(pos, c));
        for (int type = PAWN; type <= QUEEN; ++type) {
            SlotMask mask = TypeSlots(pos, static_cast<PieceType>(type))[c];
            int n = 0;
            while (mask != 0) {
                const int slot = 31 - std::countl_zero(mask);
                mask &= ~(SlotMask(1) << slot);
                if (n == 3) return TablebaseResult{false, 0};
                record[c].place[RecordPlace(type) + n++] = pos.slotSquare[c][slot];
                v = v * 10 + static_cast<uint32_t>(c * 5 + type - PAWN);
            }
        }
    }
    // The chunk cache, its files and the bitmap are shared by the search threads.
    const std::lock_guard<std::mutex> lock(ProbeLock);
    if (v / 8 >= static_cast<uint32_t>(s.bitmapBytes) || !(s.missingBitmap[v / 8] >> (v % 8) & 1))
        return TablebaseResult{false, 0};

    const int classIndex = found > 0 ? found : -found;
    const int flip = found > 0 ? 0 : 1;
    const int read = side ^ flip;
    const bool symmetric = (Catalogue.entry[classIndex].flags & TablebaseFlag::SYMMETRIC) != 0;
    if (!SideRegistered(classIndex, symmetric ? 0 : read)) return TablebaseResult{false, 0};
    const int ep = pos.epSquare != 0 ? pos.epSquare : TB_NO_EP;
    const uint64_t index = IndexFunction(classIndex, read, record[flip], record[flip ^ 1], ep, flip);
    if (index == TB_NO_INDEX) return TablebaseResult{false, 0};
    const int32_t r = ReadTablebaseValue(classIndex, read, index);
    if (r == TB_NO_VALUE) {
        s.missingBitmap[v / 8] = static_cast<uint8_t>(s.missingBitmap[v / 8] & ~(1u << (v % 8)));
        return TablebaseResult{false, 0};
    }
    // A mated side has no distance to tell apart from a draw: the search sees the mate itself.
    if (r == MATED_NOW) return TablebaseResult{false, 0};
    std::atomic_ref<uint32_t>(s.hits).fetch_add(1, std::memory_order_relaxed);
    if (r > 0) return TablebaseResult{true, WIN_BASE - r};
    if (r < 0) return TablebaseResult{true, -r - LOSS_BASE};
    return TablebaseResult{true, 0};
}

int32_t TablebaseMaxPieces() { return TablebaseProbe.maxPieces; }
int32_t RegisteredTablebaseFiles() { return Catalogue.registeredFiles; }
uint32_t TablebaseHits() { return std::atomic_ref<uint32_t>(TablebaseProbe.hits).load(std::memory_order_relaxed); }
void ResetTablebaseHits() { TablebaseProbe.hits = 0; }

}  // namespace tavrix
