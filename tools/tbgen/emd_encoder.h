// Writer of compressed tablebase files (".emd"), the format engine/tablebase/compressed.h
// reads: 8192-byte blocks, LZ77 over 24 match distances chosen for the data, one canonical
// Huffman code per file, and blocks that do not shrink stored as they are.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrix {

// Where the parts of an encoded file lie (for tools and tests that look inside).
struct EmdLayout {
    uint64_t headerSize;
    uint64_t blockIndexByte;      // first byte of the bit-packed block sizes
    uint64_t codeLengthsByte;     // first byte of the main code-length stream
    uint32_t blockCount;
    uint32_t storedBlocks;
    uint32_t mainCodeSymbols;     // symbols with a code; 0 = empty code
    uint32_t longestCode;         // bits of the main code's longest code
};

// Encodes `length` bytes (at least one) into `out`; false only for an empty table.
bool EncodeCompressedTable(const uint8_t* data, uint64_t length, std::vector<uint8_t>& out,
                           EmdLayout* layout = nullptr);

// Appends the code-length stream of `n` lengths (0..31 each), byte-aligned, as a header
// stores its main code; tests use it to build headers with codes of their own.
void AppendCodeLengths(std::vector<uint8_t>& out, const uint8_t* lengths, int n);

// Encodes and writes the file; false when the table is empty or the file cannot be written.
bool WriteCompressedTable(const char* path, const uint8_t* data, uint64_t length);

}  // namespace tavrix
