// Search speed: nodes per second of the engine's own root search ("bench" runs the same)
// over a fixed set of positions at a fixed depth, each searched from an emptied table.
// Usage: search_bench [depth]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "support/engine_reset.h"

using namespace tavrix;

namespace {

constexpr int32_t DEFAULT_DEPTH = 8;
constexpr int32_t BENCH_HASH_KB = 16384;

}  // namespace

int main(int argc, char** argv) {
    const int32_t depth = argc > 1 ? std::atoi(argv[1]) : DEFAULT_DEPTH;
    if (!testing_support::ResetEngine(BENCH_HASH_KB)) return 1;
    uint64_t totalNodes = 0;
    double totalSeconds = 0;
    std::printf("%-4s %10s %9s %8s %6s  %s\n", "#", "nodes", "ms", "knps", "score", "fen");
    int index = 0;
    for (const char* fen : BENCH_POSITIONS) {
        ++index;
        if (ReadFen(fen) != 1) continue;
        RootClearTableFully();
        ClearEvalCache();
        const auto start = std::chrono::steady_clock::now();
        const uint64_t nodes = SearchFixedDepth(depth);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (Root.list.count == 0) continue;
        totalNodes += nodes;
        totalSeconds += seconds;
        std::printf("%-4d %10llu %9.1f %8.0f %6d  %s\n", index, static_cast<unsigned long long>(nodes), seconds * 1000,
                    nodes / seconds / 1000, Root.list.entries[0].score, fen);
    }
    std::printf("depth %d: %llu nodes in %.2f s, %.0f nodes per second\n", depth,
                static_cast<unsigned long long>(totalNodes), totalSeconds, totalNodes / totalSeconds);
    FreeHashTable();
    return 0;
}
