// Reader of compressed tablebase files. All numbers in a file are big-endian and bit fields
// are read most significant bit first. Nothing a file says is trusted: every size and offset
// is checked against the file size and the buffers before it is used.
#include "tablebase/compressed.h"

#include <sys/types.h>

#include <cstdlib>
#include <cstring>

namespace tavrix {

namespace {

constexpr uint32_t FORMAT_MAGIC = 0x004001F5;        // bytes 76..79
constexpr uint8_t DISTANCE_COUNT_BYTE = 24;          // byte 71
constexpr uint32_t MIN_HEADER_SIZE = EMD_FIXED_HEADER_SIZE + 4;
constexpr int MAX_CODE_LENGTH = 31;
constexpr int PRE_CODE_SYMBOLS = 64;                 // each of the two code-length pre-codes
constexpr int PRE_CODE_DIRECT_BITS = 8;
constexpr int SHORT_STREAM_LIMIT = 128;              // longer length streams use a pre-code
constexpr int LITERALS = 256;
constexpr int FIRST_DISTANCE_SYMBOL_GROUP = 8;       // symbol / 32 of the first match symbol
// Zero bytes kept readable past the end of every bit stream, so that the reader may look
// ahead (a few symbols' worth) before it notices that it ran past the end.
constexpr uint32_t INPUT_PADDING = 64;

// Which check failed, in the bits above the error kind.
enum BrokenAt : int {
    AT_BANNER = 1,
    AT_FIXED_FIELDS,
    AT_HEADER_SIZE,
    AT_HEADER_CHECKSUM,
    AT_BLOCK_INDEX,
    AT_CODE_LENGTHS,
    AT_BLOCK_DATA,
    AT_BLOCK_CHECKSUM,
};
constexpr int Broken(BrokenAt where) { return EMD_FILE_BROKEN | (where << 8); }

// The format's checksum: the byte table applies the feedback polynomial when the low bit is
// 0. Each step is then the usual (linear) CRC-32 step plus a constant, so eight bytes at a
// time are the usual slicing-by-8 step plus the checksum of eight zero bytes.
constexpr uint32_t CHECKSUM_POLYNOMIAL = 0xEDB88320;
struct ChecksumTables {
    uint32_t format[256];        // one byte, the format's rule
    uint32_t slice[8][256];      // eight bytes, the usual rule
    uint32_t eightZeros;         // the format's checksum of eight zero bytes
};
constexpr ChecksumTables MakeChecksumTables() {
    ChecksumTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i, u = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) == 0 ? (c >> 1) ^ CHECKSUM_POLYNOMIAL : c >> 1;
            u = (u & 1) == 1 ? (u >> 1) ^ CHECKSUM_POLYNOMIAL : u >> 1;
        }
        t.format[i] = c;
        t.slice[0][i] = u;
    }
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i) t.slice[k][i] = (t.slice[k - 1][i] >> 8) ^ t.slice[0][t.slice[k - 1][i] & 0xFF];
    uint32_t zeros = 0;
    for (int k = 0; k < 8; ++k) zeros = (zeros >> 8) ^ t.format[zeros & 0xFF];
    t.eightZeros = zeros;
    return t;
}
constexpr ChecksumTables CHECKSUM = MakeChecksumTables();

uint32_t LoadLittle32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t LoadBig32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint64_t LoadBig64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

// A most-significant-bit-first reader. `data` stays readable for INPUT_PADDING bytes past
// `limit` bits; callers test Overrun after each symbol, which keeps every look-ahead inside.
struct BitReader {
    const uint8_t* data;
    uint64_t position;   // bits consumed
    uint64_t limit;      // bits that belong to the stream
};

// The next n bits (0..32) without consuming them.
inline uint32_t PeekBits(const BitReader& r, int n) {
    if (n == 0) return 0;
    const uint64_t window = LoadBig64(r.data + (r.position >> 3)) << (r.position & 7);
    return uint32_t(window >> (64 - n));
}

inline uint32_t ReadBits(BitReader& r, int n) {
    const uint32_t v = PeekBits(r, n);
    r.position += uint64_t(n);
    return v;
}

inline bool Overrun(const BitReader& r) { return r.position > r.limit; }

