// Compressed tablebase files (".emd", the DATACOMP 1.0 block format): the table is cut into
// blocks, each packed on its own with LZ77 over 24 fixed match distances and one canonical
// Huffman code per file. Registration opens a file's header and block index once; a probe
// decodes one block into a cache entry. Every size read from a file is checked against the
// file and the buffers, so a malformed file answers EMD_FILE_BROKEN and never reads or
// writes out of bounds.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tavrix {

// The 64 bytes every file starts with: a 60-character banner line ending in CR LF, then
// four zero bytes (the literal's own terminator is the last of them).
inline constexpr char EMD_BANNER[] =
    "DATACOMP 1.0 compressed data - LZ77 / canonical Huffman   \r\n\0\0\0";
static_assert(sizeof(EMD_BANNER) == 64, "the banner fills the first 64 bytes");

constexpr int EMD_FIXED_HEADER_SIZE = 80;     // banner, sizes, block bits, block count, magic
constexpr int EMD_MAX_BLOCK_BITS = 16;        // what a header may declare
constexpr int EMD_BLOCK_BITS = 13;            // the block size the engine reads
constexpr uint32_t EMD_BLOCK_SIZE = 1u << EMD_BLOCK_BITS;
constexpr int EMD_MATCH_DISTANCES = 24;
constexpr int EMD_MAIN_SYMBOLS = 1024;        // 256 literals, then 24 distances x 32 lengths
constexpr int EMD_DIRECT_BITS = 13;           // main-code prefix resolved by one lookup

// The destination of DecodeTableBlock must hold this many bytes.
constexpr uint32_t EMD_DECODE_AREA_SIZE = EMD_BLOCK_SIZE;

// Error codes carry their kind in the low 8 bits (the registration message is chosen by
// kind); the bits above say which check failed, for diagnosis only.
constexpr int EMD_READ_ERROR = 2;
constexpr int EMD_OUT_OF_MEMORY = 5;
constexpr int EMD_FILE_BROKEN = 6;
constexpr int EMD_BAD_ARGUMENT = 7;
constexpr int EmdErrorKind(int code) { return code & 0xFF; }

// A canonical Huffman decoder: `direct` is indexed by the next `directBits` bits of the
// stream. A leaf entry (bit 15 clear) is symbol * 32 + code length; an entry with bit 15 set
// continues in `tree` at node (entry & 0x7FFF): tree[2 * node + bit] for the next bit.
struct HuffmanDecoder {
    static constexpr uint16_t NODE = 0x8000;
    uint16_t direct[1u << EMD_DIRECT_BITS];
    uint16_t tree[2 * EMD_MAIN_SYMBOLS];
    uint16_t symbolCount;                     // symbols with a code; 0 = empty code
    uint8_t directBits;
};

// One registered compressed file (or extent). Built by OpenCompressedTable, read-only after.
struct CompressedTableHandle {
    uint32_t blockCount;
    uint32_t blockSize;                       // 2^blockBits
    uint32_t lastBlockSize;                   // uncompressed bytes of the last block
    uint32_t largestBlock;                    // largest compressed block, bytes
    uint8_t blockBits;
    uint8_t groupShift;                       // blocks per offset group = 2^groupShift
    uint32_t distance[EMD_MATCH_DISTANCES];
    uint64_t dataEnd;                         // file offset one past the last block
    // Block i starts at groupStart[i >> groupShift] + groupOffset[i]; entry blockCount of
    // both arrays marks the end of the last block.
    uint64_t* groupStart;
    uint16_t* groupOffset;
    uint32_t* blockChecksum;                  // checksum of each block's uncompressed data
    HuffmanDecoder mainCode;
};

// Reads and checks the header and block index of an open file (read from its start).
// Returns 0 with *handle set, or an error code with *handle null and nothing kept.
int OpenCompressedTable(std::FILE* file, CompressedTableHandle** handle);
// Frees a handle from OpenCompressedTable; null is allowed.
void CloseCompressedTable(CompressedTableHandle* handle);

// Uncompressed bytes of the whole table, and of one block (0 for a block past the end).
uint64_t CompressedTableLength(const CompressedTableHandle& handle);
uint32_t CompressedBlockLength(const CompressedTableHandle& handle, uint32_t block);

// Decodes block `block` of the table into destination (EMD_DECODE_AREA_SIZE bytes) and
// checks it against its stored checksum. Returns 0 or an error code. Allocates nothing:
// the compressed bytes pass through one process-wide input area.
int DecodeTableBlock(const CompressedTableHandle& handle, std::FILE* file, uint32_t block,
                     uint8_t* destination);

// The table checksum of the format (header and blocks): a CRC-32 table with the reversed
// feedback rule, started at 0, without a final inversion.
uint32_t EmdChecksum(const uint8_t* data, uint64_t length, uint32_t sum = 0);

}  // namespace tavrix
