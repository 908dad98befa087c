// Reader of compressed tablebase files.
#include "tablebase/compressed.h"

namespace tavrix {

int OpenCompressedTable(std::FILE*, CompressedTableHandle** handle) {
    *handle = nullptr;
    return EMD_BAD_ARGUMENT;
}

void CloseCompressedTable(CompressedTableHandle*) {}

uint64_t CompressedTableLength(const CompressedTableHandle& handle) {
    return uint64_t(handle.blockCount - 1) * handle.blockSize + handle.lastBlockSize;
}

uint32_t CompressedBlockLength(const CompressedTableHandle& handle, uint32_t block) {
    if (block >= handle.blockCount) return 0;
    return block + 1 == handle.blockCount ? handle.lastBlockSize : handle.blockSize;
}

int DecodeTableBlock(const CompressedTableHandle&, std::FILE*, uint32_t, uint8_t*) { return EMD_BAD_ARGUMENT; }

uint32_t EmdChecksum(const uint8_t*, uint64_t, uint32_t sum) { return sum; }

}  // namespace tavrix