// Builds the canonical decoder for `count` code lengths; false when they are not a code
// the format allows (a length above 31, a lone symbol longer than 1 bit, or an incomplete
// or over-full prefix code).
bool BuildDecoder(const uint8_t* lengths, int count, int directBits, HuffmanDecoder& d) {
    uint32_t perLength[MAX_CODE_LENGTH + 1] = {};
    int used = 0;
    int lastSymbol = 0;
    for (int s = 0; s < count; ++s) {
        if (lengths[s] > MAX_CODE_LENGTH) return false;
        if (lengths[s] == 0) continue;
        ++perLength[lengths[s]];
        ++used;
        lastSymbol = s;
    }
    const uint32_t directSize = 1u << directBits;
    d.directBits = uint8_t(directBits);
    d.symbolCount = uint16_t(used);
    if (used == 0) return true;
    if (used == 1) {
        // One symbol: every lookup gives it and consumes no bits.
        if (lengths[lastSymbol] != 1) return false;
        for (uint32_t i = 0; i < directSize; ++i) d.direct[i] = uint16_t(lastSymbol * 32);
        return true;
    }
    uint64_t kraft = 0;
    for (int len = 1; len <= MAX_CODE_LENGTH; ++len) kraft += uint64_t(perLength[len]) << (MAX_CODE_LENGTH - len);
    if (kraft != uint64_t(1) << MAX_CODE_LENGTH) return false;

    uint32_t nextCode[MAX_CODE_LENGTH + 1] = {};
    uint32_t code = 0;
    for (int len = 1; len <= MAX_CODE_LENGTH; ++len) {
        code = (code + perLength[len - 1]) << 1;
        nextCode[len] = code;
    }
    constexpr uint16_t UNSET = 0xFFFF;
    constexpr int MAX_NODES = int(sizeof d.tree / sizeof d.tree[0]) / 2;
    int nodes = 0;
    auto newNode = [&]() -> int {
        if (nodes >= MAX_NODES) return -1;
        d.tree[2 * nodes] = d.tree[2 * nodes + 1] = UNSET;
        return nodes++;
    };
    for (uint32_t i = 0; i < directSize; ++i) d.direct[i] = UNSET;
    for (int s = 0; s < count; ++s) {
        const int len = lengths[s];
        if (len == 0) continue;
        const uint32_t c = nextCode[len]++;
        const uint16_t leaf = uint16_t(s * 32 + len);
        if (len <= directBits) {
            const uint32_t first = c << (directBits - len);
            for (uint32_t i = 0; i < (1u << (directBits - len)); ++i) d.direct[first + i] = leaf;
            continue;
        }
        uint16_t* slot = &d.direct[c >> (len - directBits)];
        for (int bit = len - directBits - 1; bit >= 0; --bit) {
            if (*slot == UNSET) {
                const int node = newNode();
                if (node < 0) return false;
                *slot = uint16_t(HuffmanDecoder::NODE | node);
            }
            if ((*slot & HuffmanDecoder::NODE) == 0) return false;
            slot = &d.tree[2 * (*slot & 0x7FFF) + ((c >> bit) & 1)];
        }
        *slot = leaf;
    }
    return true;
}

// The next symbol, or -1 for an empty code or a path the code does not have.
inline int DecodeSymbol(BitReader& r, const HuffmanDecoder& d) {
    if (d.symbolCount == 0) return -1;
    uint32_t e = d.direct[PeekBits(r, d.directBits)];
    if ((e & HuffmanDecoder::NODE) == 0) {
        r.position += e & 31;
        return int(e >> 5);
    }
    r.position += d.directBits;
    for (int step = d.directBits; step < MAX_CODE_LENGTH; ++step) {
        e = d.tree[2 * (e & 0x7FFF) + ReadBits(r, 1)];
        if ((e & HuffmanDecoder::NODE) == 0) return int(e >> 5);
        if (e == 0xFFFF) return -1;
    }
    return -1;
}

