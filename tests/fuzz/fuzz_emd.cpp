// libFuzzer harness for the compressed table reader: the input is a whole ".emd" file.
// When the first byte is odd the header checksum is recomputed first, so that mutations
// reach the block index, the code-length stream and the blocks.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tablebase/compressed.h"

using namespace tavrix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 2) return 0;
    std::vector<uint8_t> file(input + 1, input + size);
    if ((input[0] & 1) != 0 && file.size() >= 68) {
        const uint32_t headerSize = uint32_t(file[64]) << 24 | file[65] << 16 | file[66] << 8 | file[67];
        if (headerSize >= 4 && headerSize <= file.size()) {
            const uint32_t sum = EmdChecksum(file.data(), headerSize - 4);
            for (int i = 0; i < 4; ++i) file[headerSize - 4 + i] = uint8_t(sum >> (24 - 8 * i));
        }
    }
    std::FILE* stream = fmemopen(file.data(), file.size(), "rb");
    if (stream == nullptr) return 0;
    CompressedTableHandle* handle = nullptr;
    if (OpenCompressedTable(stream, &handle) == 0) {
        static uint8_t block[EMD_DECODE_AREA_SIZE];
        constexpr uint32_t MAX_BLOCKS = 64;   // keeps each input fast
        for (uint32_t b = 0; b < handle->blockCount && b < MAX_BLOCKS; ++b) DecodeTableBlock(*handle, stream, b, block);
        CloseCompressedTable(handle);
    }
    std::fclose(stream);
    return 0;
}
