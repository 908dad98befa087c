// Compression ratio and decode speed of the compressed table format.
//   emd_bench FILE...   plain tables (.nbw/.nbb or any file), encoded in memory
//   emd_bench           a few synthetic tables
// Decode speed is counted in uncompressed bytes per second of processor time (the machine
// may be shared), every block in order, then in random order.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tablebase/compressed.h"
#include "tbgen/emd_encoder.h"

namespace {

using namespace tavrix;
double CpuSeconds(std::clock_t since) { return double(std::clock() - since) / CLOCKS_PER_SEC; }

// MB/s decoding every block of the file `passes` times, in order or shuffled.
double DecodeSpeed(CompressedTableHandle& h, std::FILE* file, bool shuffled, bool& ok) {
    std::vector<uint32_t> order(h.blockCount);
    for (uint32_t i = 0; i < h.blockCount; ++i) order[i] = i;
    if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(1));
    uint8_t block[EMD_DECODE_AREA_SIZE];
    uint64_t bytes = 0;
    const std::clock_t start = std::clock();
    do {
        for (uint32_t b : order) {
            ok = ok && DecodeTableBlock(h, file, b, block) == 0;
            bytes += CompressedBlockLength(h, b);
        }
    } while (CpuSeconds(start) < 0.5);
    return double(bytes) / 1e6 / CpuSeconds(start);
}

void Measure(const std::string& name, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> encoded;
    EmdLayout layout{};
    const std::clock_t encodeStart = std::clock();
    EncodeCompressedTable(data.data(), data.size(), encoded, &layout);
    const double encodeSeconds = CpuSeconds(encodeStart);
    std::FILE* file = fmemopen(encoded.data(), encoded.size(), "rb");
    CompressedTableHandle* h = nullptr;
    if (file == nullptr || OpenCompressedTable(file, &h) != 0) {
        std::printf("%-24s cannot read back\n", name.c_str());
        return;
    }
    bool ok = true;
    const double inOrder = DecodeSpeed(*h, file, false, ok);
    const double shuffled = DecodeSpeed(*h, file, true, ok);
    std::printf("%-24s %10zu -> %10zu bytes  %6.2f%%  blocks %6u stored %5u  encode %6.1f MB/s  decode %7.1f MB/s (random order %7.1f)%s\n",
                name.c_str(), data.size(), encoded.size(), 100.0 * double(encoded.size()) / double(data.size()),
                layout.blockCount, layout.storedBlocks, double(data.size()) / 1e6 / encodeSeconds, inOrder, shuffled,
                ok ? "" : "  DECODE FAILED");
    CloseCompressedTable(h);
    std::fclose(file);
}

std::vector<uint8_t> Synthetic(int kind, size_t n) {
    std::mt19937 rng(uint32_t(kind + 1));
    std::vector<uint8_t> d(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t r = rng();
        switch (kind) {
        case 0: d[i] = uint8_t(r); break;                                              // noise
        case 1: d[i] = r % 3 == 0 ? 0 : uint8_t(r % 5 == 0 ? (r >> 8) % 60 : (r >> 8) % 4); break;
        default: d[i] = r % 16 == 0 ? uint8_t((r >> 8) % 40) : uint8_t((i % 62) / 5); break;   // periodic
        }
    }
    return d;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        const char* names[] = {"synthetic noise", "synthetic skewed", "synthetic periodic"};
        for (int k = 0; k < 3; ++k) Measure(names[k], Synthetic(k, 4u << 20));
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        std::FILE* f = std::fopen(argv[i], "rb");
        if (f == nullptr) {
            std::printf("%s: cannot open\n", argv[i]);
            continue;
        }
        std::vector<uint8_t> data;
        uint8_t buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.insert(data.end(), buffer, buffer + n);
        std::fclose(f);
        std::string name = argv[i];
        if (name.size() > 24) name = name.substr(name.size() - 24);
        if (data.empty()) std::printf("%s: empty\n", argv[i]);
        else Measure(name, data);
    }
    return 0;
}