// A short length stream: a width, then each length in that many bits, every 0 followed by
// a 4-bit count of further zeros.
bool ReadShortLengths(BitReader& r, int n, uint8_t* lengths) {
    const int width = int(ReadBits(r, 5));
    int i = 0;
    while (i < n) {
        const uint32_t v = ReadBits(r, width);
        if (v > MAX_CODE_LENGTH) return false;
        lengths[i++] = uint8_t(v);
        if (v == 0) {
            const int zeros = int(ReadBits(r, 4));
            if (zeros > n - i) return false;
            std::memset(lengths + i, 0, size_t(zeros));
            i += zeros;
        }
        if (Overrun(r)) return false;
    }
    return true;
}

bool ReadCodeLengths(BitReader& r, int n, uint8_t* lengths) {
    if (ReadBits(r, 1) == 1) {
        std::memset(lengths, 0, size_t(n));
        return !Overrun(r);
    }
    if (n <= SHORT_STREAM_LIMIT) return ReadShortLengths(r, n, lengths);

    uint8_t pre[2 * PRE_CODE_SYMBOLS];
    if (!ReadCodeLengths(r, 2 * PRE_CODE_SYMBOLS, pre)) return false;
    static HuffmanDecoder single, repeat;   // only used while a file registers
    if (!BuildDecoder(pre, PRE_CODE_SYMBOLS, PRE_CODE_DIRECT_BITS, single)) return false;
    if (!BuildDecoder(pre + PRE_CODE_SYMBOLS, PRE_CODE_SYMBOLS, PRE_CODE_DIRECT_BITS, repeat)) return false;
    int i = 0;
    while (i < n) {
        const int e = DecodeSymbol(r, single);
        if (e < 0) return false;
        if (e <= MAX_CODE_LENGTH) {
            lengths[i++] = uint8_t(e);
        } else {
            const int f = DecodeSymbol(r, repeat);
            if (f < 0) return false;
            uint64_t times;
            if (f < 32) {
                times = uint64_t(f) + 2;
            } else {
                const int extra = f - 32;
                times = (uint64_t(1) << extra) + ReadBits(r, extra) + 33;
            }
            if (times > uint64_t(n - i)) return false;
            std::memset(lengths + i, e - 32, size_t(times));
            i += int(times);
        }
        if (Overrun(r)) return false;
    }
    return true;
}

uint64_t BlockStart(const CompressedTableHandle& h, uint32_t block) {
    return h.groupStart[block >> h.groupShift] + h.groupOffset[block];
}

bool SeekTo(std::FILE* file, uint64_t offset) {
    return offset <= uint64_t(INT64_MAX) && fseeko(file, off_t(offset), SEEK_SET) == 0;
}

// The compressed bytes of the block being decoded; shared by all files, never allocated.
uint8_t InputArea[EMD_BLOCK_SIZE + INPUT_PADDING];

}  // namespace

uint32_t EmdChecksum(const uint8_t* data, uint64_t length, uint32_t sum) {
    const auto& s = CHECKSUM.slice;
    for (; length >= 8; length -= 8, data += 8) {
        sum ^= LoadLittle32(data);
        const uint32_t high = LoadLittle32(data + 4);
        sum = s[7][sum & 0xFF] ^ s[6][(sum >> 8) & 0xFF] ^ s[5][(sum >> 16) & 0xFF] ^ s[4][sum >> 24] ^
              s[3][high & 0xFF] ^ s[2][(high >> 8) & 0xFF] ^ s[1][(high >> 16) & 0xFF] ^ s[0][high >> 24] ^
              CHECKSUM.eightZeros;
    }
    for (; length > 0; --length) sum = (sum >> 8) ^ CHECKSUM.format[(sum ^ *data++) & 0xFF];
    return sum;
}

void CloseCompressedTable(CompressedTableHandle* handle) {
    if (handle == nullptr) return;
    std::free(handle->groupStart);
    std::free(handle->groupOffset);
    std::free(handle->blockChecksum);
    std::free(handle);
}

namespace {

// The body of OpenCompressedTable; `header` receives the header buffer for the caller to free.
int ReadHeader(std::FILE* file, CompressedTableHandle* h, uint8_t** header) {
    if (fseeko(file, 0, SEEK_END) != 0) return EMD_READ_ERROR;
    const off_t endOffset = ftello(file);
    if (endOffset < 0 || fseeko(file, 0, SEEK_SET) != 0) return EMD_READ_ERROR;
    const uint64_t fileSize = uint64_t(endOffset);

    uint8_t fixed[EMD_FIXED_HEADER_SIZE];
    if (std::fread(fixed, 1, sizeof fixed, file) != sizeof fixed) return EMD_READ_ERROR;
    if (std::memcmp(fixed, EMD_BANNER, sizeof EMD_BANNER) != 0) return Broken(AT_BANNER);
    const uint32_t headerSize = LoadBig32(fixed + 64);
    const int blockBits = fixed[70];
    const uint32_t blockCount = LoadBig32(fixed + 72);
    if (blockBits < 1 || blockBits > EMD_MAX_BLOCK_BITS || fixed[71] != DISTANCE_COUNT_BYTE ||
        LoadBig32(fixed + 76) != FORMAT_MAGIC || blockCount == 0)
        return Broken(AT_FIXED_FIELDS);
    // The per-block checksums, the bit-packed index and the header checksum must all fit.
    const uint64_t indexStart = EMD_FIXED_HEADER_SIZE + 8 * uint64_t(blockCount);
    const uint64_t indexBits = (uint64_t(blockCount) + 1 + EMD_MATCH_DISTANCES) * uint64_t(blockBits);
    if (headerSize < MIN_HEADER_SIZE || headerSize > fileSize || indexStart + 4 > headerSize ||
        indexBits > (headerSize - 4 - indexStart) * 8)
        return Broken(AT_HEADER_SIZE);

    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(size_t(headerSize) + INPUT_PADDING));
    if (buffer == nullptr) return EMD_OUT_OF_MEMORY;
    *header = buffer;
    std::memcpy(buffer, fixed, sizeof fixed);
    std::memset(buffer + headerSize, 0, INPUT_PADDING);
    const size_t rest = headerSize - EMD_FIXED_HEADER_SIZE;
    if (std::fread(buffer + EMD_FIXED_HEADER_SIZE, 1, rest, file) != rest) return EMD_READ_ERROR;
    if (EmdChecksum(buffer, headerSize - 4) != LoadBig32(buffer + headerSize - 4))
        return Broken(AT_HEADER_CHECKSUM);

    h->blockCount = blockCount;
    h->blockBits = uint8_t(blockBits);
    h->blockSize = 1u << blockBits;
    // Offsets inside a group stay below 2^16 whatever the block size.
    h->groupShift = uint8_t(16 - blockBits);
    const uint64_t groups = (uint64_t(blockCount) >> h->groupShift) + 1;
    h->groupStart = static_cast<uint64_t*>(std::malloc(groups * sizeof(uint64_t)));
    h->groupOffset = static_cast<uint16_t*>(std::malloc((uint64_t(blockCount) + 1) * sizeof(uint16_t)));
    h->blockChecksum = static_cast<uint32_t*>(std::malloc(uint64_t(blockCount) * sizeof(uint32_t)));
    if (h->groupStart == nullptr || h->groupOffset == nullptr || h->blockChecksum == nullptr)
        return EMD_OUT_OF_MEMORY;
    for (uint32_t i = 0; i < blockCount; ++i)
        h->blockChecksum[i] = LoadBig32(buffer + EMD_FIXED_HEADER_SIZE + 8 * uint64_t(i) + 4);

    BitReader r{buffer, indexStart * 8, uint64_t(headerSize - 4) * 8};
    uint64_t offset = headerSize;
    uint32_t largest = 0;
    for (uint32_t i = 0; i <= blockCount; ++i) {
        const uint32_t group = i >> h->groupShift;
        if ((i & ((1u << h->groupShift) - 1)) == 0) h->groupStart[group] = offset;
        h->groupOffset[i] = uint16_t(offset - h->groupStart[group]);
        if (i == blockCount) break;
        uint32_t size = ReadBits(r, blockBits);
        if (size == 0) size = h->blockSize;
        if (size > largest) largest = size;
        offset += size;
    }
    h->dataEnd = offset;
    h->largestBlock = largest;
    if (offset > fileSize) return Broken(AT_BLOCK_INDEX);
    const uint32_t last = ReadBits(r, blockBits);
    h->lastBlockSize = last == 0 ? h->blockSize : last;
    for (uint32_t& d : h->distance) d = ReadBits(r, blockBits);
    if (Overrun(r)) return Broken(AT_BLOCK_INDEX);

    r.position = (r.position + 7) & ~uint64_t(7);
    uint8_t lengths[EMD_MAIN_SYMBOLS];
    if (!ReadCodeLengths(r, EMD_MAIN_SYMBOLS, lengths) || Overrun(r) ||
        !BuildDecoder(lengths, EMD_MAIN_SYMBOLS, EMD_DIRECT_BITS, h->mainCode))
        return Broken(AT_CODE_LENGTHS);
    // Without a code every block must be stored.
    if (h->mainCode.symbolCount == 0)
        for (uint32_t i = 0; i < blockCount; ++i)
            if (BlockStart(*h, i + 1) - BlockStart(*h, i) != CompressedBlockLength(*h, i))
                return Broken(AT_BLOCK_INDEX);
    return 0;
}

}  // namespace

int OpenCompressedTable(std::FILE* file, CompressedTableHandle** handle) {
    if (handle == nullptr) return EMD_BAD_ARGUMENT;
    *handle = nullptr;
    if (file == nullptr) return EMD_BAD_ARGUMENT;
    auto* h = static_cast<CompressedTableHandle*>(std::calloc(1, sizeof(CompressedTableHandle)));
    if (h == nullptr) return EMD_OUT_OF_MEMORY;
    uint8_t* header = nullptr;
    const int result = ReadHeader(file, h, &header);
    std::free(header);
    if (result != 0) {
        CloseCompressedTable(h);
        return result;
    }
    *handle = h;
    return 0;
}

uint64_t CompressedTableLength(const CompressedTableHandle& handle) {
    return uint64_t(handle.blockCount - 1) * handle.blockSize + handle.lastBlockSize;
}

uint32_t CompressedBlockLength(const CompressedTableHandle& handle, uint32_t block) {
    if (block >= handle.blockCount) return 0;
    return block + 1 == handle.blockCount ? handle.lastBlockSize : handle.blockSize;
}

int DecodeTableBlock(const CompressedTableHandle& handle, std::FILE* file, uint32_t block,
                     uint8_t* destination) {
    if (file == nullptr || destination == nullptr || block >= handle.blockCount ||
        handle.blockSize > EMD_DECODE_AREA_SIZE)
        return EMD_BAD_ARGUMENT;
    const uint64_t start = BlockStart(handle, block);
    const uint32_t packed = uint32_t(BlockStart(handle, block + 1) - start);   // <= blockSize
    const uint32_t size = CompressedBlockLength(handle, block);
    if (!SeekTo(file, start) || std::fread(InputArea, 1, packed, file) != packed) return EMD_READ_ERROR;

    if (packed == size) {
        std::memcpy(destination, InputArea, size);
    } else {
        std::memset(InputArea + packed, 0, INPUT_PADDING);
        BitReader r{InputArea, 0, uint64_t(packed) * 8};
        uint32_t out = 0;
        while (out < size) {
            const int s = DecodeSymbol(r, handle.mainCode);
            if (s < 0) return Broken(AT_BLOCK_DATA);
            if (s < LITERALS) {
                destination[out++] = uint8_t(s);
            } else {
                const uint32_t distance = handle.distance[(s >> 5) - FIRST_DISTANCE_SYMBOL_GROUP];
                const int a = s & 31;
                const uint32_t length = a <= 14 ? uint32_t(a) + 1 : (1u << (a - 14)) + 14 + ReadBits(r, a - 14);
                if (distance == 0 || distance > out || length > size - out) return Broken(AT_BLOCK_DATA);
                uint8_t* to = destination + out;
                const uint8_t* from = to - distance;
                if (distance >= length) {
                    std::memcpy(to, from, length);
                } else {
                    // Overlapping: each byte may be one this match wrote, repeating the pattern.
                    for (uint32_t k = 0; k < length; ++k) to[k] = from[k];
                }
                out += length;
            }
            if (Overrun(r)) return Broken(AT_BLOCK_DATA);
        }
    }
    if (EmdChecksum(destination, size) != handle.blockChecksum[block]) return Broken(AT_BLOCK_CHECKSUM);
    return 0;
}

}  // namespace tavrix
